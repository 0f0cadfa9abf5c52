#include "zel/chem/fcidump.hpp"

#include <bit>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "chem_support.hpp"

namespace zel::chem {
namespace {

constexpr const char* H2_HEADER = "&FCI NORB=2,NELEC=2,MS2=0,\n ORBSYM=1,1,\n ISYM=1,\n&END\n";

struct Refused {
    const char* name;
    std::string text;
    std::string message;  // what() of the FcidumpError, source "t.fcidump"
};

TEST(Fcidump, RefusesBadFilesNamingLineAndReason) {
    const std::string h = H2_HEADER;  // body starts on line 5
    const std::vector<Refused> cases = {
        {"empty", "", "t.fcidump: missing header '&FCI'"},
        {"no header", "0.5 1 1 1 1\n", "t.fcidump:1: expected the header '&FCI', found '0.5'"},
        {"header not closed", "&FCI NORB=2,NELEC=2,\n",
         "t.fcidump:1: header not closed by '&END' or '/'"},
        {"missing NORB", "&FCI NELEC=2 /\n", "t.fcidump:1: missing header field NORB"},
        {"missing NELEC", "&FCI NORB=2 /\n", "t.fcidump:1: missing header field NELEC"},
        {"NORB zero", "&FCI NORB=0,NELEC=0 /\n", "t.fcidump:1: NORB=0 out of range (1 to 64)"},
        {"NORB huge", "&FCI NORB=100000,NELEC=0 /\n",
         "t.fcidump:1: NORB=100000 out of range (1 to 64)"},
        {"NORB not a number", "&FCI NORB=two,NELEC=2 /\n",
         "t.fcidump:1: NORB: expected an integer, found 'two'"},
        {"field twice", "&FCI NORB=2,NORB=2,NELEC=2 /\n", "t.fcidump:1: field NORB given twice"},
        {"unknown field", "&FCI NORB=2,NELEC=2,FOO=1 /\n",
         "t.fcidump:1: unknown header field 'FOO'"},
        {"NELEC beyond orbitals", "&FCI NORB=2,NELEC=5 /\n",
         "t.fcidump:1: NELEC=5 beyond what NORB=2 orbitals hold (4)"},
        {"negative NELEC", "&FCI NORB=2,NELEC=-1 /\n", "t.fcidump:1: NELEC=-1 is negative"},
        {"MS2 parity", "&FCI NORB=2,NELEC=2,MS2=1 /\n",
         "t.fcidump:1: MS2=1 impossible with NELEC=2 in NORB=2 orbitals"},
        {"MS2 beyond orbitals", "&FCI NORB=2,NELEC=4,MS2=2 /\n",
         "t.fcidump:1: MS2=2 impossible with NELEC=4 in NORB=2 orbitals"},
        {"ORBSYM length", "&FCI NORB=2,NELEC=2,\n ORBSYM=1,1,1,\n /\n",
         "t.fcidump:2: ORBSYM has 3 entries, NORB=2"},
        {"UHF", "&FCI NORB=2,NELEC=2,UHF=.TRUE. /\n",
         "t.fcidump:1: unrestricted (UHF) integrals are not supported; write restricted "
         "integrals"},
        {"UHF=1", "&FCI NORB=2,NELEC=2,\n UHF=1,\n&END\n",
         "t.fcidump:2: unrestricted (UHF) integrals are not supported; write restricted "
         "integrals"},
        {"index beyond NORB", h + "0.5 1 1 3 1\n", "t.fcidump:5: index 3 beyond NORB=2"},
        {"negative index", h + "0.5 1 -1 1 1\n", "t.fcidump:5: negative index -1"},
        {"index not integer", h + "0.5 1 1.0 1 1\n", "t.fcidump:5: index is not an integer: '1.0'"},
        {"value not a number", h + "\n0.5x 1 1 1 1\n", "t.fcidump:6: not a number: '0.5x'"},
        {"NaN", h + "nan 1 1 1 1\n", "t.fcidump:5: value 'nan' is not finite"},
        {"infinity", h + "1e400 1 1 1 1\n", "t.fcidump:5: value '1e400' is not finite"},
        {"line cut short", h + "0.5 1 1 1 1\n0.25 1 1\n",
         "t.fcidump:6: line cut short: expected 'value i j k l', found 3 fields"},
        {"extra field", h + "0.5 1 1 1 1 1\n",
         "t.fcidump:5: more than five fields (value i j k l)"},
        {"bad pattern", h + "0.5 1 0 1 0\n",
         "t.fcidump:5: index pattern 1 0 1 0 is none of 'i j k l', 'i j 0 0', 'i 0 0 0', "
         "'0 0 0 0'"},
        {"contradicting symmetric duplicate", h + "0.5 2 1 1 1\n0.5000001 1 1 1 2\n",
         "t.fcidump:6: value 0.5000001 contradicts 0.5 given for the same integral on line 5"},
        {"contradicting constant", h + "0.7 0 0 0 0\n0.8 0 0 0 0\n",
         "t.fcidump:6: value 0.8 contradicts 0.7 given for the same integral on line 5"},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            parse_fcidump(c.text, "t.fcidump");
            ADD_FAILURE() << "accepted";
        } catch (const FcidumpError& error) {
            EXPECT_EQ(error.what(), c.message);
            EXPECT_EQ(error.source(), "t.fcidump");
        }
    }
}

TEST(Fcidump, AcceptsTheLayoutsWritersUse) {
    struct Accepted {
        const char* name;
        std::string text;
    };
    const std::string body =
        "0.5D0 1 1 1 1\n 2.5d-1 2 1 1 1\n2.5E-1 1 2 1 1\n\n-1.25 2 2 0 0\n"
        "-0.75 1 0 0 0\n0.125 0 0 0 0\n";
    const std::vector<Accepted> cases = {
        {"one line, slash", "&FCI NORB=2,NELEC=2,MS2=0,ORBSYM=1,1,ISYM=1 /\n" + body},
        {"several lines, &END", std::string(H2_HEADER) + body},
        {"blanks, lower case, psi4's UHF",
         " &fci norb = 2 nelec = 2\n  uhf=.FALSE.\n  &end\n" + body},
        {"terminator on the last field's line", "&FCI NORB=2,NELEC=2,ISYM=1,/\n" + body},
    };
    for (const Accepted& c : cases) {
        SCOPED_TRACE(c.name);
        const Fcidump data = parse_fcidump(c.text);
        EXPECT_EQ(data.integrals.num_orbitals(), 2u);
        EXPECT_EQ(data.num_electrons, 2u);
        EXPECT_EQ(data.sector(), (Sector{1, 1}));
        EXPECT_EQ(data.orbsym, (std::vector<std::int64_t>{1, 1}));
        // (21|11) listed twice in symmetric forms with equal values; all eight partners filled.
        EXPECT_EQ(data.integrals.two_body(0, 0, 0, 0), 0.5);
        for (const auto& idx : std::vector<std::array<std::size_t, 4>>{
                 {1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}) {
            EXPECT_EQ(data.integrals.two_body(idx[0], idx[1], idx[2], idx[3]), 0.25);
        }
        EXPECT_EQ(data.integrals.two_body(1, 1, 1, 1), 0.0);
        EXPECT_EQ(data.integrals.one_body(1, 1), -1.25);
        EXPECT_EQ(data.integrals.one_body(0, 1), 0.0);
        EXPECT_EQ(data.integrals.constant(), 0.125);
        ASSERT_EQ(data.orbital_energies.size(), 2u);
        EXPECT_EQ(data.orbital_energies[0], -0.75);
        EXPECT_FALSE(data.orbital_energies[1].has_value());
    }
}

TEST(Fcidump, DuplicatesWithinRoundingAreAccepted) {
    const Fcidump data =
        parse_fcidump(std::string(H2_HEADER) + "0.5 2 1 1 1\n0.50000000000001 1 1 1 2\n");
    EXPECT_EQ(data.integrals.two_body(0, 0, 0, 1), 0.5);  // the first line's value
}

bool same_bits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

TEST(Fcidump, WritingThenReadingGivesTheSameIntegralsBitForBit) {
    Fcidump data;
    data.integrals = test::random_integrals(4, 7);
    data.integrals.set_constant(1.0 / 3.0);
    data.integrals.set_one_body(0, 3, -0.0);
    data.num_electrons = 4;
    data.ms2 = 2;
    data.orbsym = {1, 3, 2, 1};
    data.isym = 3;
    data.orbital_energies = {-0.5, std::nullopt, 1e-300, 0.1};
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / "zel_chem_round_trip.fcidump";
    write_fcidump(data, path);
    const Fcidump back = read_fcidump(path);
    std::filesystem::remove(path);
    EXPECT_EQ(back, data);
    const auto a = data.integrals.two_body_tensor();
    const auto b = back.integrals.two_body_tensor();
    for (std::size_t k = 0; k < a.size(); ++k) {
        ASSERT_TRUE(same_bits(a[k], b[k])) << k;
    }
    EXPECT_TRUE(same_bits(back.integrals.one_body(3, 0), -0.0));
    EXPECT_EQ(fcidump_text(back), fcidump_text(data));
}

TEST(Fcidump, ReadsPsi4FilesAndNamesMissingOnes) {
    const Fcidump h2 = read_fcidump(test::data_dir() + "/h2_0.735.fcidump");
    EXPECT_EQ(h2.integrals.constant(), test::reference_value("h2_0.735", "nuclear_repulsion"));
    const std::string missing = test::data_dir() + "/no_such.fcidump";
    const std::string folder = test::data_dir();
    for (const auto& [path, message] : std::vector<std::pair<std::string, std::string>>{
             {missing, missing + ": cannot open: No such file or directory"},
             {folder, folder + ": cannot read: is a directory"}}) {
        try {
            read_fcidump(path);
            ADD_FAILURE() << path;
        } catch (const FcidumpError& error) {
            EXPECT_EQ(error.line(), 0u);
            EXPECT_EQ(error.what(), message);
        }
    }
}

TEST(Fcidump, ReadsTenMegabytesOfDuplicatedLines) {
    // A large input: every integral of 24 orbitals listed in all eight orders (about 10 MB);
    // the reader checks each duplicate against the first.
    Fcidump data;
    data.integrals = test::random_integrals(24, 3);
    data.num_electrons = 10;
    std::string text = "&FCI NORB=24,NELEC=10 /\n";
    char line[96];
    for (std::size_t p = 0; p < 24; ++p) {
        for (std::size_t q = 0; q < 24; ++q) {
            for (std::size_t r = 0; r < 24; ++r) {
                for (std::size_t s = 0; s < 24; ++s) {
                    std::snprintf(line, sizeof line, "%.17g %zu %zu %zu %zu\n",
                                  data.integrals.two_body(p, q, r, s), p + 1, q + 1, r + 1, s + 1);
                    text += line;
                }
            }
        }
    }
    EXPECT_GT(text.size(), 8'000'000u);
    const Fcidump back = parse_fcidump(text);
    EXPECT_EQ(back.integrals.two_body_tensor(), data.integrals.two_body_tensor());
}

TEST(Fcidump, ActiveSpaceRefusesWhatDoesNotFit) {
    Fcidump data;
    data.integrals = test::random_integrals(4, 1);
    data.num_electrons = 4;
    data.orbsym.assign(4, 1);
    data.orbital_energies.assign(4, std::nullopt);
    EXPECT_THROW(active_space(data, 5, 2), InvalidArgument);
    EXPECT_THROW(active_space(data, 3, 2), InvalidArgument);
    EXPECT_THROW(active_space(data, 2, 4), InvalidArgument);
    EXPECT_THROW(active_space(data, 2, 0), InvalidArgument);
    const Fcidump active = active_space(data, 2, 2);
    EXPECT_EQ(active.integrals.num_orbitals(), 2u);
    EXPECT_EQ(active.num_electrons, 2u);
}

}  // namespace
}  // namespace zel::chem

// The export and the import are inverse: random circuits of all fourteen kinds, with angles of
// every kind of double, read back gate for gate and bit for bit; the exported text is a fixed
// point; and the whole-number form the exporter wrote before ("rx(1)", "rz(-0)") still reads.

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/compiler/qasm.hpp"
#include "zel/core/circuit.hpp"
#include "zel/core/float_text.hpp"

namespace zel {
namespace {

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();

// Circuits per property and the most operations one holds.
constexpr int CIRCUITS = 400;
constexpr std::uint64_t MAX_OPERATIONS = 40;

std::uint64_t bits(double value) {
    return std::bit_cast<std::uint64_t>(value);
}

// Angles that sit on the edges of the text form: zeros of both signs, whole numbers on both
// sides of 2^53 and 2^63, the extremes of the range, and non-finite values (NaNs with sign and
// payload too: the export writes every NaN as "NaN").
const std::vector<double> SPECIAL_ANGLES = {
    0.0,
    -0.0,
    1.0,
    -1.0,
    -7.0,
    0.5,
    0.1,
    std::numbers::pi,
    -std::numbers::pi / 2,
    0x1p52 + 0.5,
    0x1p53 - 1,
    0x1p53,
    0x1p53 + 2,
    0x1p63,
    -0x1p63,
    0x1p64,
    1e23,
    -1e300,
    std::numeric_limits<double>::max(),
    -std::numeric_limits<double>::max(),
    std::numeric_limits<double>::min(),
    std::numeric_limits<double>::denorm_min(),
    -std::numeric_limits<double>::denorm_min(),
    INF,
    -INF,
    NOT_A_NUMBER,
    -NOT_A_NUMBER,
    std::bit_cast<double>(std::uint64_t{0x7ff0000000000001}),  // signalling NaN
    std::bit_cast<double>(std::uint64_t{0xfff8000000abcdef}),  // negative NaN with a payload
};

class AngleSource {
  public:
    explicit AngleSource(std::uint64_t seed) : rng_(seed) {
    }

    std::uint64_t next() {
        return rng_();
    }

    // Any double: every bit pattern, whole numbers small and huge, tiny magnitudes, plain
    // fractions and the special angles, each about as often.
    double angle() {
        const std::uint64_t r = rng_();
        const auto mantissa = static_cast<double>(r >> 11);  // 53 random bits
        const auto signed_by = [&](double value) {
            return (r & 1) != 0 ? -value : value;
        };
        switch (rng_() % 6) {
            case 0:
                return std::bit_cast<double>(rng_());
            case 1:
                return static_cast<double>(static_cast<std::int64_t>(rng_()) >> (rng_() % 64));
            case 2:
                return signed_by(std::ldexp(mantissa, static_cast<int>(rng_() % 972)));
            case 3:
                return signed_by(std::ldexp(mantissa, -1074 - 52 + static_cast<int>(rng_() % 200)));
            case 4:
                return signed_by(std::ldexp(mantissa, -53) * 20.0);
            default:
                return SPECIAL_ANGLES[rng_() % SPECIAL_ANGLES.size()];
        }
    }

    // A register size: small, medium, or near the top of the 64-bit range.
    std::uint64_t register_size() {
        switch (rng_() % 3) {
            case 0:
                return 1 + rng_() % 8;
            case 1:
                return 2 + rng_() % 1000;
            default:
                return std::numeric_limits<std::uint64_t>::max() - rng_() % 4;
        }
    }

  private:
    std::mt19937_64 rng_;
};

// A circuit the way the search builds one: add_gate with valid, distinct qubit indexes.
ZarnikGraph random_circuit(AngleSource& source) {
    ZarnikGraph circuit(source.register_size());
    const std::uint64_t n = circuit.num_qubits;
    const std::uint64_t count = source.next() % (MAX_OPERATIONS + 1);
    for (std::uint64_t k = 0; k < count; ++k) {
        const GateInfo& info = GATE_TABLE[source.next() % ORIGINAL_KIND_COUNT];
        if (info.arity == 2 && n < 2) {
            continue;
        }
        std::vector<std::uint64_t> qubits = {source.next() % n};
        if (info.arity == 2) {
            // A second qubit other than the first: an offset of 1 .. n - 1 modulo n.
            qubits.push_back((qubits[0] + 1 + source.next() % (n - 1)) % n);
        }
        const GateType gate =
            info.has_angle ? GateType{info.kind, source.angle()} : GateType::of(info.kind);
        circuit.add_gate(gate, std::move(qubits));
    }
    return circuit;
}

// A read angle equals the written one bit for bit; for a NaN, it is the one quiet NaN the
// reader gives every NaN, since the text "NaN" carries neither sign nor payload.
bool same_angle(double read, double written) {
    return std::isnan(written) ? bits(read) == bits(NOT_A_NUMBER) : bits(read) == bits(written);
}

::testing::AssertionResult reads_back(const ZarnikGraph& read, const ZarnikGraph& written) {
    if (read.num_qubits != written.num_qubits || read.gate_count() != written.gate_count()) {
        return ::testing::AssertionFailure()
               << read.num_qubits << " qubits, " << read.gate_count() << " gates; expected "
               << written.num_qubits << ", " << written.gate_count();
    }
    for (std::size_t k = 0; k < read.operations.size(); ++k) {
        const Operation& a = read.operations[k];
        const Operation& b = written.operations[k];
        bool same = a.gate.kind == b.gate.kind && same_angle(a.gate.angle, b.gate.angle) &&
                    a.qubits == b.qubits && a.params.size() == b.params.size();
        for (std::size_t p = 0; same && p < a.params.size(); ++p) {
            same = same_angle(a.params[p], b.params[p]);
        }
        if (!same) {
            return ::testing::AssertionFailure()
                   << "operation " << k << ": read " << debug_text(a.gate) << std::hexfloat << " ("
                   << a.gate.angle << "), written " << debug_text(b.gate) << " (" << b.gate.angle
                   << ")";
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(QasmRoundTrip, ImportOfTheExportIsTheCircuit) {
    AngleSource source(20240611);
    for (int c = 0; c < CIRCUITS; ++c) {
        const ZarnikGraph circuit = random_circuit(source);
        const std::string text = to_open_qasm(circuit);
        SCOPED_TRACE(text);
        const ZarnikGraph read = from_open_qasm(text);
        ASSERT_TRUE(reads_back(read, circuit));
        // The read circuit exports to the same text: whatever the export writes is a fixed point.
        EXPECT_EQ(to_open_qasm(read), text);
    }
}

// Every angle of the generator, alone in a rotation of each kind, so that failures name it.
TEST(QasmRoundTrip, EveryKindOfAngleReadsBack) {
    AngleSource source(7);
    std::vector<double> angles = SPECIAL_ANGLES;
    for (int k = 0; k < 2000; ++k) {
        angles.push_back(source.angle());
    }
    for (const double angle : angles) {
        for (const GateType gate :
             {GateType::rx(angle), GateType::ry(angle), GateType::rz(angle)}) {
            ZarnikGraph circuit(1);
            circuit.add_gate(gate, {0});
            const ZarnikGraph read = from_open_qasm(to_open_qasm(circuit));
            ASSERT_TRUE(reads_back(read, circuit)) << to_open_qasm(circuit);
        }
    }
}

// Before whole numbers got ".0", the export wrote them as integer literals ("1", "-0",
// "100000000000000000000000"); texts in that form read as the same angles.
TEST(QasmRoundTrip, TheOldWholeNumberFormReadsBack) {
    AngleSource source(11);
    std::vector<double> whole;
    for (const double angle : SPECIAL_ANGLES) {
        if (std::isfinite(angle) && angle == std::trunc(angle)) {
            whole.push_back(angle);
        }
    }
    while (whole.size() < 2000) {
        const double angle = source.angle();
        if (std::isfinite(angle) && angle == std::trunc(angle)) {
            whole.push_back(angle);
        }
    }
    for (const double angle : whole) {
        const std::string old_text = format_float_plain(angle);
        ASSERT_EQ(old_text.find('.'), std::string::npos) << old_text;
        const ZarnikGraph read = from_open_qasm(
            "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[1] q;\nbit[1] c;\n\nrz(" + old_text +
            ") q[0];\n");
        ASSERT_EQ(read.gate_count(), 1u);
        EXPECT_EQ(bits(read.operations[0].gate.angle), bits(angle)) << old_text;
    }
}

}  // namespace
}  // namespace zel

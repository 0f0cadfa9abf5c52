// Replays the OpenQASM reader's fuzz corpus through the fuzzer's own checks, without libFuzzer.
// Seeds named reject_* are programs the reader must refuse, all others programs it must read.

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/compiler/qasm.hpp"
#include "zel/core/error.hpp"

#include "qasm_fuzz_case.hpp"

namespace {

struct Seed {
    std::string name;
    std::filesystem::path path;
};

// Test names and failure reports name the file rather than dumping its bytes.
void PrintTo(const Seed& seed, std::ostream* os) {
    *os << seed.path.filename().string();
}

std::vector<Seed> seeds() {
    std::vector<Seed> found;
    for (const auto& entry : std::filesystem::directory_iterator(QASM_CORPUS_DIR)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name.front() != '.') {
            found.push_back({name, entry.path()});
        }
    }
    std::sort(found.begin(), found.end(), [](const Seed& a, const Seed& b) {
        return a.name < b.name;
    });
    return found;
}

std::string read_text(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

class QasmCorpusReplay : public ::testing::TestWithParam<Seed> {};

TEST_P(QasmCorpusReplay, KeepsEveryPromise) {
    const std::string text = read_text(GetParam().path);
    EXPECT_EQ(zel::qasm_fuzz::check_program(text), "");
    const bool rejected = GetParam().name.starts_with("reject_");
    try {
        static_cast<void>(zel::read_open_qasm(text));
        EXPECT_FALSE(rejected) << "read, but the seed's name says it must be refused";
    } catch (const zel::ParseError& error) {
        EXPECT_TRUE(rejected) << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, QasmCorpusReplay, ::testing::ValuesIn(seeds()),
                         [](const ::testing::TestParamInfo<Seed>& info) {
                             // Test names allow letters, digits and '_' only ("crash-1a2b").
                             std::string name = info.param.name;
                             std::replace_if(
                                 name.begin(), name.end(),
                                 [](unsigned char c) {
                                     return std::isalnum(c) == 0;
                                 },
                                 '_');
                             return name;
                         });

}  // namespace

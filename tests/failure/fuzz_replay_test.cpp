// Replays the fuzzer's seed corpus and every crash reproducer kept under fuzz/regressions/
// through the fuzzer's own decoder and checks, without libFuzzer. Inputs predicted to throw must
// throw exactly the predicted report at the predicted step; the stages before it, and whole runs
// of the others, must keep every promise the fuzzer checks.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fuzz_case.hpp"

namespace {

struct Input {
    std::string name;
    std::filesystem::path path;
};

// Failure reports and test lists name the file rather than dumping the parameter's bytes.
void PrintTo(const Input& input, std::ostream* os) {
    *os << input.path.parent_path().filename().string() << "/" << input.path.filename().string();
}

std::vector<Input> inputs() {
    std::vector<Input> found;
    for (const char* folder : {FUZZ_CORPUS_DIR, FUZZ_REGRESSIONS_DIR}) {
        const std::filesystem::path dir(folder);
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            if (!entry.is_regular_file() || entry.path().filename().string().front() == '.') {
                continue;
            }
            std::string name = dir.filename().string() + "_" + entry.path().filename().string();
            std::replace_if(
                name.begin(), name.end(),
                [](unsigned char ch) {
                    return std::isalnum(ch) == 0;
                },
                '_');
            found.push_back({name, entry.path()});
        }
    }
    std::sort(found.begin(), found.end(), [](const Input& a, const Input& b) {
        return a.name < b.name;
    });
    return found;
}

std::vector<std::uint8_t> read_bytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

class FuzzReplayTest : public ::testing::TestWithParam<Input> {};

TEST_P(FuzzReplayTest, KeepsEveryPromise) {
    const std::vector<std::uint8_t> bytes = read_bytes(GetParam().path);
    const zel::fuzz::Case c = zel::fuzz::decode(bytes);
    EXPECT_EQ(zel::fuzz::run_checked(c, zel::fuzz::predict_stop(c)), "");
}

INSTANTIATE_TEST_SUITE_P(Inputs, FuzzReplayTest, ::testing::ValuesIn(inputs()),
                         [](const ::testing::TestParamInfo<Input>& info) {
                             return info.param.name;
                         });

}  // namespace

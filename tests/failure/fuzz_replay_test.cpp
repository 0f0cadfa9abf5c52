// Replays the fuzzer's seed corpus and every crash reproducer kept under fuzz/regressions/
// through the fuzzer's own decoder and checks, without libFuzzer. Inputs predicted to stop the
// process are confirmed in a death test with the predicted message; the stages before the stop,
// and whole runs of the others, must keep every promise the fuzzer checks.

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

#include "zel/core/fatal.hpp"

#include "fuzz_case.hpp"
#include "support/reference.hpp"

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
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::vector<std::uint8_t> bytes = read_bytes(GetParam().path);
    const zel::fuzz::Case c = zel::fuzz::decode(bytes);
    const std::optional<zel::fuzz::Stop> stop = zel::fuzz::predict_stop(c);
    EXPECT_EQ(zel::fuzz::run_checked(c, stop), "");
    if (stop) {
        EXPECT_EXIT(zel::fuzz::run_all(c), ::testing::ExitedWithCode(zel::FATAL_EXIT_STATUS),
                    zel::test::exact_line(stop->message));
    }
}

INSTANTIATE_TEST_SUITE_P(Inputs, FuzzReplayTest, ::testing::ValuesIn(inputs()),
                         [](const ::testing::TestParamInfo<Input>& info) {
                             return info.param.name;
                         });

}  // namespace

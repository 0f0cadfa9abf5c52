// Replays the FCIDUMP fuzzer's seed corpus (fuzz/fcidump_corpus/) through the same checks the
// fuzz target makes, so the promises hold in every build, not only under libFuzzer.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "fcidump_fuzz_case.hpp"

namespace {

TEST(FcidumpCorpus, EveryInputKeepsTheReadersPromises) {
    std::size_t inputs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(FCIDUMP_CORPUS_DIR)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        EXPECT_EQ(zel::fcidump_fuzz::check_text(text), "") << entry.path();
        ++inputs;
    }
    EXPECT_GE(inputs, 5u);
}

}  // namespace

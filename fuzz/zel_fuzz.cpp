// libFuzzer entry: decodes the input into a register size, a circuit and a Pauli sum
// (fuzz_case.hpp), runs everything that must return, and crashes on any broken promise.
// Inputs whose preconditions fail are predicted, and the failing step must throw exactly the
// predicted report without changing the state.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "fuzz_case.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const zel::fuzz::Case c = zel::fuzz::decode(std::span<const std::uint8_t>(data, size));
    const std::string problem = zel::fuzz::run_checked(c, zel::fuzz::predict_stop(c));
    if (!problem.empty()) {
        std::fprintf(stderr, "zel_fuzz: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}

// libFuzzer entry for the FCIDUMP reader: the input bytes are the file's text. Any broken
// promise of fcidump_fuzz_case.hpp ends the run with its description.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fcidump_fuzz_case.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string problem = zel::fcidump_fuzz::check_text(text);
    if (!problem.empty()) {
        std::fprintf(stderr, "zel_fcidump_fuzz: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}

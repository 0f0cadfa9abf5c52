// Amplitude buffers of 2 MiB and more are mapped straight from the kernel, where neither
// valgrind's memcheck nor LeakSanitizer look. This test watches the process's mapped address
// space instead: states that are built, copied, assigned, moved and released again and again must
// hand their mappings back, so the address space ends where it started.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <unistd.h>
#include <utility>

#include <gtest/gtest.h>

#include "zel/core/state.hpp"

namespace {

/// Mapped address space of this process in bytes (first field of /proc/self/statm, in pages).
std::size_t mapped_bytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    statm >> pages;
    return pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

TEST(BufferRelease, MappedStatesReturnTheirAddressSpace) {
    constexpr std::uint64_t QUBITS = 20;  // 16 MiB per state
    constexpr int ROUNDS = 16;
    const std::size_t state_bytes =
        (std::size_t{1} << QUBITS) * sizeof(zel::ZarnikState::Amplitude);
    {
        // One round first, so that whatever the allocator and the runtime keep for themselves is
        // already mapped before the baseline is taken.
        zel::ZarnikState warm(QUBITS);
        zel::ZarnikState copy = warm;
    }
    const std::size_t before = mapped_bytes();
    for (int round = 0; round < ROUNDS; ++round) {
        zel::ZarnikState a(QUBITS);
        zel::ZarnikState b = a;  // copy construction
        zel::ZarnikState c(QUBITS - 1);
        c = b;                              // copy assignment to a different size
        zel::ZarnikState d = std::move(a);  // move construction
        b = std::move(d);                   // move assignment releases b's own buffer
        c.set_computational_basis(1);
    }
    const std::size_t after = mapped_bytes();
    // A leak of even one buffer per round would grow the space by ROUNDS * 16 MiB; allow less
    // than a single buffer for the allocator's own bookkeeping.
    EXPECT_LT(after, before + state_bytes) << "before " << before << ", after " << after;
}

}  // namespace

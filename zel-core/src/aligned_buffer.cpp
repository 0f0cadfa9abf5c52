#include "zel/core/detail/aligned_buffer.hpp"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

#include "zel/core/fatal.hpp"

namespace zel::detail {
namespace {

constexpr std::size_t ALIGNMENT = 64;

// From 2 MiB on, buffers are mapped directly: the pages arrive zeroed without a pass over them,
// they can be backed by 2 MiB huge pages, and release returns them to the system at once.
constexpr std::size_t MAPPED_FROM = std::size_t{2} << 20;

void* map(std::size_t bytes) {
    void* buffer = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                          -1, 0);
    if (buffer == MAP_FAILED) {
        fatal_allocation(bytes);
    }
    // Only a hint: fewer TLB misses on passes whose pairs lie far apart. Failure is harmless.
    ::madvise(buffer, bytes, MADV_HUGEPAGE);
    return buffer;
}

void* heap(std::size_t bytes) {
    // aligned_alloc wants a multiple of the alignment; states of 0 and 1 qubits are smaller.
    const std::size_t rounded = (bytes + ALIGNMENT - 1) / ALIGNMENT * ALIGNMENT;
    void* buffer = std::aligned_alloc(ALIGNMENT, rounded);
    if (buffer == nullptr) {
        fatal_allocation(bytes);
    }
    return buffer;
}

}  // namespace

void* allocate_zeroed(std::size_t bytes) {
    if (bytes >= MAPPED_FROM) {
        return map(bytes);
    }
    void* buffer = heap(bytes);
    std::memset(buffer, 0, bytes);
    return buffer;
}

void* allocate_uninitialised(std::size_t bytes) {
    return bytes >= MAPPED_FROM ? map(bytes) : heap(bytes);
}

void release(void* buffer, std::size_t bytes) noexcept {
    if (buffer == nullptr) {
        return;
    }
    if (bytes >= MAPPED_FROM) {
        ::munmap(buffer, bytes);
    } else {
        std::free(buffer);
    }
}

}  // namespace zel::detail

#include "zel/core/detail/aligned_buffer.hpp"

#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <utility>

#include "zel/core/error.hpp"

namespace zel::detail {
namespace {

constexpr std::size_t ALIGNMENT = 64;

// From 2 MiB on, buffers are mapped directly: the pages arrive zeroed without a pass over them,
// they can be backed by 2 MiB huge pages, and release returns them to the system at once.
constexpr std::size_t MAPPED_FROM = std::size_t{2} << 20;

// Size and alignment of a transparent huge page on x86-64.
constexpr std::size_t HUGE_PAGE = std::size_t{2} << 20;

// Maps `bytes` (a multiple of the page size) at an address aligned to HUGE_PAGE, so that the
// whole buffer can be backed by huge pages: maps HUGE_PAGE more than needed and returns the
// unaligned head and the tail to the system, leaving exactly [buffer, buffer + bytes) mapped.
void* map(std::size_t bytes) {
    const std::size_t padded = bytes + HUGE_PAGE;
    void* raw = ::mmap(nullptr, padded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) {
        throw AllocationError(bytes);
    }
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + HUGE_PAGE - 1) & ~std::uintptr_t{HUGE_PAGE - 1};
    if (aligned != start) {
        ::munmap(raw, aligned - start);
    }
    const std::uintptr_t tail = aligned + bytes;
    if (tail != start + padded) {
        ::munmap(reinterpret_cast<void*>(tail), start + padded - tail);
    }
    void* buffer = reinterpret_cast<void*>(aligned);
    // Only a hint: one TLB entry per 2 MiB instead of per 4 KiB, which matters for passes whose
    // pairs lie far apart. Failure is harmless.
    ::madvise(buffer, bytes, MADV_HUGEPAGE);
    return buffer;
}

// aligned_alloc wants a multiple of the alignment; states of 0 and 1 qubits are smaller.
std::size_t rounded_size(std::size_t bytes) noexcept {
    return (bytes + ALIGNMENT - 1) / ALIGNMENT * ALIGNMENT;
}

// Heap buffers up to this size are kept for reuse, one per size per thread. Every evaluation of
// a small circuit releases its working state and the next one asks for the same size again; the
// spare turns that round trip through malloc (tens of nanoseconds, the largest single cost of a
// two-qubit evaluation) into two pointer moves.
constexpr std::size_t SPARE_UP_TO = 4096;
constexpr std::size_t SPARE_CLASSES = std::countr_zero(SPARE_UP_TO / ALIGNMENT) + 1;

// Spare slot of a rounded size: sizes are ALIGNMENT times a power of two.
std::size_t spare_class(std::size_t rounded) noexcept {
    return static_cast<std::size_t>(std::countr_zero(rounded / ALIGNMENT));
}

// Whether this thread's spares may be used. A plain flag, trivially destructible, so that it can
// still be read by buffers released after the spares themselves were destroyed at thread exit
// (states that outlive the thread's locals, such as a static one), which then go to free.
thread_local bool spares_open = true;

struct SpareBuffers {
    std::array<void*, SPARE_CLASSES> slots{};

    SpareBuffers() = default;
    SpareBuffers(const SpareBuffers&) = delete;
    SpareBuffers& operator=(const SpareBuffers&) = delete;
    ~SpareBuffers() {
        spares_open = false;
        for (void* buffer : slots) {
            std::free(buffer);
        }
    }
};

thread_local SpareBuffers spare_buffers;

bool is_spare_size(std::size_t rounded) noexcept {
    return rounded <= SPARE_UP_TO && std::has_single_bit(rounded / ALIGNMENT);
}

void* heap(std::size_t bytes) {
    const std::size_t rounded = rounded_size(bytes);
    if (is_spare_size(rounded) && spares_open) {
        void*& slot = spare_buffers.slots[spare_class(rounded)];
        if (slot != nullptr) {
            return std::exchange(slot, nullptr);
        }
    }
    void* buffer = std::aligned_alloc(ALIGNMENT, rounded);
    if (buffer == nullptr) {
        throw AllocationError(bytes);
    }
    return buffer;
}

void release_heap(void* buffer, std::size_t bytes) noexcept {
    const std::size_t rounded = rounded_size(bytes);
    if (is_spare_size(rounded) && spares_open) {
        void*& slot = spare_buffers.slots[spare_class(rounded)];
        if (slot == nullptr) {
            slot = buffer;
            return;
        }
    }
    std::free(buffer);
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
        release_heap(buffer, bytes);
    }
}

}  // namespace zel::detail

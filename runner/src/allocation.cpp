// Process-wide allocation policy of kvt_run: a failed allocation anywhere ends the process with
// "memory allocation of {} bytes failed" and the abort signal, instead of an exception that
// nothing in the run could handle.

#include <cstdlib>
#include <new>

#include "process.hpp"

namespace {

void* allocate(std::size_t bytes) {
    void* p = std::malloc(bytes == 0 ? 1 : bytes);
    if (p == nullptr) {
        kvt::abort_allocation(bytes);
    }
    return p;
}

void* allocate_aligned(std::size_t bytes, std::align_val_t alignment) {
    const auto align = static_cast<std::size_t>(alignment);
    const std::size_t rounded = ((bytes == 0 ? 1 : bytes) + align - 1) / align * align;
    void* p = std::aligned_alloc(align, rounded);
    if (p == nullptr) {
        kvt::abort_allocation(bytes);
    }
    return p;
}

}  // namespace

void* operator new(std::size_t bytes) {
    return allocate(bytes);
}
void* operator new[](std::size_t bytes) {
    return allocate(bytes);
}
void* operator new(std::size_t bytes, std::align_val_t alignment) {
    return allocate_aligned(bytes, alignment);
}
void* operator new[](std::size_t bytes, std::align_val_t alignment) {
    return allocate_aligned(bytes, alignment);
}
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
    return allocate(bytes);
}
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept {
    return allocate(bytes);
}

void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}

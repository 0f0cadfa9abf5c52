#pragma once

#include <cstddef>

namespace zel::detail {

/// Obtains `bytes` zero-filled bytes aligned to 64. Large buffers come straight from the kernel
/// as fresh zero pages (no clearing pass) with transparent huge pages requested; small ones
/// from the heap. Aborts with "memory allocation of {bytes} bytes failed" when memory cannot be
/// obtained. `bytes` must be positive.
void* allocate_zeroed(std::size_t bytes);

/// Allocates `bytes` aligned to 64 without clearing them, for buffers about to be overwritten.
void* allocate_uninitialised(std::size_t bytes);

/// Releases a buffer from either function above; `bytes` must be the size it was obtained with.
void release(void* buffer, std::size_t bytes) noexcept;

}  // namespace zel::detail

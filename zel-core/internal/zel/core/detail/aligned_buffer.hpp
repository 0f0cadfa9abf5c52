#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace zel::detail {

/// Requests of at least this many bytes are first compared with the memory the machine can
/// still give (`available_memory`). Below it the check would cost more than it protects: a
/// state of 2^26 amplitudes fits on any machine this library runs on.
inline constexpr std::size_t CHECKED_FROM = std::size_t{1} << 30;

/// Obtains `bytes` zero-filled bytes aligned to 64. Large buffers come straight from the kernel
/// as fresh zero pages (no clearing pass) with transparent huge pages requested; small ones
/// from the heap. Throws AllocationError(bytes) when memory cannot be obtained, and, from
/// CHECKED_FROM bytes on, when the request exceeds `available_memory()`: the kernel hands out
/// such mappings lazily, and touching pages it cannot back would end the process. `bytes` must
/// be positive.
void* allocate_zeroed(std::size_t bytes);

/// Allocates `bytes` aligned to 64 without clearing them, for buffers about to be overwritten.
/// Fails as `allocate_zeroed` does.
void* allocate_uninitialised(std::size_t bytes);

/// Releases a buffer from either function above; `bytes` must be the size it was obtained with.
void release(void* buffer, std::size_t bytes) noexcept;

/// Throws AllocationError(bytes) when `bytes` is at least CHECKED_FROM and more than
/// `available_memory()`. For other large buffers of the libraries (sampling, matrices).
void check_available(std::size_t bytes);

/// Bytes that a new allocation of this process can still be backed with: MemAvailable plus
/// SwapFree of /proc/meminfo, lowered to the room left under the process's memory cgroup
/// (v2 memory.max less memory.current, or v1 memory.limit_in_bytes less memory.usage_in_bytes,
/// of its own group and of every group above it) and under RLIMIT_AS and RLIMIT_DATA. A
/// snapshot: other processes may take memory a moment later. std::nullopt when /proc/meminfo
/// cannot be read (then nothing is checked).
std::optional<std::uint64_t> available_memory();

/// MemAvailable plus SwapFree, in bytes, of the text of /proc/meminfo; std::nullopt when
/// MemAvailable is missing.
std::optional<std::uint64_t> meminfo_available(std::string_view meminfo);

}  // namespace zel::detail

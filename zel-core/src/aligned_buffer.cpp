#include "zel/core/detail/aligned_buffer.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>
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
    check_available(bytes);
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

// The whole of a small text file, or nothing when it cannot be read.
std::optional<std::string> read_text(const std::string& path) {
    std::ifstream file(path);
    if (!file) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The leading decimal number of `text`; nothing when there is none ("max").
std::optional<std::uint64_t> leading_number(std::string_view text) {
    std::uint64_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc{}) {
        return std::nullopt;
    }
    return value;
}

// The value in bytes of the meminfo field `name` ("MemAvailable:       23552804 kB").
std::optional<std::uint64_t> meminfo_field(std::string_view meminfo, std::string_view name) {
    std::size_t at = 0;
    while (at < meminfo.size()) {
        const std::size_t end = std::min(meminfo.find('\n', at), meminfo.size());
        const std::string_view line = meminfo.substr(at, end - at);
        at = end + 1;
        if (line.size() <= name.size() || line.substr(0, name.size()) != name ||
            line[name.size()] != ':') {
            continue;
        }
        std::string_view rest = line.substr(name.size() + 1);
        while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) {
            rest.remove_prefix(1);
        }
        const auto kib = leading_number(rest);
        if (!kib || *kib > std::numeric_limits<std::uint64_t>::max() / 1024) {
            return std::nullopt;
        }
        return *kib * 1024;
    }
    return std::nullopt;
}

// Room left under the limit of one cgroup directory, v2 or v1 file names; nothing without a
// limit.
std::optional<std::uint64_t> cgroup_room(const std::string& directory) {
    for (const auto& [limit_file, usage_file] :
         {std::pair{"/memory.max", "/memory.current"},
          std::pair{"/memory.limit_in_bytes", "/memory.usage_in_bytes"}}) {
        const auto limit_text = read_text(directory + limit_file);
        if (!limit_text) {
            continue;
        }
        const auto limit = leading_number(*limit_text);
        const auto usage_text = read_text(directory + usage_file);
        const auto usage = usage_text ? leading_number(*usage_text) : std::nullopt;
        if (!limit || !usage) {
            return std::nullopt;
        }
        return *limit > *usage ? *limit - *usage : 0;
    }
    return std::nullopt;
}

// The smallest room under the memory cgroups of this process and their ancestors.
std::optional<std::uint64_t> cgroups_room() {
    const auto groups = read_text("/proc/self/cgroup");
    if (!groups) {
        return std::nullopt;
    }
    std::optional<std::uint64_t> room;
    std::size_t at = 0;
    while (at < groups->size()) {
        const std::size_t end = std::min(groups->find('\n', at), groups->size());
        const std::string line = groups->substr(at, end - at);
        at = end + 1;
        // "0::/path" (v2) or "4:memory:/path" (v1).
        std::string root;
        std::size_t colon = std::string::npos;
        if (line.rfind("0::", 0) == 0) {
            root = "/sys/fs/cgroup";
            colon = 2;
        } else if (const std::size_t m = line.find(":memory:"); m != std::string::npos) {
            root = "/sys/fs/cgroup/memory";
            colon = m + 7;
        } else {
            continue;
        }
        std::string path = line.substr(colon + 1);
        while (true) {
            if (const auto here = cgroup_room(root + path)) {
                room = room ? std::min(*room, *here) : *here;
            }
            if (path.empty() || path == "/") {
                break;
            }
            const std::size_t slash = path.rfind('/');
            path = slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
        }
    }
    return room;
}

// Room left under a resource limit, given what the process uses of it now.
std::optional<std::uint64_t> rlimit_room(int resource, std::uint64_t used) {
    rlimit limit{};
    if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return std::nullopt;
    }
    return limit.rlim_cur > used ? limit.rlim_cur - used : 0;
}

}  // namespace

std::optional<std::uint64_t> meminfo_available(std::string_view meminfo) {
    const auto available = meminfo_field(meminfo, "MemAvailable");
    if (!available) {
        return std::nullopt;
    }
    return *available + meminfo_field(meminfo, "SwapFree").value_or(0);
}

std::optional<std::uint64_t> available_memory() {
    const auto meminfo = read_text("/proc/meminfo");
    if (!meminfo) {
        return std::nullopt;
    }
    auto room = meminfo_available(*meminfo);
    if (!room) {
        return std::nullopt;
    }
    if (const auto cgroup = cgroups_room()) {
        room = std::min(*room, *cgroup);
    }
    // /proc/self/statm: total program size and data + stack, in pages.
    if (const auto statm = read_text("/proc/self/statm")) {
        const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
        std::uint64_t fields[6] = {};
        std::string_view rest = *statm;
        for (std::uint64_t& field : fields) {
            field = leading_number(rest).value_or(0) * page;
            const std::size_t space = rest.find(' ');
            rest = space == std::string_view::npos ? std::string_view{} : rest.substr(space + 1);
        }
        for (const auto& limit :
             {rlimit_room(RLIMIT_AS, fields[0]), rlimit_room(RLIMIT_DATA, fields[5])}) {
            if (limit) {
                room = std::min(*room, *limit);
            }
        }
    }
    return room;
}

void check_available(std::size_t bytes) {
    if (bytes < CHECKED_FROM) {
        return;
    }
    // A request beyond the address-space or data limit cannot succeed whatever the process uses
    // now: refuse it before reading any file, which takes memory of its own (under a tight limit
    // that allocation is what would fail).
    for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
        const auto limit = rlimit_room(resource, 0);
        if (limit && bytes > *limit) {
            throw AllocationError(bytes);
        }
    }
    const auto room = available_memory();
    if (room && bytes > *room) {
        throw AllocationError(bytes);
    }
}

namespace {

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

// Mapped buffers up to this size are kept for reuse, the two released last per thread. A
// gradient or a search step allocates its working states afresh on every call, and a fresh
// mapping is paid for page by page: the kernel zeroes each page at its first touch, which on a
// virtual machine cost about a quarter of an adjoint gradient on 20 qubits. A kept buffer is
// reused for a request of exactly its size; larger states are always returned to the system.
constexpr std::size_t KEEP_MAPPED_UP_TO = std::size_t{64} << 20;

struct KeptMapping {
    void* buffer = nullptr;
    std::size_t bytes = 0;
};

struct KeptMappings {
    // slots[0] the most recently released.
    std::array<KeptMapping, 2> slots{};

    KeptMappings() = default;
    KeptMappings(const KeptMappings&) = delete;
    KeptMappings& operator=(const KeptMappings&) = delete;
    ~KeptMappings() {
        spares_open = false;
        for (const KeptMapping& kept : slots) {
            if (kept.buffer != nullptr) {
                ::munmap(kept.buffer, kept.bytes);
            }
        }
    }
};

thread_local KeptMappings kept_mappings;

// A kept buffer of exactly `bytes`, or null.
void* take_kept(std::size_t bytes) noexcept {
    if (!spares_open) {
        return nullptr;
    }
    for (KeptMapping& kept : kept_mappings.slots) {
        if (kept.buffer != nullptr && kept.bytes == bytes) {
            return std::exchange(kept.buffer, nullptr);
        }
    }
    return nullptr;
}

void release_mapped(void* buffer, std::size_t bytes) noexcept {
    if (bytes > KEEP_MAPPED_UP_TO || !spares_open) {
        ::munmap(buffer, bytes);
        return;
    }
    auto& slots = kept_mappings.slots;
    if (slots.back().buffer != nullptr) {
        ::munmap(slots.back().buffer, slots.back().bytes);
    }
    for (std::size_t j = slots.size() - 1; j > 0; --j) {
        slots[j] = slots[j - 1];
    }
    slots[0] = KeptMapping{buffer, bytes};
}

}  // namespace

void* allocate_zeroed(std::size_t bytes) {
    if (bytes >= MAPPED_FROM) {
        if (void* kept = take_kept(bytes)) {
            std::memset(kept, 0, bytes);
            return kept;
        }
        return map(bytes);
    }
    void* buffer = heap(bytes);
    std::memset(buffer, 0, bytes);
    return buffer;
}

void* allocate_uninitialised(std::size_t bytes) {
    if (bytes >= MAPPED_FROM) {
        void* kept = take_kept(bytes);
        return kept != nullptr ? kept : map(bytes);
    }
    return heap(bytes);
}

void release(void* buffer, std::size_t bytes) noexcept {
    if (buffer == nullptr) {
        return;
    }
    if (bytes >= MAPPED_FROM) {
        release_mapped(buffer, bytes);
    } else {
        release_heap(buffer, bytes);
    }
}

}  // namespace zel::detail

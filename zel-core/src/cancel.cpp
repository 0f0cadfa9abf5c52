#include "zel/core/cancel.hpp"

#include <atomic>

#include "zel/core/error.hpp"

namespace zel {
namespace {

// Lock-free, so that a signal handler may store to it.
std::atomic<bool> cancel_flag{false};
static_assert(std::atomic<bool>::is_always_lock_free);

}  // namespace

void request_cancel() noexcept {
    cancel_flag.store(true, std::memory_order_relaxed);
}

void clear_cancel() noexcept {
    cancel_flag.store(false, std::memory_order_relaxed);
}

bool cancel_requested() noexcept {
    return cancel_flag.load(std::memory_order_relaxed);
}

void throw_if_cancelled() {
    if (cancel_flag.load(std::memory_order_relaxed)) {
        throw Cancelled();
    }
}

}  // namespace zel

#pragma once

/// \file
/// Cancellation of long calls. Any thread, or a signal handler, may ask the libraries to stop:
/// from then on every long-running call (a circuit, an evaluation, a sampling run, a ground
/// state, a search) throws `Cancelled` at its next poll point, on the thread that made the call.
/// Poll points sit between gates, before every chunk of work on the pool (every
/// `parallel::FOR_EACH_CHUNK` or `parallel::SUM_CHUNK` amplitudes), between chunks of large sums,
/// between batches of samples and, for ground states, every few milliseconds while the solver
/// works; a poll is one relaxed atomic load. A request is thus answered within milliseconds,
/// except inside one gate's pass run by a single thread (`parallel::set_thread_count(1)`), which
/// finishes first: about a second on 2^30 amplitudes.
///
/// The request stays until `clear_cancel()`: it stops every call that is running or starts
/// while it stands, on every thread. A cancelled call leaves the objects it was changing valid
/// but with unspecified contents (a state may hold some of a circuit's gates, or half of one
/// gate's pass); objects it only read, and the library itself, are unchanged and usable.
///
/// \code
/// zel::clear_cancel();
/// std::thread watchdog([] {
///     std::this_thread::sleep_for(std::chrono::seconds(5));
///     zel::request_cancel();
/// });
/// try {
///     run_long_search();
/// } catch (const zel::Cancelled&) {
///     // the search gave up after five seconds
/// }
/// \endcode

namespace zel {

/// Asks every running and future long call to throw `Cancelled` at its next poll point, until
/// `clear_cancel()`. Async-signal-safe: a SIGINT handler may call it.
void request_cancel() noexcept;

/// Withdraws a request, so that calls run to their end again. Call it before starting work
/// that a past request must not stop.
void clear_cancel() noexcept;

/// Whether a request stands.
bool cancel_requested() noexcept;

/// The poll point: throws `Cancelled` when a request stands, else returns at the cost of one
/// relaxed atomic load.
void throw_if_cancelled();

}  // namespace zel

// The catalogue of every failure of the system: one table row per input that breaks a
// precondition, with its exact message. Each in-process row is checked twice: the libraries
// throw the row's exception (type, message and fields, with nothing changed before the throw),
// and kvt_run's guard turns that exception into the diagnostic on standard error and the row's
// ending (exit status 101, or the abort signal for memory). Rows marked KvtRun start the
// kvt_run executable with its standard output arranged as the row says. docs/failures.md
// carries the same table.

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <ostream>
#include <random>
#include <set>
#include <signal.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "zel/compiler/qasm.hpp"
#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/output.hpp"
#include "zel/core/parallel.hpp"
#include "zel/core/state.hpp"

#include "process.hpp"
#include "support/errors.hpp"
#include "support/reference.hpp"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZEL_TEST_UNDER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ZEL_TEST_UNDER_ASAN 1
#endif

#ifdef ZEL_TEST_UNDER_ASAN
// The allocation rows refuse new mappings: a sanitizer's allocator must then answer a failed
// request as the C++ runtime does (std::bad_alloc), not end the process itself.
extern "C" const char* __asan_default_options() {  // NOLINT(bugprone-reserved-identifier)
    return "allocator_may_return_null=1";
}
#endif

#if defined(__SANITIZE_ADDRESS__)
// Under AddressSanitizer a failed heap request must come back as a null pointer, as it does
// without it, so that the allocation rows see the system's own diagnostic.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}
#endif

namespace {

using zel::GateKind;
using zel::GateType;
using zel::Pauli;
using zel::PauliSum;
using zel::ZarnikGraph;
using zel::ZarnikState;

constexpr std::uint64_t U64_MAX = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t TWO_TO_63 = std::uint64_t{1} << 63;

/// Address-space limit of the allocation rows' child: below what the process already has mapped
/// (with or without a sanitizer runtime), so every new mapping and every heap growth fails.
constexpr rlim_t LOWERED_ADDRESS_SPACE = rlim_t{1} << 20;

enum class Ending {
    Status101,    ///< exit status 101
    AbortSignal,  ///< killed by SIGABRT
    Status0,      ///< normal completion
};

/// How kvt_run's standard output is arranged for a KvtRun row.
enum class Stdout {
    BrokenPipe,  ///< a pipe whose read end is closed before the start
    FullDevice,  ///< /dev/full: every write fails with ENOSPC
    Closed,      ///< descriptor 1 closed at the start
    AllClosed,   ///< descriptors 0, 1 and 2 closed at the start
};

using Check = std::function<::testing::AssertionResult(const std::function<void()>&)>;

struct FailurePath {
    std::string name;
    std::string message;  ///< the diagnostic without its line feed; "" when none is written
    Ending ending;
    std::function<void()> trigger;  ///< in-process rows; empty for KvtRun rows
    Stdout kvt_stdout = Stdout::Closed;
    Check thrown;  ///< what the libraries must throw when `trigger` runs
    bool isolated =
        false;  ///< the trigger changes the process (streams, limits): check it in a child
};

// Failure reports and test lists name the row rather than dumping its bytes.
void PrintTo(const FailurePath& row, std::ostream* os) {
    *os << row.name;
}

// --- Triggers -------------------------------------------------------------------------------

// Runs `change` on a state of random amplitudes and rethrows what it throws, unless the throw
// came after some amplitude changed: then a different exception, which fails the row.
void on_random_state(std::uint64_t num_qubits, const std::function<void(ZarnikState&)>& change) {
    std::mt19937_64 rng(zel::test::SEED + num_qubits);
    ZarnikState state = zel::test::make_state(zel::test::random_state(num_qubits, rng));
    const ZarnikState before = state;
    try {
        change(state);
    } catch (...) {
        if (!zel::test::bitwise_equal(state, zel::test::amplitudes_of(before))) {
            throw std::logic_error("amplitudes changed before the exception");
        }
        throw;
    }
}

std::function<void()> gate(std::uint64_t num_qubits, GateType type,
                           std::vector<std::uint64_t> qubits) {
    return [=] {
        on_random_state(num_qubits, [&](ZarnikState& state) {
            const std::vector<double> params;
            state.apply_gate(type, qubits, params);
        });
    };
}

std::function<void()> observable(std::uint64_t num_qubits, PauliSum sum) {
    return [=] {
        const ZarnikState state(num_qubits);
        static_cast<void>(sum.expectation_value(state));
    };
}

std::function<void()> export_one(GateType type, std::vector<std::uint64_t> qubits) {
    return [=] {
        ZarnikGraph circuit(2);
        circuit.add_gate_with_params(GateType::of(GateKind::H), {0}, {});
        circuit.add_gate_with_params(type, qubits, {});
        static_cast<void>(zel::to_open_qasm(circuit));
    };
}

std::function<void()> new_state(std::uint64_t num_qubits) {
    return [=] {
        ZarnikState state(num_qubits);
    };
}

std::function<void()> new_state_under_lowered_limit(std::uint64_t num_qubits) {
    return [=] {
        // The same path once before the limit, so that the runtime's lazily made thread-local
        // blocks (the exception globals, a sanitizer's records of them) exist already: under
        // the limit only the state's own request may fail.
        try {
            ZarnikState warm(num_qubits);
            throw std::bad_alloc();
        } catch (const std::bad_alloc&) {
        }
        const rlimit limit{LOWERED_ADDRESS_SPACE, LOWERED_ADDRESS_SPACE};
        if (::setrlimit(RLIMIT_AS, &limit) != 0) {
            throw std::runtime_error("setrlimit failed");
        }
        ZarnikState state(num_qubits);
    };
}

std::function<void()> basis(std::uint64_t num_qubits, std::uint64_t index) {
    return [=] {
        on_random_state(num_qubits, [&](ZarnikState& state) {
            state.set_computational_basis(index);
        });
    };
}

std::function<void()> remove_from(std::size_t gate_count, std::uint64_t index) {
    return [=] {
        ZarnikGraph circuit(2);
        for (std::size_t k = 0; k < gate_count; ++k) {
            circuit.add_gate_with_params(GateType::of(GateKind::CX), {0, 1}, {});
        }
        const ZarnikGraph before = circuit;
        try {
            circuit.remove_operation(index);
        } catch (...) {
            if (circuit != before) {
                throw std::logic_error("the circuit changed before the exception");
            }
            throw;
        }
    };
}

// Points standard output at `fd` (closing `fd`), then prints as the transcript does.
void print_through(int fd) {
    kvt::prepare_process();
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
    kvt::print("[+] ZarnikState alocado com 2 qubits (Alinhamento 64-bytes).\n");
}

void print_to_broken_pipe() {
    int ends[2];
    if (::pipe(ends) != 0) {
        throw std::runtime_error("pipe failed");
    }
    ::close(ends[0]);
    print_through(ends[1]);
}

void print_to_full_device() {
    print_through(::open("/dev/full", O_WRONLY));
}

// A bounds report raised by a pool worker rather than the calling thread, which reaches the
// caller when every started chunk is done. The caller's own chunks wait (a few seconds at most)
// for the worker to take one, since a caller left alone would run them all.
void stop_on_pool_worker() {
    zel::parallel::set_thread_count(2);
    const std::size_t n = 2 * zel::parallel::GRAIN;
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<bool> worker_ran{false};
    zel::parallel::for_each(n, [&worker_ran, caller, size = n](std::size_t, std::size_t) {
        if (std::this_thread::get_id() != caller) {
            worker_ran = true;
            throw zel::IndexOutOfBounds(size, size / 2);
        }
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!worker_ran && std::chrono::steady_clock::now() < give_up) {
            std::this_thread::yield();
        }
    });
}

using zel::test::bounds_message;

PauliSum sum_of(std::vector<std::vector<zel::PauliFactor>> terms) {
    PauliSum sum;
    for (auto& factors : terms) {
        sum.terms.push_back(zel::PauliTerm{1.0, std::move(factors)});
    }
    return sum;
}

// --- The table ------------------------------------------------------------------------------

template <class E>
Check throws_type(std::string message) {
    return [message](const std::function<void()>& trigger) {
        return zel::test::throws_exactly<E>(trigger, message);
    };
}

std::vector<FailurePath> failure_paths() {
    std::vector<FailurePath> rows;
    // A row whose exception is an E with `message`.
    const auto stop_as = [&](Check thrown, std::string name, std::string message,
                             std::function<void()> trigger) {
        rows.push_back({std::move(name), std::move(message), Ending::Status101, std::move(trigger),
                        Stdout::Closed, std::move(thrown)});
    };
    const auto stop_layout = [&](std::string name, std::function<void()> trigger) {
        const std::string message = "Invalid layout: LayoutError";
        stop_as(throws_type<zel::InvalidLayout>(message), std::move(name), message,
                std::move(trigger));
    };
    const auto stop_state_index = [&](std::string name, std::function<void()> trigger) {
        const std::string message = "Index out of bounds for state vector";
        stop_as(throws_type<zel::StateIndexOutOfBounds>(message), std::move(name), message,
                std::move(trigger));
    };
    // The bounds report, checked field by field.
    const auto stop = [&](std::string name, std::uint64_t len, std::uint64_t index,
                          std::function<void()> trigger) {
        stop_as(
            [len, index](const std::function<void()>& t) {
                return zel::test::throws_bounds(t, len, index);
            },
            std::move(name), bounds_message(len, index), std::move(trigger));
    };
    const auto kvt = [&](std::string name, std::string message, Ending ending, Stdout out) {
        rows.push_back({std::move(name), std::move(message), ending, {}, out, {}});
    };

    // State layout: every count whose buffer (16 * 2^n bytes) reaches 2^63 bytes.
    for (const std::uint64_t n :
         {std::uint64_t{59}, std::uint64_t{63}, std::uint64_t{64}, U64_MAX}) {
        stop_layout("Layout_" + std::to_string(n) + "_qubits", new_state(n));
    }

    // State index.
    stop_state_index("StateIndex_4_of_2_qubits", basis(2, 4));
    stop_state_index("StateIndex_1_of_0_qubits", basis(0, 1));
    stop_state_index("StateIndex_max_of_8_qubits", basis(8, U64_MAX));

    // Kernels. Missing entries: every kind but I (which reads nothing).
    for (const zel::GateInfo& info : zel::ORIGINAL_GATES) {
        if (info.kind == GateKind::I) {
            continue;
        }
        const std::string name(info.name);
        stop("Gate_" + name + "_no_qubits", 0, 0, gate(2, GateType::of(info.kind), {}));
        if (info.arity == 2) {
            stop("Gate_" + name + "_one_qubit", 1, 1, gate(2, GateType::of(info.kind), {0}));
        }
    }
    // Pair kernels with the target outside the state: the partner of index 0 is 2^t.
    for (const GateKind kind :
         {GateKind::X, GateKind::Y, GateKind::H, GateKind::SX, GateKind::RX, GateKind::RY}) {
        const std::string name(zel::gate_info(kind).name);
        const GateType type{kind, 0.5};
        stop("Gate_" + name + "_target_2_of_2", 4, 4, gate(2, type, {2}));
        stop("Gate_" + name + "_target_63_of_2", 4, TWO_TO_63, gate(2, type, {63}));
        stop("Gate_" + name + "_target_64_of_2", 4, U64_MAX, gate(2, type, {64}));
        stop("Gate_" + name + "_target_0_of_0", 1, 1, gate(0, type, {0}));
    }
    // CX: the first index with the control set, 2^u, pairs with 2^u + 2^t.
    const GateType cx = GateType::of(GateKind::CX);
    stop("Gate_CX_0_2_of_2", 4, 5, gate(2, cx, {0, 2}));
    stop("Gate_CX_1_5_of_2", 4, 34, gate(2, cx, {1, 5}));
    stop("Gate_CX_1_63_of_2", 4, TWO_TO_63 + 2, gate(2, cx, {1, 63}));
    stop("Gate_CX_1_64_of_2", 4, U64_MAX, gate(2, cx, {1, 64}));
    stop("Gate_CX_0_max_of_2", 4, U64_MAX, gate(2, cx, {0, U64_MAX}));
    // SWAP: the first index with qubits[0] set, 2^q0, pairs with 2^q1.
    const GateType swap = GateType::of(GateKind::SWAP);
    stop("Gate_SWAP_0_2_of_2", 4, 4, gate(2, swap, {0, 2}));
    stop("Gate_SWAP_1_5_of_2", 4, 32, gate(2, swap, {1, 5}));
    stop("Gate_SWAP_1_63_of_2", 4, TWO_TO_63, gate(2, swap, {1, 63}));
    stop("Gate_SWAP_1_64_of_2", 4, U64_MAX, gate(2, swap, {1, 64}));

    // Observable: the partner of index 0 in the first term that flips a bit outside the state.
    stop("Observable_X2_of_2", 4, 4, observable(2, sum_of({{{2, Pauli::X}}})));
    stop("Observable_X0_Y3_of_2", 4, 9, observable(2, sum_of({{{0, Pauli::X}, {3, Pauli::Y}}})));
    stop("Observable_Y63_of_2", 4, TWO_TO_63, observable(2, sum_of({{{63, Pauli::Y}}})));
    stop("Observable_X64_of_2", 4, U64_MAX, observable(2, sum_of({{{64, Pauli::X}}})));
    stop("Observable_X0_of_0", 1, 1, observable(0, sum_of({{{0, Pauli::X}}})));
    stop("Observable_first_offending_term", 4, 8,
         observable(2, sum_of({{{5, Pauli::Z}}, {{3, Pauli::X}}, {{2, Pauli::X}}})));

    // Exporter: element 0 of every kind, element 1 of the two-qubit kinds.
    for (const zel::GateInfo& info : zel::ORIGINAL_GATES) {
        const std::string name(info.name);
        stop("Export_" + name + "_no_qubits", 0, 0, export_one(GateType::of(info.kind), {}));
        if (info.arity == 2) {
            stop("Export_" + name + "_one_qubit", 1, 1, export_one(GateType::of(info.kind), {1}));
        }
    }

    // Circuit: removing a position at or beyond the gate count.
    stop("Remove_0_of_0", 0, 0, remove_from(0, 0));
    stop("Remove_3_of_3", 3, 3, remove_from(3, 3));
    stop("Remove_max_of_1", 1, U64_MAX, remove_from(1, U64_MAX));

    // A stop raised on a pool worker ends the process the same way.
    stop("Bounds_report_on_pool_worker", 2 * zel::parallel::GRAIN, zel::parallel::GRAIN,
         stop_on_pool_worker);

    // Console, in process and through the executable.
    using Printer = void (*)();
    for (const auto& [name, message, trigger] :
         {std::tuple<const char*, const char*, Printer>{
              "Print_broken_pipe", "failed printing to stdout: Broken pipe", print_to_broken_pipe},
          std::tuple<const char*, const char*, Printer>{
              "Print_full_device", "failed printing to stdout: No space left on device",
              print_to_full_device}}) {
        stop_as(throws_type<zel::OutputError>(message), name, message, trigger);
        rows.back().isolated = true;
    }
    kvt("KvtRun_broken_pipe", "failed printing to stdout: Broken pipe", Ending::Status101,
        Stdout::BrokenPipe);
    kvt("KvtRun_full_device", "failed printing to stdout: No space left on device",
        Ending::Status101, Stdout::FullDevice);
    kvt("KvtRun_stdout_closed", "", Ending::Status0, Stdout::Closed);
    kvt("KvtRun_all_standard_streams_closed", "", Ending::Status0, Stdout::AllClosed);

    // Memory: a request that cannot be met under a lowered address-space limit throws
    // AllocationError with the size, which kvt_run turns into the diagnostic and the abort.
    for (const auto& [qubits, bytes] : {std::pair<std::uint64_t, std::uint64_t>{40, 17592186044416},
                                        {58, 4611686018427387904},
                                        {16, 1048576}}) {
        const std::string message =
            "memory allocation of " + std::to_string(bytes) + " bytes failed";
        rows.push_back({"Allocation_" + std::to_string(qubits) + "_qubits", message,
                        Ending::AbortSignal, new_state_under_lowered_limit(qubits), Stdout::Closed,
                        [message, bytes = bytes](const std::function<void()>& trigger) {
                            try {
                                trigger();
                            } catch (const zel::AllocationError& error) {
                                if (error.bytes() == bytes && error.what() == message) {
                                    return ::testing::AssertionSuccess();
                                }
                                return ::testing::AssertionFailure() << error.what();
                            }
                            return ::testing::AssertionFailure() << "no AllocationError";
                        },
                        true});
    }
    return rows;
}

// --- Running a row --------------------------------------------------------------------------

struct ChildResult {
    int status = 0;
    std::string stderr_text;
};

// Starts kvt_run with standard output arranged as `out` and standard error captured.
ChildResult run_kvt(Stdout out) {
    int err[2];
    int pipe_out[2] = {-1, -1};
    if (::pipe(err) != 0 || (out == Stdout::BrokenPipe && ::pipe(pipe_out) != 0)) {
        ADD_FAILURE() << "pipe failed";
        return {};
    }
    if (out == Stdout::BrokenPipe) {
        // No reader is left anywhere: the child's first write fails with EPIPE.
        ::close(pipe_out[0]);
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(err[1], STDERR_FILENO);
        ::close(err[0]);
        ::close(err[1]);
        switch (out) {
            case Stdout::BrokenPipe:
                ::dup2(pipe_out[1], STDOUT_FILENO);
                ::close(pipe_out[1]);
                break;
            case Stdout::FullDevice: {
                const int full = ::open("/dev/full", O_WRONLY);
                ::dup2(full, STDOUT_FILENO);
                ::close(full);
                break;
            }
            case Stdout::Closed:
                ::close(STDOUT_FILENO);
                break;
            case Stdout::AllClosed:
                ::close(STDIN_FILENO);
                ::close(STDOUT_FILENO);
                ::close(STDERR_FILENO);
                break;
        }
        ::execl(KVT_RUN_PATH, "kvt_run", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(err[1]);
    if (out == Stdout::BrokenPipe) {
        ::close(pipe_out[1]);
    }
    ChildResult result;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(err[0], buffer, sizeof buffer)) != 0) {
        if (n > 0) {
            result.stderr_text.append(buffer, static_cast<std::size_t>(n));
        } else if (errno != EINTR) {
            break;
        }
    }
    ::close(err[0]);
    while (::waitpid(pid, &result.status, 0) < 0 && errno == EINTR) {
    }
    return result;
}

class FailurePathTest : public ::testing::TestWithParam<FailurePath> {};

TEST_P(FailurePathTest, EndsTheProcessAsCatalogued) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const FailurePath& row = GetParam();
    if (!row.trigger) {
        const ChildResult child = run_kvt(row.kvt_stdout);
        const std::string expected = row.message.empty() ? "" : row.message + "\n";
        switch (row.ending) {
            case Ending::Status101:
                ASSERT_TRUE(WIFEXITED(child.status));
                EXPECT_EQ(WEXITSTATUS(child.status), kvt::FATAL_EXIT_STATUS);
                break;
            case Ending::Status0:
                ASSERT_TRUE(WIFEXITED(child.status));
                EXPECT_EQ(WEXITSTATUS(child.status), 0);
                break;
            case Ending::AbortSignal:
                ASSERT_TRUE(WIFSIGNALED(child.status));
                EXPECT_EQ(WTERMSIG(child.status), SIGABRT);
                break;
        }
        if (row.kvt_stdout != Stdout::AllClosed) {
            EXPECT_EQ(child.stderr_text, expected);
        }
        return;
    }
    // The libraries throw the row's exception, with nothing changed before the throw.
    if (row.isolated) {
        EXPECT_EXIT(
            {
                const ::testing::AssertionResult thrown = row.thrown(row.trigger);
                if (!thrown) {
                    const std::string why = std::string(thrown.message()) + "\n";
                    static_cast<void>(::write(STDERR_FILENO, why.data(), why.size()));
                }
                std::_Exit(thrown ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "^$");
    } else {
        EXPECT_TRUE(row.thrown(row.trigger));
    }
    // kvt_run's guard turns it into the diagnostic and the row's ending.
    const std::string regex = zel::test::exact_line(row.message);
    const auto guarded = [&row] {
        return kvt::run_guarded([&row] {
            row.trigger();
            return 0;
        });
    };
    switch (row.ending) {
        case Ending::Status101:
            EXPECT_EXIT(guarded(), ::testing::ExitedWithCode(kvt::FATAL_EXIT_STATUS), regex);
            break;
        case Ending::AbortSignal:
            EXPECT_EXIT(guarded(), ::testing::KilledBySignal(SIGABRT), regex);
            break;
        case Ending::Status0:
            EXPECT_EXIT(guarded(), ::testing::ExitedWithCode(0), "^$");
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(Catalogue, FailurePathTest, ::testing::ValuesIn(failure_paths()),
                         [](const ::testing::TestParamInfo<FailurePath>& info) {
                             return info.param.name;
                         });

// The table holds every kind of exception the libraries define at least once, found by
// catching each row's exception rather than by comparing two lists of texts.
TEST(FailureCatalogue, CoversEveryExceptionKind) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::set<std::string> kinds;
    for (const FailurePath& row : failure_paths()) {
        if (!row.trigger || row.isolated) {
            continue;
        }
        try {
            row.trigger();
        } catch (const zel::IndexOutOfBounds&) {
            kinds.insert("IndexOutOfBounds");
        } catch (const zel::StateIndexOutOfBounds&) {
            kinds.insert("StateIndexOutOfBounds");
        } catch (const zel::InvalidLayout&) {
            kinds.insert("InvalidLayout");
        } catch (const std::exception&) {
        }
    }
    // Output and allocation rows change the process; their kinds are named by their checks.
    for (const FailurePath& row : failure_paths()) {
        if (row.isolated) {
            kinds.insert(row.ending == Ending::AbortSignal ? "AllocationError" : "OutputError");
        }
    }
    EXPECT_EQ(kinds, (std::set<std::string>{"AllocationError", "IndexOutOfBounds", "InvalidLayout",
                                            "OutputError", "StateIndexOutOfBounds"}));
}

}  // namespace

// What keeps a long or hostile call from hanging or ending the process: text readers linear in
// their input, cancellation at poll points, the pool shared by concurrent callers, non-finite
// amplitudes that show in every result, the check of large allocations against the memory the
// machine can give, and library errors (never standard-library texts) for sizes out of reach.

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "zel/compiler/qasm.hpp"
#include "zel/core/cancel.hpp"
#include "zel/core/circuit.hpp"
#include "zel/core/detail/aligned_buffer.hpp"
#include "zel/core/error.hpp"
#include "zel/core/measurement.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/parallel.hpp"
#include "zel/core/random.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/spectrum.hpp"
#include "zel/core/state.hpp"

#ifdef ZEL_TEST_FCIDUMP
#include "zel/chem/fcidump.hpp"
#endif

namespace {

using namespace zel;

/// Size of the hostile texts: large enough that a reader quadratic in its input never ends.
constexpr std::size_t TEN_MEGABYTES = std::size_t{10} << 20;

/// Smallest register whose passes poll for cancellation (parallel::GRAIN amplitudes); circuits
/// poll between gates on any register.
constexpr std::uint64_t POLLED_QUBITS = 17;

constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();

// Clears any request a failed case left, so that cases stay independent.
class Robustness : public ::testing::Test {
  protected:
    void SetUp() override {
        clear_cancel();
    }
    void TearDown() override {
        clear_cancel();
    }
};

// `factor(k)` for k = 0, 1, ... joined by spaces until the text reaches TEN_MEGABYTES.
template <class Factor>
std::string ten_megabytes_of(const Factor& factor, std::uint64_t* count = nullptr) {
    std::string text;
    text.reserve(TEN_MEGABYTES + 32);
    std::uint64_t k = 0;
    while (text.size() < TEN_MEGABYTES) {
        text += factor(k++);
        text += ' ';
    }
    if (count != nullptr) {
        *count = k;
    }
    return text;
}

TEST_F(Robustness, PauliTextOfTenMegabytesParsesInOnePass) {
    // One term of indexed factors on distinct qubits: every factor is checked against the
    // term's earlier ones.
    std::uint64_t factors = 0;
    const std::string one_term = ten_megabytes_of(
        [](std::uint64_t k) {
            return "XYZ"[k % 3] + std::to_string(k);
        },
        &factors);
    const PauliSum parsed = parse_pauli_sum("0.5 " + one_term);
    ASSERT_EQ(parsed.terms.size(), 1U);
    ASSERT_EQ(parsed.terms[0].paulis.size(), factors);
    EXPECT_EQ(parsed.terms[0].paulis.back().qubit, factors - 1);

    // The same term with its first qubit again at the end: refused where the repeat stands.
    const std::string repeated = one_term + "Z0";
    try {
        static_cast<void>(parse_pauli_sum(repeated));
        ADD_FAILURE() << "a repeated qubit was accepted";
    } catch (const ParseError& error) {
        EXPECT_EQ(error.offset(), one_term.size());
        EXPECT_EQ(error.reason(), "qubit 0 appears twice in one term");
    }

    // One whole string of ten million letters, and many short terms.
    const std::string letters(TEN_MEGABYTES, 'X');
    EXPECT_EQ(parse_pauli_sum(letters).terms[0].paulis.size(), TEN_MEGABYTES);
    std::uint64_t terms = 0;
    const std::string many = ten_megabytes_of(
        [](std::uint64_t k) {
            return "+ 0.25 Z" + std::to_string(k % 64);
        },
        &terms);
    EXPECT_EQ(parse_pauli_sum(many).terms.size(), terms);
}

TEST_F(Robustness, OpenQasmOfTenMegabytesReadsInOnePass) {
    const std::string header = "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[2] q;\n";
    std::uint64_t lines = 0;
    const std::string program =
        header + ten_megabytes_of(
                     [](std::uint64_t k) {
                         return k % 2 == 0 ? "h q[0];\n" : "rz(0.25) q[1];\n";
                     },
                     &lines);
    EXPECT_EQ(from_open_qasm(program).operations.size(), lines);
    // Ten megabytes of parentheses: refused at the nesting limit, not by the stack.
    const std::string nested = header + "rx(" + std::string(TEN_MEGABYTES, '(') + "1";
    EXPECT_THROW(static_cast<void>(from_open_qasm(nested)), ParseError);
}

#ifdef ZEL_TEST_FCIDUMP
TEST_F(Robustness, FcidumpOfTenMegabytesReadsInOnePass) {
    // The same integral on every line (repeats must agree), and one header line of ten
    // megabytes.
    const std::string header = "&FCI NORB=2,NELEC=2,MS2=0,\n ORBSYM=1,1,\n ISYM=1,\n&END\n";
    const std::string body = ten_megabytes_of([](std::uint64_t) {
        return std::string("  0.5   1  1  1  1\n");
    });
    EXPECT_EQ(chem::parse_fcidump(header + body).num_electrons, 2U);
    const std::string long_header =
        "&FCI NORB=2,NELEC=2, ORBSYM=" + std::string(TEN_MEGABYTES, '1');
    EXPECT_THROW(static_cast<void>(chem::parse_fcidump(long_header)), chem::FcidumpError);
}
#endif

// A long circuit on a register whose passes poll: 4 gates per qubit.
ZarnikGraph long_circuit(std::uint64_t num_qubits, std::size_t layers) {
    ZarnikGraph circuit(num_qubits);
    for (std::size_t layer = 0; layer < layers; ++layer) {
        for (std::uint64_t q = 0; q < num_qubits; ++q) {
            circuit.add_gate_with_params(GateType::of(GateKind::H), {q}, {});
            circuit.add_gate_with_params(GateType::rz(0.25), {q}, {0.25});
        }
    }
    return circuit;
}

TEST_F(Robustness, CancelRequestStopsLongCallsAndLeavesLibraryUsable) {
    const ZarnikGraph circuit = long_circuit(POLLED_QUBITS, 1);
    const ZarnikState reference(POLLED_QUBITS);
    const PauliSum sum = parse_pauli_sum("Z0 + 0.5 X1");
    random::Generator generator(7);
    for (const std::size_t threads : {std::size_t{1}, std::size_t{2}}) {
        parallel::set_thread_count(threads);
        request_cancel();
        EXPECT_THROW(static_cast<void>(run_circuit(circuit, POLLED_QUBITS)), Cancelled);
        EXPECT_THROW(static_cast<void>(evaluate_circuit_energy(reference, circuit, sum)),
                     Cancelled);
        if (threads > 1) {
            // A copy is one for-each, which polls when it runs on the pool.
            EXPECT_THROW(static_cast<void>(ZarnikState(reference)), Cancelled);
        }
        EXPECT_THROW(static_cast<void>(reference.calculate_entropy()), Cancelled);
        EXPECT_THROW(static_cast<void>(sample_counts(ZarnikState(2), 10, generator)), Cancelled);
        EXPECT_THROW(static_cast<void>(ground_energy(sum, 2)), Cancelled);
        clear_cancel();
        const ZarnikState after = run_circuit(circuit, POLLED_QUBITS);
        EXPECT_NEAR(norm(after), 1.0, 1e-12);
        EXPECT_NO_THROW(static_cast<void>(evaluate_circuit_energy(reference, circuit, sum)));
    }
    parallel::set_thread_count(0);
}

TEST_F(Robustness, CancelFromAnotherThreadEndsARunningCircuit) {
    // About a minute of gates; the request arrives while they run.
    const ZarnikGraph circuit = long_circuit(POLLED_QUBITS, 4000);
    std::thread canceller([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        request_cancel();
    });
    EXPECT_THROW(static_cast<void>(run_circuit(circuit, POLLED_QUBITS)), Cancelled);
    canceller.join();
}

TEST_F(Robustness, ConcurrentCallersShareThePoolWithoutWaiting) {
    // Two threads evaluate the same circuit while a third samples: each result equals the one
    // computed alone, whichever thread held the pool.
    parallel::set_thread_count(2);
    const ZarnikGraph circuit = long_circuit(POLLED_QUBITS + 1, 1);
    const ZarnikState reference(POLLED_QUBITS + 1);
    const PauliSum sum = parse_pauli_sum("Z0 + 0.5 X1 Z2 - 0.25 Y3 Y4");
    const Telemetry alone = evaluate_circuit_telemetry(reference, circuit, sum);
    std::vector<Telemetry> results(4);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < results.size(); ++t) {
        threads.emplace_back([&, t] {
            results[t] = evaluate_circuit_telemetry(reference, circuit, sum);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (const Telemetry& result : results) {
        EXPECT_EQ(result.energy, alone.energy);
        EXPECT_EQ(result.entropy, alone.entropy);
    }
    parallel::set_thread_count(0);
}

TEST_F(Robustness, NanAmplitudesShowInEveryResult) {
    // 2 qubits take the entropy's scalar loop, 8 its vector loop, POLLED_QUBITS the pool.
    for (const std::uint64_t n : {std::uint64_t{2}, std::uint64_t{8}, POLLED_QUBITS}) {
        for (const double bad : {NOT_A_NUMBER, -NOT_A_NUMBER}) {
            ZarnikState state(n);
            state.amplitudes_mut()[1] = {bad, 0.0};
            EXPECT_TRUE(std::isnan(state.calculate_entropy())) << n;
            EXPECT_TRUE(std::isnan(norm(state))) << n;
            EXPECT_TRUE(std::isnan(probabilities(state)[1])) << n;
            EXPECT_TRUE(std::isnan(parse_pauli_sum("Z0").expectation_value(state))) << n;
            random::Generator generator(1);
            EXPECT_THROW(static_cast<void>(sample(state, 1, generator)), InvalidArgument) << n;
        }
        // Finite states keep their entropy: a basis state has +0.0.
        const double basis = ZarnikState(n).calculate_entropy();
        EXPECT_EQ(basis, 0.0);
        EXPECT_FALSE(std::signbit(basis));
    }
}

TEST_F(Robustness, SizesOutOfReachAreLibraryErrors) {
    random::Generator generator(1);
    const ZarnikState state(1);
    EXPECT_THROW(static_cast<void>(sample(state, std::uint64_t{1} << 62, generator)),
                 InvalidArgument);
    EXPECT_THROW(static_cast<void>(bitstring(5, std::uint64_t{1} << 63)), InvalidArgument);
    EXPECT_EQ(bitstring(5, MAX_BITSTRING_QUBITS).size(), MAX_BITSTRING_QUBITS);
    // Shots whose result cannot fit in memory: the byte count of the request.
    const std::uint64_t shots = std::uint64_t{1} << 59;
    try {
        static_cast<void>(sample(state, shots, generator));
        ADD_FAILURE() << "2^59 shots were accepted";
    } catch (const AllocationError& error) {
        EXPECT_EQ(error.bytes(), shots * 8 + (std::uint64_t{1} << 20) * 16);
    }
}

TEST_F(Robustness, MeminfoGivesAvailableMemoryAndSwap) {
    struct Row {
        const char* text;
        std::optional<std::uint64_t> bytes;
    };
    const Row rows[] = {
        {"MemTotal: 100 kB\nMemAvailable:  20 kB\nSwapFree: 5 kB\n", 25 * 1024},
        {"MemAvailable: 20 kB\n", 20 * 1024},
        {"MemAvailable:\t7 kB\nSwapFree:       0 kB", 7 * 1024},
        {"MemFree: 20 kB\n", std::nullopt},
        {"MemAvailableX: 20 kB\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(detail::meminfo_available(row.text), row.bytes) << row.text;
    }
}

TEST_F(Robustness, StatesBeyondAvailableMemoryThrowBeforeTheyAreTouched) {
    const auto available = detail::available_memory();
    ASSERT_TRUE(available.has_value());
    // The smallest register whose buffer exceeds what the machine can give (at least the
    // checked size); the kernel would map it lazily and end the process when it is filled.
    std::uint64_t n = 26;
    while ((std::uint64_t{16} << n) <= *available) {
        ++n;
    }
    ASSERT_LE(n, ZarnikState::MAX_QUBITS);
    try {
        const ZarnikState state(n);
        ADD_FAILURE() << n << " qubits were allocated";
    } catch (const AllocationError& error) {
        EXPECT_EQ(error.bytes(), std::uint64_t{16} << n);
        EXPECT_EQ(
            std::string(error.what()),
            "memory allocation of " + std::to_string(std::uint64_t{16} << n) + " bytes failed");
    }
    EXPECT_THROW(detail::check_available(*available + 1), AllocationError);
    EXPECT_NO_THROW(detail::check_available(detail::CHECKED_FROM - 1));
}

// Joins the memory cgroup `group`, fills a state of 2^26 amplitudes and copies it; exits 0 when
// the copy throws AllocationError (a kill by the cgroup's out-of-memory killer is a signal).
[[noreturn]] void fill_and_copy_in(const std::string& group) {
    std::ofstream(group + "/cgroup.procs") << ::getpid() << std::flush;
    ZarnikState state(26);
    for (auto& amplitude : state.amplitudes_mut()) {
        amplitude = {1.0, 0.0};
    }
    try {
        const ZarnikState copy(state);
        std::_Exit(copy.amplitudes()[0].real() == 1.0 ? 3 : 4);
    } catch (const AllocationError&) {
        std::_Exit(0);
    }
}

// The report this guards: copying a large state that fits once but not twice ended the process
// by the out-of-memory killer, since the copy's pages are promised lazily and taken when written.
// A child process runs in a memory cgroup of 1.5 GiB, fills a state of 1 GiB (2^26 amplitudes)
// and copies it: the copy must throw AllocationError, not be killed. Needs root and a writable
// cgroup v1 memory hierarchy (CI has both); skipped elsewhere.
TEST_F(Robustness, CopyBeyondTheMemoryCgroupThrowsInsteadOfBeingKilled) {
    // One fixed name: the death test's child runs this body again and must find the same group.
    const std::string group = "/sys/fs/cgroup/memory/zel-robustness-copy";
    if (::geteuid() != 0 || (::mkdir(group.c_str(), 0755) != 0 && errno != EEXIST)) {
        GTEST_SKIP() << "no writable cgroup v1 memory hierarchy";
    }
    constexpr std::uint64_t LIMIT = std::uint64_t{3} << 29;  // 1.5 GiB
    bool limited = false;
    {
        std::ofstream(group + "/memory.limit_in_bytes") << LIMIT;
        std::ifstream in(group + "/memory.limit_in_bytes");
        std::uint64_t read_back = 0;
        limited = static_cast<bool>(in >> read_back) && read_back == LIMIT;
    }
    if (limited) {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        EXPECT_EXIT(fill_and_copy_in(group), ::testing::ExitedWithCode(0), "");
    }
    ::rmdir(group.c_str());
    if (!limited) {
        GTEST_SKIP() << "the memory cgroup takes no limit here";
    }
}

}  // namespace

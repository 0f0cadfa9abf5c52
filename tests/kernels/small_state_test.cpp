// The small-state path of an evaluation: below the pool's grain, evaluating a circuit allocates
// nothing through operator new (the working state's buffer is the only allocation, and it comes
// from the aligned allocator), and gives the same results whatever the pool size.

#include <atomic>
#include <cstdlib>
#include <new>

#include <gtest/gtest.h>

#include "zel/core/circuit.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/parallel.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"

#include "support/reference.hpp"

namespace {

std::atomic<std::size_t> new_calls{0};

}  // namespace

// Counts every allocation of the test binary made through operator new.
void* operator new(std::size_t bytes) {
    new_calls.fetch_add(1, std::memory_order_relaxed);
    void* p = std::malloc(bytes == 0 ? 1 : bytes);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}

void operator delete(void* p) noexcept {
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace zel::test {
namespace {

class SmallStates : public ::testing::Test {
  protected:
    void TearDown() override {
        parallel::set_thread_count(0);
    }
};

// A few gates of every shape on two qubits, with H2: the run's kind of evaluation.
ZarnikGraph small_circuit() {
    ZarnikGraph circuit(2);
    circuit.add_gate_with_params(GateType::of(GateKind::H), {0}, {});
    circuit.add_gate_with_params(GateType::of(GateKind::CX), {0, 1}, {});
    circuit.add_gate_with_params(GateType::ry(0.25), {1}, {0.25});
    circuit.add_gate_with_params(GateType::rz(-0.5), {0}, {-0.5});
    circuit.add_gate_with_params(GateType::of(GateKind::SWAP), {1, 0}, {});
    return circuit;
}

TEST_F(SmallStates, EvaluationAllocatesNothingThroughNew) {
    const ZarnikState reference(2);
    const ZarnikGraph circuit = small_circuit();
    const PauliSum hamiltonian = PauliSum::h2_hamiltonian();
    // The first call may set up the pool's and the allocator's per-thread state.
    evaluate_circuit_telemetry(reference, circuit, hamiltonian);
    const std::size_t before = new_calls.load();
    for (int k = 0; k < 100; ++k) {
        evaluate_circuit_telemetry(reference, circuit, hamiltonian);
        evaluate_circuit_energy(reference, circuit, hamiltonian);
    }
    EXPECT_EQ(new_calls.load() - before, 0U);
}

TEST_F(SmallStates, EvaluationIsBitwiseTheSameForAnyPoolSize) {
    const ZarnikState reference(2);
    const ZarnikGraph circuit = small_circuit();
    const PauliSum hamiltonian = PauliSum::h2_hamiltonian();
    parallel::set_thread_count(1);
    const Telemetry serial = evaluate_circuit_telemetry(reference, circuit, hamiltonian);
    for (const std::size_t threads : {2, 3}) {
        parallel::set_thread_count(threads);
        const Telemetry pooled = evaluate_circuit_telemetry(reference, circuit, hamiltonian);
        EXPECT_EQ(bits_of(pooled.energy), bits_of(serial.energy)) << threads << " workers";
        EXPECT_EQ(bits_of(pooled.entropy), bits_of(serial.entropy)) << threads << " workers";
    }
}

}  // namespace
}  // namespace zel::test

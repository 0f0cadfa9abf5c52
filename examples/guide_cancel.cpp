// The guide's cancellation example: a watchdog thread stops a long circuit with
// zel::request_cancel, and the library is used again after zel::clear_cancel.

#include <chrono>
#include <cstdint>
#include <iostream>
#include <thread>

#include "zel/core/cancel.hpp"
#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"
#include "zel/core/measurement.hpp"
#include "zel/core/simulator.hpp"

int main() {
    // Far more gates than a run of this example may take: the watchdog ends them.
    const std::uint64_t n = 16;
    zel::ZarnikGraph long_circuit(n);
    for (int layer = 0; layer < 100000; ++layer) {
        long_circuit.add_gate_with_params(zel::GateType::of(zel::GateKind::H), {0}, {});
    }

    zel::clear_cancel();
    std::thread watchdog([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        zel::request_cancel();
    });
    try {
        const zel::ZarnikState state = zel::run_circuit(long_circuit, n);
        std::cout << "finished, norm " << zel::norm(state) << '\n';
    } catch (const zel::Cancelled& stop) {
        std::cout << "stopped: " << stop.what() << '\n';  // "the call was cancelled"
    }
    watchdog.join();
    zel::clear_cancel();  // later calls run to their end again
    return 0;
}

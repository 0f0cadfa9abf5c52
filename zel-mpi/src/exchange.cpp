// The exchanges with a partner rank that move amplitudes across a rank bit: the pairs of a 2x2
// update, half a block selected by a local qubit, a whole block.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "zel/core/detail/kernels.hpp"
#include "zel/core/parallel.hpp"
#include "zel/mpi/state.hpp"

#include "context.hpp"

namespace zel::mpi {
namespace {

using detail::Amplitude;

void copy_amplitudes(Amplitude* to, const Amplitude* from, std::uint64_t count) noexcept {
    std::memcpy(static_cast<void*>(to), from, static_cast<std::size_t>(count) * sizeof(Amplitude));
}

// Calls body(position, length) for the runs of consecutive block positions whose bit `qubit`
// reads `value`, among the compressed positions [begin, end): position c with the bit inserted.
template <class Body>
void for_each_selected_run(std::uint64_t begin, std::uint64_t end, unsigned qubit, bool value,
                           Body&& body) {
    const std::uint64_t m = std::uint64_t{1} << qubit;
    std::uint64_t c = begin;
    while (c < end) {
        const std::uint64_t run = std::min(m - (c & (m - 1)), end - c);
        const std::uint64_t position = ((c & ~(m - 1)) << 1) | (value ? m : 0) | (c & (m - 1));
        body(position, run);
        c += run;
    }
}

}  // namespace

void DistributedState::apply_pair_on_rank_bit(const GateType& gate, std::span<const double> params,
                                              std::uint64_t rank_bit_index) {
    detail::Context& context = *context_;
    const std::uint64_t count = local_.dimension();
    const std::uint64_t piece = context.piece(count);
    const int partner = rank_ ^ (1 << rank_bit_index);
    const bool upper = ((static_cast<std::uint64_t>(rank_) >> rank_bit_index) & 1U) != 0;
    Amplitude* block = local_.amplitudes_mut().data();
    Amplitude* received = context.receive_buffer();
    // Each rank receives its partner's block piece by piece and computes both members of every
    // pair with the core's kernel, keeping its own: the same arithmetic on the same operands as
    // the whole state's kernel, so the same bits on both ranks.
    // Pieces from the pool's grain up (larger exchange sizes) are computed on the pool.
    for (std::uint64_t offset = 0; offset < count; offset += piece) {
        Amplitude* own = block + offset;
        context.sendrecv(own, received, piece, partner);
        Amplitude* lower = upper ? received : own;
        Amplitude* higher = upper ? own : received;
        parallel::for_each(static_cast<std::size_t>(piece), [&](std::size_t begin,
                                                                std::size_t end) {
            zel::detail::apply_pair_gate(gate, params, lower + begin, higher + begin, end - begin);
        });
    }
}

void DistributedState::exchange_half(int partner, unsigned qubit, bool bit_value) {
    detail::Context& context = *context_;
    const std::uint64_t half = local_.dimension() / 2;
    const std::uint64_t piece = context.piece(half);
    Amplitude* block = local_.amplitudes_mut().data();
    Amplitude* outgoing = context.send_buffer();
    Amplitude* incoming = context.receive_buffer();
    for (std::uint64_t first = 0; first < half; first += piece) {
        std::uint64_t packed = 0;
        for_each_selected_run(first, first + piece, qubit, bit_value,
                              [&](std::uint64_t position, std::uint64_t run) {
                                  copy_amplitudes(outgoing + packed, block + position, run);
                                  packed += run;
                              });
        context.sendrecv(outgoing, incoming, piece, partner);
        packed = 0;
        for_each_selected_run(first, first + piece, qubit, bit_value,
                              [&](std::uint64_t position, std::uint64_t run) {
                                  copy_amplitudes(block + position, incoming + packed, run);
                                  packed += run;
                              });
    }
}

void DistributedState::exchange_block(int partner) {
    detail::Context& context = *context_;
    const std::uint64_t count = local_.dimension();
    const std::uint64_t piece = context.piece(count);
    Amplitude* block = local_.amplitudes_mut().data();
    Amplitude* incoming = context.receive_buffer();
    for (std::uint64_t offset = 0; offset < count; offset += piece) {
        context.sendrecv(block + offset, incoming, piece, partner);
        copy_amplitudes(block + offset, incoming, piece);
    }
}

}  // namespace zel::mpi

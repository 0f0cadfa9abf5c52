#pragma once

// Decoding of fuzzer bytes into a register size, a circuit and a Pauli sum, and the checks run on
// them. Shared by the libFuzzer target (fuzz/zel_fuzz.cpp) and the replay test of the corpus and
// the crash reproducers (tests/failure/fuzz_replay_test.cpp), so that a reproducer means the same
// thing to both.
//
// A case is processed in stages: every operation in circuit order, then the energy, then the
// entropy, then the export. `predict_stop` says, from the preconditions alone, whether and where
// a stage must throw and with which message; `run_checked` executes everything up to that point,
// then the failing step itself, which must throw exactly the predicted report and change
// nothing.

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "zel/compiler/qasm.hpp"
#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"

#include "support/plain_loops.hpp"

namespace zel::fuzz {

/// Largest register a case uses: 2^8 amplitudes keep one execution in the microseconds.
inline constexpr std::uint64_t MAX_QUBITS = 8;
/// Most operations and terms a case holds.
inline constexpr std::size_t MAX_OPERATIONS = 32;
inline constexpr std::size_t MAX_TERMS = 4;
inline constexpr std::size_t MAX_FACTORS = 3;

/// Tolerance of the norm, entropy and energy checks. A gate changes the squared norm by a few
/// units in the last place at most, and a case has at most 32 gates, so honest rounding stays
/// below 1e-14; a wrong matrix entry or a lost amplitude moves it by far more.
inline constexpr double TOLERANCE = 1e-12;

/// The Hadamard factor of the kernels. Every H scales the squared norm by 2 h^2, slightly below 1.
using zel::test::PLAIN_HADAMARD_FACTOR;

/// Qubit indexes a selector byte of 224 or more picks: the edges of the index arithmetic.
inline constexpr std::uint64_t SPECIAL_QUBITS[32] = {
    9,
    10,
    15,
    16,
    31,
    32,
    57,
    58,
    59,
    62,
    63,
    64,
    65,
    100,
    127,
    128,
    255,
    256,
    std::uint64_t{1} << 31,
    std::uint64_t{1} << 32,
    std::uint64_t{1} << 62,
    std::uint64_t{1} << 63,
    (std::uint64_t{1} << 63) + 1,
    std::numeric_limits<std::uint64_t>::max() - 64,
    std::numeric_limits<std::uint64_t>::max() - 1,
    std::numeric_limits<std::uint64_t>::max(),
    0,
    1,
    2,
    3,
    7,
    8,
};

/// Angles a selector picks: zeros of both signs, whole turns, tiny, huge and non-finite values.
inline constexpr double SPECIAL_ANGLES[16] = {
    0.0,
    -0.0,
    0.5,
    1.0,
    3.141592653589793,
    -3.141592653589793,
    6.283185307179586,
    1e-5,
    -2.5e-7,
    1e16,
    1e300,
    5e-324,
    std::numeric_limits<double>::quiet_NaN(),
    std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity(),
    -1.136,
};

/// A decoded input.
struct Case {
    std::uint64_t num_qubits = 0;
    ZarnikGraph circuit;
    PauliSum observable;
};

/// Reads the input front to back; past its end every byte reads as 0, so any input decodes.
class ByteReader {
  public:
    explicit ByteReader(std::span<const std::uint8_t> data) noexcept : data_(data) {
    }

    std::uint8_t byte() noexcept {
        return position_ < data_.size() ? data_[position_++] : 0;
    }

    std::uint16_t u16() noexcept {
        const auto low = static_cast<std::uint16_t>(byte());
        return static_cast<std::uint16_t>(low | (static_cast<std::uint16_t>(byte()) << 8));
    }

    std::uint64_t u64() noexcept {
        std::uint64_t value = 0;
        for (int k = 0; k < 8; ++k) {
            value |= static_cast<std::uint64_t>(byte()) << (8 * k);
        }
        return value;
    }

  private:
    std::span<const std::uint8_t> data_;
    std::size_t position_ = 0;
};

/// A qubit index: mostly 0 .. n + 1 (so n and n + 1 are the out-of-range neighbours), sometimes
/// one of SPECIAL_QUBITS.
inline std::uint64_t decode_qubit(ByteReader& in, std::uint64_t num_qubits) noexcept {
    constexpr std::uint8_t SPECIAL_FROM = 224;
    const std::uint8_t selector = in.byte();
    if (selector >= SPECIAL_FROM) {
        return SPECIAL_QUBITS[selector - SPECIAL_FROM];
    }
    return selector % (num_qubits + 2);
}

/// An angle or parameter: a multiple of 2^-10 or of 2^-2 from a signed 16-bit count, any 64-bit
/// pattern, or one of SPECIAL_ANGLES.
inline double decode_angle(ByteReader& in) noexcept {
    const std::uint8_t selector = in.byte();
    switch (selector % 4) {
        case 0:
            return static_cast<double>(static_cast<std::int16_t>(in.u16())) / 1024.0;
        case 1:
            return static_cast<double>(static_cast<std::int16_t>(in.u16())) / 4.0;
        case 2:
            return std::bit_cast<double>(in.u64());
        default:
            return SPECIAL_ANGLES[in.byte() % 16];
    }
}

/// Number of qubit entries of an operation: mostly what the kind needs, sometimes none, one
/// or three (so missing and surplus entries both occur for every kind).
inline std::size_t decode_entry_count(ByteReader& in, std::size_t arity) noexcept {
    switch (in.byte() % 8) {
        case 5:
            return 0;
        case 6:
            return 1;
        case 7:
            return 3;
        default:
            return arity;
    }
}

/// Qubits of the Pauli strings and unitaries a case draws before its count is mutated: a
/// unitary on k qubits takes 2 * 4^k bytes of matrix entries.
inline constexpr std::size_t MAX_PAULI_QUBITS = 4;
inline constexpr std::size_t MAX_DRAWN_UNITARY_QUBITS = 3;

/// A count that is mostly `expected`, sometimes one more or one fewer, so that wrong qubit and
/// parameter counts occur for every kind from U on.
inline std::size_t decode_count(ByteReader& in, std::size_t expected) noexcept {
    switch (in.byte() % 8) {
        case 6:
            return expected + 1;
        case 7:
            return expected == 0 ? 1 : expected - 1;
        default:
            return expected;
    }
}

/// The Jordan–Wigner parity qubits of distinct orbitals below 64, worked out here from their
/// definition: the other qubits with an odd number of orbitals above them, ascending.
inline std::vector<std::uint64_t> parity_qubits(std::span<const std::uint64_t> orbitals) {
    std::vector<std::uint64_t> result;
    for (std::uint64_t q = 0; q < 64; ++q) {
        std::size_t above = 0;
        bool orbital = false;
        for (const std::uint64_t o : orbitals) {
            above += o > q ? 1 : 0;
            orbital = orbital || o == q;
        }
        if (!orbital && above % 2 == 1) {
            result.push_back(q);
        }
    }
    return result;
}

inline bool distinct_below_64(std::span<const std::uint64_t> qubits) noexcept {
    for (std::size_t j = 0; j < qubits.size(); ++j) {
        if (qubits[j] >= 64) {
            return false;
        }
        for (std::size_t e = 0; e < j; ++e) {
            if (qubits[e] == qubits[j]) {
                return false;
            }
        }
    }
    return true;
}

/// A unitary on k qubits, row-major: the columns of I + A orthonormalised (Gram–Schmidt, two
/// passes), with A's entries (a signed byte each part) at most 1/(2^k 2) in magnitude so that
/// I + A is invertible and well conditioned whatever the bytes, zeros past the end included.
inline std::vector<std::complex<double>> decode_unitary(ByteReader& in, std::size_t k) {
    using Entry = std::complex<double>;
    const std::size_t d = std::size_t{1} << k;
    const double scale = 1.0 / (256.0 * static_cast<double>(d));
    std::vector<Entry> m(d * d);
    for (std::size_t r = 0; r < d; ++r) {
        for (std::size_t c = 0; c < d; ++c) {
            const auto re = static_cast<double>(static_cast<std::int8_t>(in.byte()));
            const auto im = static_cast<double>(static_cast<std::int8_t>(in.byte()));
            m[r * d + c] = Entry(re * scale + (r == c ? 1.0 : 0.0), im * scale);
        }
    }
    for (std::size_t c = 0; c < d; ++c) {
        for (int pass = 0; pass < 2; ++pass) {
            for (std::size_t e = 0; e < c; ++e) {
                Entry dot = 0.0;
                for (std::size_t r = 0; r < d; ++r) {
                    dot += std::conj(m[r * d + e]) * m[r * d + c];
                }
                for (std::size_t r = 0; r < d; ++r) {
                    m[r * d + c] -= dot * m[r * d + e];
                }
            }
        }
        double norm = 0.0;
        for (std::size_t r = 0; r < d; ++r) {
            norm += std::norm(m[r * d + c]);
        }
        norm = std::sqrt(norm);
        for (std::size_t r = 0; r < d; ++r) {
            m[r * d + c] /= norm;
        }
    }
    return m;
}

/// An operation of a kind from U on, drawn from its row alone: the row's qubit count (for a
/// Pauli string or a unitary, 1 to MAX_PAULI_QUBITS or MAX_DRAWN_UNITARY_QUBITS; for an
/// excitation, its orbitals and, when fermionic, their parity qubits), the row's parameter
/// count, and the payload the row names (letters of "IXYZ"; a unitary matrix). Each of these is
/// sometimes off by one or spoiled (a letter outside IXYZ, a matrix that is not unitary or lacks
/// an entry), and qubits are drawn like any others, so strict validation is exercised too.
inline Operation decode_checked(ByteReader& in, const GateInfo& info, std::uint64_t n) {
    Operation op;
    op.gate = GateType::of(info.kind);
    if (info.orbitals != 0) {
        for (std::size_t j = 0; j < info.orbitals; ++j) {
            op.qubits.push_back(decode_qubit(in, n));
        }
        if (info.parity_qubits && distinct_below_64(op.qubits)) {
            const std::vector<std::uint64_t> parity = parity_qubits(op.qubits);
            op.qubits.insert(op.qubits.end(), parity.begin(), parity.end());
        }
        const std::size_t count = decode_count(in, op.qubits.size());
        while (op.qubits.size() < count) {
            op.qubits.push_back(decode_qubit(in, n));
        }
        op.qubits.resize(count);
    } else {
        std::size_t drawn = info.arity;
        if (info.variable_qubits) {
            const std::size_t most =
                info.payload == PayloadKind::Matrix ? MAX_DRAWN_UNITARY_QUBITS : MAX_PAULI_QUBITS;
            drawn = 1 + in.byte() % most;
        }
        op.qubits.resize(decode_count(in, drawn));
        for (std::uint64_t& q : op.qubits) {
            q = decode_qubit(in, n);
        }
    }
    op.params.resize(decode_count(in, info.param_count));
    for (double& p : op.params) {
        p = decode_angle(in);
    }
    const std::size_t k = op.qubits.size();
    if (info.payload == PayloadKind::PauliString) {
        for (std::size_t j = 0; j < k; ++j) {
            op.payload.pauli += "IXYZ"[in.byte() % 4];
        }
        const std::uint8_t spoil = in.byte() % 16;
        if (spoil == 14) {
            op.payload.pauli += 'X';
        } else if (spoil == 15 && !op.payload.pauli.empty()) {
            op.payload.pauli[0] = 'W';
        }
    }
    if (info.payload == PayloadKind::Matrix && k <= MAX_DRAWN_UNITARY_QUBITS + 1) {
        op.payload.matrix = decode_unitary(in, k);
        const std::uint8_t spoil = in.byte() % 16;
        if (spoil == 14) {
            op.payload.matrix[0] *= 1.5;
        } else if (spoil == 15) {
            op.payload.matrix.pop_back();
        }
    }
    return op;
}

/// Decodes any bytes into a case: the qubit count (0 to MAX_QUBITS), up to MAX_OPERATIONS
/// operations of every kind of the gate table with valid and invalid qubit indexes (the
/// fourteen original kinds with a gate angle and 0 to 2 parameters, the others as
/// `decode_checked` draws them), and up to MAX_TERMS Pauli terms with finite weights
/// (multiples of 2^-8 below 128 in magnitude). A kind byte below ORIGINAL_KIND_COUNT decodes as
/// it always has.
inline Case decode(std::span<const std::uint8_t> data) {
    ByteReader in(data);
    Case c;
    c.num_qubits = in.byte() % (MAX_QUBITS + 1);
    c.circuit = ZarnikGraph(c.num_qubits);
    const std::size_t operations = in.byte() % (MAX_OPERATIONS + 1);
    for (std::size_t k = 0; k < operations; ++k) {
        const auto kind = static_cast<GateKind>(in.byte() % GATE_KIND_COUNT);
        const GateInfo& info = gate_info(kind);
        if (info.shape == GateShape::Checked) {
            c.circuit.add(decode_checked(in, info, c.num_qubits));
            continue;
        }
        std::vector<std::uint64_t> qubits(decode_entry_count(in, info.arity));
        for (std::uint64_t& q : qubits) {
            q = decode_qubit(in, c.num_qubits);
        }
        GateType gate = GateType::of(kind);
        if (info.has_angle) {
            gate.angle = decode_angle(in);
        }
        std::vector<double> params(in.byte() % 3);
        for (double& p : params) {
            p = decode_angle(in);
        }
        c.circuit.add_gate_with_params(gate, std::move(qubits), std::move(params));
    }
    const std::size_t terms = in.byte() % (MAX_TERMS + 1);
    for (std::size_t k = 0; k < terms; ++k) {
        PauliTerm term;
        term.coefficient = static_cast<double>(static_cast<std::int16_t>(in.u16())) / 256.0;
        const std::size_t factors = in.byte() % (MAX_FACTORS + 1);
        for (std::size_t f = 0; f < factors; ++f) {
            const auto kind = static_cast<Pauli>(in.byte() % 4);
            const std::uint64_t qubit = decode_qubit(in, c.num_qubits);
            // A term names each qubit at most once; a repeated qubit is dropped.
            bool repeated = false;
            for (const PauliFactor& existing : term.paulis) {
                repeated = repeated || existing.qubit == qubit;
            }
            if (!repeated) {
                term.paulis.push_back(PauliFactor{qubit, kind});
            }
        }
        c.observable.terms.push_back(std::move(term));
    }
    return c;
}

/// The stages of one case, in the order they run.
enum class Stage { Gates, Energy, Entropy, Export };

/// A predicted exception: the stage, the operation or term it arises in, and the exact message.
struct Stop {
    Stage stage = Stage::Gates;
    std::size_t position = 0;
    std::string message;
    /// `InvalidArgument` (the kinds from U on, which validate strictly) rather than
    /// `IndexOutOfBounds`.
    bool invalid_argument = false;
};

inline constexpr std::uint64_t NO_64_BIT_INDEX = std::numeric_limits<std::uint64_t>::max();

/// 2^q as a reported index, or 2^64 - 1 where 2^q has no 64-bit form.
constexpr std::uint64_t reported_power(std::uint64_t q) noexcept {
    return q < 64 ? std::uint64_t{1} << q : NO_64_BIT_INDEX;
}

inline std::string bounds_message(std::uint64_t len, std::uint64_t index) {
    return "index out of bounds: the len is " + std::to_string(len) + " but the index is " +
           std::to_string(index);
}

/// The bounds report `apply_gate` must throw for `op` on n qubits, if any.
inline std::optional<std::string> gate_stop(const Operation& op, std::uint64_t n) {
    const GateKind kind = op.gate.kind;
    if (kind == GateKind::I) {
        return std::nullopt;
    }
    const std::size_t arity = gate_info(kind).arity;
    if (op.qubits.size() < arity) {
        return bounds_message(op.qubits.size(), op.qubits.size());
    }
    const std::uint64_t dimension = std::uint64_t{1} << n;
    const std::uint64_t q0 = op.qubits[0];
    switch (kind) {
        case GateKind::X:
        case GateKind::Y:
        case GateKind::H:
        case GateKind::SX:
        case GateKind::RX:
        case GateKind::RY:
            // The partner of index 0 is 2^t.
            if (q0 >= n) {
                return bounds_message(dimension, reported_power(q0));
            }
            return std::nullopt;
        case GateKind::CX:
        case GateKind::SWAP: {
            const std::uint64_t q1 = op.qubits[1];
            if (q0 >= n || q0 == q1 || q1 < n) {
                return std::nullopt;
            }
            // The first index visited is 2^q0 (first qubit set, second clear); CX pairs it with
            // 2^q0 + 2^q1, SWAP with 2^q1. q0 < n <= 8, so only 2^q1 can lack a 64-bit form.
            const std::uint64_t partner = reported_power(q1);
            if (kind == GateKind::SWAP || partner == NO_64_BIT_INDEX) {
                return bounds_message(dimension, partner);
            }
            return bounds_message(dimension, (std::uint64_t{1} << q0) + partner);
        }
        case GateKind::I:
        case GateKind::Z:
        case GateKind::S:
        case GateKind::T:
        case GateKind::RZ:
        case GateKind::CZ:
            return std::nullopt;
        case GateKind::U:
        case GateKind::U2:
        case GateKind::P:
        case GateKind::SDG:
        case GateKind::TDG:
        case GateKind::SXDG:
        case GateKind::CY:
        case GateKind::CH:
        case GateKind::CP:
        case GateKind::CRX:
        case GateKind::CRY:
        case GateKind::CRZ:
        case GateKind::CU:
        case GateKind::CCX:
        case GateKind::CSWAP:
        case GateKind::RXX:
        case GateKind::RYY:
        case GateKind::RZZ:
        case GateKind::GPHASE:
        case GateKind::PAULI_ROTATION:
        case GateKind::UNITARY:
        case GateKind::FERMIONIC_SINGLE:
        case GateKind::FERMIONIC_DOUBLE:
        case GateKind::QUBIT_SINGLE:
        case GateKind::QUBIT_DOUBLE:
            // Validated strictly: checked_valid.
            return std::nullopt;
    }
    return std::nullopt;
}

/// Whether `op` (already known not to stop) must leave every amplitude bitwise unchanged.
inline bool gate_changes_nothing(const Operation& op, std::uint64_t n) {
    const GateKind kind = op.gate.kind;
    if (kind == GateKind::I) {
        return true;
    }
    const std::uint64_t q0 = op.qubits[0];
    switch (kind) {
        case GateKind::Z:
        case GateKind::S:
        case GateKind::T:
            return q0 >= n;
        case GateKind::CZ:
            return q0 >= n || op.qubits[1] >= n || q0 == op.qubits[1];
        case GateKind::CX:
        case GateKind::SWAP:
            return q0 >= n || q0 == op.qubits[1];
        case GateKind::I:
        case GateKind::X:
        case GateKind::Y:
        case GateKind::H:
        case GateKind::SX:
        case GateKind::RX:
        case GateKind::RY:
        case GateKind::RZ:
        case GateKind::U:
        case GateKind::U2:
        case GateKind::P:
        case GateKind::SDG:
        case GateKind::TDG:
        case GateKind::SXDG:
        case GateKind::CY:
        case GateKind::CH:
        case GateKind::CP:
        case GateKind::CRX:
        case GateKind::CRY:
        case GateKind::CRZ:
        case GateKind::CU:
        case GateKind::CCX:
        case GateKind::CSWAP:
        case GateKind::RXX:
        case GateKind::RYY:
        case GateKind::RZZ:
        case GateKind::GPHASE:
        case GateKind::PAULI_ROTATION:
        case GateKind::UNITARY:
        case GateKind::FERMIONIC_SINGLE:
        case GateKind::FERMIONIC_DOUBLE:
        case GateKind::QUBIT_SINGLE:
        case GateKind::QUBIT_DOUBLE:
            return false;
    }
    return false;
}

/// The bounds report `expectation_value` must throw on n qubits, if any: the first term
/// whose X or Y factors flip a bit outside the state, reported with the partner of index 0.
inline std::optional<Stop> observable_stop(const PauliSum& sum, std::uint64_t n) {
    const std::uint64_t dimension = std::uint64_t{1} << n;
    for (std::size_t t = 0; t < sum.terms.size(); ++t) {
        std::uint64_t flip = 0;
        bool beyond_64_bits = false;
        for (const PauliFactor& factor : sum.terms[t].paulis) {
            if (factor.kind == Pauli::X || factor.kind == Pauli::Y) {
                beyond_64_bits = beyond_64_bits || factor.qubit >= 64;
                flip |= factor.qubit < 64 ? std::uint64_t{1} << factor.qubit : 0;
            }
        }
        if (beyond_64_bits) {
            return Stop{Stage::Energy, t, bounds_message(dimension, NO_64_BIT_INDEX)};
        }
        if (flip >= dimension) {
            return Stop{Stage::Energy, t, bounds_message(dimension, flip)};
        }
    }
    return std::nullopt;
}

/// Whether M^dagger M is the identity to within 1e-12 in every entry, for a 2^k x 2^k
/// row-major matrix.
inline bool unitary_matrix(const std::vector<std::complex<double>>& m, std::size_t d) {
    for (std::size_t r = 0; r < d; ++r) {
        for (std::size_t c = 0; c < d; ++c) {
            std::complex<double> sum = 0.0;
            for (std::size_t j = 0; j < d; ++j) {
                sum += std::conj(m[j * d + r]) * m[j * d + c];
            }
            if (!(std::abs(sum - (r == c ? 1.0 : 0.0)) <= 1e-12)) {
                return false;
            }
        }
    }
    return true;
}

/// Whether an operation of a kind from U on meets its row on n qubits, judged from the row's
/// fields alone: its qubits inside the register and distinct, as many as the row takes (an
/// excitation's orbitals followed by exactly their parity qubits when fermionic), as many
/// finite parameters as the row takes, and the payload the row names.
inline bool checked_valid(const Operation& op, std::uint64_t n) {
    const GateInfo& info = gate_info(op.gate.kind);
    const std::vector<std::uint64_t>& q = op.qubits;
    for (std::size_t j = 0; j < q.size(); ++j) {
        if (q[j] >= n || std::find(q.begin(), q.begin() + static_cast<std::ptrdiff_t>(j), q[j]) !=
                             q.begin() + static_cast<std::ptrdiff_t>(j)) {
            return false;
        }
    }
    if (info.orbitals != 0) {
        if (q.size() < info.orbitals) {
            return false;
        }
        const std::span<const std::uint64_t> orbitals(q.data(), info.orbitals);
        const std::vector<std::uint64_t> parity =
            info.parity_qubits ? parity_qubits(orbitals) : std::vector<std::uint64_t>{};
        if (!std::equal(q.begin() + info.orbitals, q.end(), parity.begin(), parity.end())) {
            return false;
        }
    } else if (info.variable_qubits) {
        if (q.empty() || (info.payload == PayloadKind::Matrix && q.size() > MAX_UNITARY_QUBITS)) {
            return false;
        }
    } else if (q.size() != info.arity) {
        return false;
    }
    if (op.params.size() != info.param_count) {
        return false;
    }
    for (const double p : op.params) {
        if (!std::isfinite(p)) {
            return false;
        }
    }
    if (info.payload == PayloadKind::PauliString) {
        if (op.payload.pauli.size() != q.size() ||
            op.payload.pauli.find_first_not_of("IXYZ") != std::string::npos) {
            return false;
        }
    }
    if (info.payload == PayloadKind::Matrix) {
        const std::size_t d = std::size_t{1} << q.size();
        if (op.payload.matrix.size() != d * d || !unitary_matrix(op.payload.matrix, d)) {
            return false;
        }
    }
    return true;
}

/// The message with which `check_operation` refuses `op`; the fuzzer judges whether it must
/// refuse, and checks that applying and evaluating refuse with the same words.
inline std::string refusal(const Operation& op, std::uint64_t n) {
    try {
        check_operation(n, op);
    } catch (const InvalidArgument& error) {
        return error.what();
    }
    return "check_operation accepts " + debug_text(op.gate) + ", which breaks its row";
}

/// The first exception the case must reach, or none when every stage returns.
inline std::optional<Stop> predict_stop(const Case& c) {
    const auto& operations = c.circuit.operations;
    for (std::size_t k = 0; k < operations.size(); ++k) {
        const Operation& op = operations[k];
        if (gate_info(op.gate.kind).shape == GateShape::Checked) {
            if (!checked_valid(op, c.num_qubits)) {
                return Stop{Stage::Gates, k, refusal(op, c.num_qubits), true};
            }
            continue;
        }
        if (auto message = gate_stop(op, c.num_qubits)) {
            return Stop{Stage::Gates, k, std::move(*message)};
        }
    }
    if (auto stop = observable_stop(c.observable, c.num_qubits)) {
        return stop;
    }
    // The entropy has no precondition. The exporter reads element 0, and element 1 of the
    // two-qubit kinds, of every operation, I included.
    for (std::size_t k = 0; k < operations.size(); ++k) {
        const Operation& op = operations[k];
        const std::size_t needed = gate_info(op.gate.kind).arity;
        if (op.qubits.size() < needed) {
            return Stop{Stage::Export, k, bounds_message(op.qubits.size(), op.qubits.size())};
        }
    }
    return std::nullopt;
}

/// "" when `step` throws the exception `stop` predicts with exactly its message, else what went
/// wrong.
template <class Step>
std::string expect_report(const Step& step, const Stop& stop, const std::string& what) {
    const char* expected = stop.invalid_argument ? "InvalidArgument" : "IndexOutOfBounds";
    try {
        step();
    } catch (const Error& error) {
        const bool right_type = stop.invalid_argument
                                    ? dynamic_cast<const InvalidArgument*>(&error) != nullptr
                                    : dynamic_cast<const IndexOutOfBounds*>(&error) != nullptr;
        if (right_type && error.what() == stop.message) {
            return "";
        }
        return what + " threw \"" + error.what() + "\", expected " + expected + " \"" +
               stop.message + "\"";
    } catch (const std::exception& error) {
        return what + " threw another exception: " + error.what();
    }
    return what + " did not throw " + expected + " \"" + stop.message + "\"";
}

inline double squared_norm(const ZarnikState& state) {
    double total = 0.0;
    for (const ZarnikState::Amplitude& a : state.amplitudes()) {
        total += a.real() * a.real() + a.imag() * a.imag();
    }
    return total;
}

inline bool bitwise_equal(std::span<const ZarnikState::Amplitude> a,
                          std::span<const ZarnikState::Amplitude> b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t k = 0; k < a.size(); ++k) {
        if (std::bit_cast<std::uint64_t>(a[k].real()) !=
                std::bit_cast<std::uint64_t>(b[k].real()) ||
            std::bit_cast<std::uint64_t>(a[k].imag()) !=
                std::bit_cast<std::uint64_t>(b[k].imag())) {
            return false;
        }
    }
    return true;
}

inline bool same_bits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

/// The significant digits of a decimal text: no sign, point, leading or trailing zeros.
inline std::string significant_digits(std::string_view text) {
    std::string digits;
    for (const char ch : text) {
        if (ch >= '0' && ch <= '9' && !(digits.empty() && ch == '0')) {
            digits += ch;
        }
    }
    while (!digits.empty() && digits.back() == '0') {
        digits.pop_back();
    }
    return digits;
}

/// Checks the exported text of an angle: "NaN", "inf", "-inf" for non-finite values; otherwise
/// positional digits without exponent that read back as the same double and are as few as the
/// shortest round-trip form. Returns a description of the first problem, or "".
inline std::string check_angle_text(double angle, std::string_view text) {
    if (std::isnan(angle)) {
        return text == "NaN" ? "" : "NaN written as " + std::string(text);
    }
    if (std::isinf(angle)) {
        const std::string_view expected = angle < 0 ? "-inf" : "inf";
        return text == expected ? "" : "infinity written as " + std::string(text);
    }
    if (text.find_first_of("eE") != std::string_view::npos) {
        return "exponent in angle text " + std::string(text);
    }
    const std::string owned(text);
    char* end = nullptr;
    const double back = std::strtod(owned.c_str(), &end);
    if (end != owned.c_str() + owned.size() || !same_bits(back, angle)) {
        return "angle text " + owned + " does not read back";
    }
    char shortest[64];
    const auto result =
        std::to_chars(shortest, shortest + sizeof shortest, angle, std::chars_format::scientific);
    if (result.ec != std::errc{}) {
        return "to_chars failed";
    }
    const std::string_view scientific(shortest, static_cast<std::size_t>(result.ptr - shortest));
    const std::string_view mantissa = scientific.substr(0, scientific.find('e'));
    if (significant_digits(text) != significant_digits(mantissa)) {
        return "angle text " + owned + " is not the shortest form " + std::string(scientific);
    }
    return "";
}

/// The line the exporter must write for `op` apart from the angle digits, which
/// check_angle_text judges: returns a problem description, or "".
inline std::string check_export_line(const Operation& op, std::string_view line) {
    const GateInfo& info = gate_info(op.gate.kind);
    std::string tail = " q[" + std::to_string(op.qubits[0]) + "]";
    if (info.arity == 2) {
        tail += ", q[" + std::to_string(op.qubits[1]) + "]";
    }
    tail += ";";
    const std::string head(info.qasm);
    if (line.size() < head.size() + tail.size() || line.substr(0, head.size()) != head ||
        line.substr(line.size() - tail.size()) != tail) {
        return "export line " + std::string(line) + " for " + debug_text(op.gate);
    }
    const std::string_view middle =
        line.substr(head.size(), line.size() - head.size() - tail.size());
    if (!info.has_angle) {
        return middle.empty() ? "" : "export line " + std::string(line) + " carries an angle";
    }
    if (middle.size() < 2 || middle.front() != '(' || middle.back() != ')') {
        return "export line " + std::string(line) + " lacks the angle";
    }
    return check_angle_text(op.gate.angle, middle.substr(1, middle.size() - 2));
}

inline ZarnikGraph single_operation(std::uint64_t n, const Operation& op) {
    ZarnikGraph circuit(n);
    circuit.add(op);
    return circuit;
}

inline std::string check_export(const Case& c, std::string_view text) {
    const std::string size = std::to_string(c.num_qubits);
    const std::string header = "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[" + size +
                               "] q;\nbit[" + size + "] c;\n\n";
    if (text.substr(0, header.size()) != header) {
        return "export header";
    }
    std::string_view rest = text.substr(header.size());
    for (const Operation& op : c.circuit.operations) {
        if (gate_info(op.gate.kind).shape == GateShape::Checked) {
            // Its lines are those of its own export; run_checked reads them back.
            const std::string alone = to_open_qasm(single_operation(c.num_qubits, op));
            const std::string_view lines = std::string_view(alone).substr(header.size());
            if (rest.substr(0, lines.size()) != lines) {
                return "export of " + debug_text(op.gate) + " differs from its export alone";
            }
            rest.remove_prefix(lines.size());
            continue;
        }
        const std::size_t end = rest.find('\n');
        if (end == std::string_view::npos) {
            return "export has too few lines";
        }
        std::string problem = check_export_line(op, rest.substr(0, end));
        if (!problem.empty()) {
            return problem;
        }
        rest.remove_prefix(end + 1);
    }
    return rest.empty() ? "" : "export has surplus text";
}

/// The angle the kernels use for `op`: params[0] when present, else the gate's own angle.
using zel::test::Amplitudes;
using zel::test::reference_apply;
using zel::test::used_angle;

/// Largest difference allowed between a kernel and the reference for SX and T: a few units in
/// the last place of amplitudes of magnitude at most 1.
inline constexpr double REGROUPING_TOLERANCE = 1e-15;

// Equal to the last bit, or both NaN (whose sign and payload carry nothing), or, for the
// regrouped kinds, within REGROUPING_TOLERANCE.
inline bool same_part(double kernel, double reference, bool regrouped) {
    return same_bits(kernel, reference) || (std::isnan(kernel) && std::isnan(reference)) ||
           (regrouped && std::fabs(kernel - reference) <= REGROUPING_TOLERANCE);
}

inline std::string compare_with_reference(const ZarnikState& state, const Amplitudes& reference,
                                          const Operation& op, std::size_t position) {
    const auto amplitudes = state.amplitudes();
    const bool regrouped = !gate_info(op.gate.kind).bitwise;
    for (std::size_t k = 0; k < reference.size(); ++k) {
        if (!same_part(amplitudes[k].real(), reference[k].real(), regrouped) ||
            !same_part(amplitudes[k].imag(), reference[k].imag(), regrouped)) {
            return "operation " + std::to_string(position) + " (" + debug_text(op.gate) +
                   ") differs from the reference at amplitude " + std::to_string(k);
        }
    }
    return "";
}

/// Parameters below this magnitude are compared with the matrix reference and read back from
/// the export. Beyond it, sums of angles that the kernels, the rows and the exported forms each
/// round in their own order differ by more than the tolerance, and from about 2^50 on a sum
/// such as phi + lambda loses the smaller angle, so that U, U2 and CU are no longer unitary:
/// operations with such parameters are checked for their validation only.
inline constexpr double COMPARED_ANGLES_BELOW = 1 << 20;

inline bool moderate(const Operation& op) {
    for (const double p : op.params) {
        if (!(std::fabs(p) < COMPARED_ANGLES_BELOW)) {
            return false;
        }
    }
    return true;
}

/// `psi` times the matrix of `op` (on its own qubits, row-major, local bit j on qubits[j]).
inline Amplitudes dense_apply(const Amplitudes& psi, const Operation& op) {
    const std::vector<std::complex<double>> m = operation_matrix(op);
    const std::size_t k = op.qubits.size();
    const std::size_t d = std::size_t{1} << k;
    std::uint64_t mask = 0;
    for (const std::uint64_t q : op.qubits) {
        mask |= std::uint64_t{1} << q;
    }
    const auto index = [&](std::uint64_t base, std::size_t local) {
        for (std::size_t j = 0; j < k; ++j) {
            base |= ((local >> j) & 1U) != 0 ? std::uint64_t{1} << op.qubits[j] : 0;
        }
        return base;
    };
    Amplitudes out = psi;
    for (std::uint64_t base = 0; base < psi.size(); ++base) {
        if ((base & mask) != 0) {
            continue;
        }
        for (std::size_t r = 0; r < d; ++r) {
            std::complex<double> sum = 0.0;
            for (std::size_t col = 0; col < d; ++col) {
                sum += m[r * d + col] * psi[index(base, col)];
            }
            out[index(base, r)] = sum;
        }
    }
    return out;
}

inline std::string compare_within(std::span<const ZarnikState::Amplitude> got,
                                  const Amplitudes& expected, const std::string& what) {
    for (std::size_t k = 0; k < expected.size(); ++k) {
        if (!(std::abs(got[k] - expected[k]) <= TOLERANCE)) {
            return what + " at amplitude " + std::to_string(k);
        }
    }
    return "";
}

/// Applies a valid operation of a kind from U on (operation `position`) and, when `compared`,
/// checks it against its row's matrix and against its own export read back, both within
/// TOLERANCE.
inline std::string run_checked_kind(ZarnikState& state, const Operation& op, std::size_t position,
                                    bool compared) {
    const std::string name =
        "operation " + std::to_string(position) + " (" + debug_text(op.gate) + ")";
    const ZarnikState before = state;
    try {
        state.apply(op);
    } catch (const std::exception& error) {
        return name + " meets its row but threw: " + error.what();
    }
    if (!compared) {
        return "";
    }
    const Amplitudes psi(before.amplitudes().begin(), before.amplitudes().end());
    if (std::string problem = compare_within(state.amplitudes(), dense_apply(psi, op),
                                             name + " differs from its matrix");
        !problem.empty()) {
        return problem;
    }
    ZarnikState again = before;
    try {
        const ZarnikGraph read =
            from_open_qasm(to_open_qasm(single_operation(state.num_qubits(), op)));
        for (const Operation& step : read.operations) {
            again.apply(step);
        }
    } catch (const std::exception& error) {
        return name + ": its export does not read back: " + error.what();
    }
    return compare_within(again.amplitudes(),
                          Amplitudes(state.amplitudes().begin(), state.amplitudes().end()),
                          name + ": its export read back differs");
}

/// Runs every stage before `stop` (all of them when there is none), then the failing step, which
/// must throw the predicted report and leave the state bitwise as it was, and checks what the
/// system promises: every operation matches the plain reference kernel (bitwise, SX and T within
/// REGROUPING_TOLERANCE); operations that must change nothing leave the state bitwise as it was;
/// for finite
/// angles the squared norm stays within TOLERANCE of (2 h^2)^(number of H gates), the energy
/// within the sum of the absolute weights times the squared norm, and the entropy in [0, n];
/// the evaluation functions agree bitwise with the stage-by-stage run; the export has the
/// system's header, one exact line per operation and angles that read back. Returns a
/// description of the first violation, or "" when everything holds.
inline std::string run_checked(const Case& c, const std::optional<Stop>& stop) {
    const auto reaches = [&](Stage stage) {
        return !stop || stop->stage > stage;
    };
    const auto& operations = c.circuit.operations;
    const std::size_t gate_end =
        stop && stop->stage == Stage::Gates ? stop->position : operations.size();
    const auto n = static_cast<double>(c.num_qubits);

    ZarnikState state(c.num_qubits);
    Amplitudes reference(state.amplitudes().begin(), state.amplitudes().end());
    double expected_norm = 1.0;
    bool finite = true;
    for (std::size_t k = 0; k < gate_end; ++k) {
        const Operation& op = operations[k];
        const ZarnikState before = state;
        if (gate_info(op.gate.kind).shape == GateShape::Checked) {
            // A state that is already NaN or infinite compares with nothing.
            finite = finite && moderate(op);
            if (std::string problem = run_checked_kind(state, op, k, finite); !problem.empty()) {
                return problem;
            }
            reference.assign(state.amplitudes().begin(), state.amplitudes().end());
            continue;
        }
        state.apply_gate(op.gate, op.qubits, op.params);
        reference_apply(reference, c.num_qubits, op);
        if (std::string problem = compare_with_reference(state, reference, op, k);
            !problem.empty()) {
            return problem;
        }
        // Each operation is judged from the same input: SX and T may leave the two a few units
        // in the last place apart.
        reference.assign(state.amplitudes().begin(), state.amplitudes().end());
        if (gate_changes_nothing(op, c.num_qubits) &&
            !bitwise_equal(before.amplitudes(), state.amplitudes())) {
            return "operation " + std::to_string(k) + " (" + debug_text(op.gate) +
                   ") changed the state";
        }
        if (op.gate.kind == GateKind::H) {
            expected_norm *= 2.0 * PLAIN_HADAMARD_FACTOR * PLAIN_HADAMARD_FACTOR;
        }
        if (is_rotation(op.gate.kind) && !std::isfinite(used_angle(op))) {
            finite = false;
        }
    }
    const double norm = squared_norm(state);
    if (finite && !(std::fabs(norm - expected_norm) <= TOLERANCE)) {
        return "squared norm " + std::to_string(norm) + " after the gates, expected " +
               std::to_string(expected_norm);
    }
    if (!reaches(Stage::Gates)) {
        const Operation& op = operations[gate_end];
        const ZarnikState before = state;
        std::string problem = expect_report(
            [&] {
                if (stop->invalid_argument) {
                    state.apply(op);
                } else {
                    state.apply_gate(op.gate, op.qubits, op.params);
                }
            },
            *stop, "operation " + std::to_string(gate_end) + " (" + debug_text(op.gate) + ")");
        if (problem.empty() && !bitwise_equal(before.amplitudes(), state.amplitudes())) {
            problem = "operation " + std::to_string(gate_end) + " changed the state, then threw";
        }
        if (problem.empty()) {
            // The evaluation functions meet the same operation first and throw the same.
            const ZarnikState reference(c.num_qubits);
            problem = expect_report(
                [&] {
                    evaluate_circuit_telemetry(reference, c.circuit, c.observable);
                },
                *stop, "evaluate_circuit_telemetry");
        }
        return problem;
    }

    if (!reaches(Stage::Energy)) {
        return expect_report(
            [&] {
                static_cast<void>(c.observable.expectation_value(state));
            },
            *stop, "expectation_value");
    }
    std::optional<double> energy;
    if (reaches(Stage::Energy)) {
        energy = c.observable.expectation_value(state);
        double weights = 0.0;
        for (const PauliTerm& term : c.observable.terms) {
            weights += std::fabs(term.coefficient);
        }
        if (finite && !(std::fabs(*energy) <= weights * (norm + TOLERANCE))) {
            return "energy " + std::to_string(*energy) + " beyond the weights " +
                   std::to_string(weights);
        }
        if (c.observable.terms.empty() && !same_bits(*energy, -0.0)) {
            return "an empty sum did not give -0.0";
        }
    }

    const double entropy = state.calculate_entropy();
    if (finite && !(entropy >= -TOLERANCE && entropy <= n + TOLERANCE)) {
        return "entropy " + std::to_string(entropy) + " outside [0, n]";
    }
    if (entropy == 0.0 && std::signbit(entropy)) {
        return "entropy is negative zero";
    }

    if (energy) {
        const ZarnikState reference(c.num_qubits);
        const Telemetry telemetry = evaluate_circuit_telemetry(reference, c.circuit, c.observable);
        if (!same_bits(telemetry.energy, *energy) || !same_bits(telemetry.entropy, entropy)) {
            return "evaluate_circuit_telemetry disagrees with the stage-by-stage run";
        }
        if (!same_bits(evaluate_circuit_energy(reference, c.circuit, c.observable), *energy)) {
            return "evaluate_circuit_energy disagrees with the stage-by-stage run";
        }
    }

    if (reaches(Stage::Export)) {
        return check_export(c, to_open_qasm(c.circuit));
    }
    return expect_report(
        [&] {
            static_cast<void>(to_open_qasm(c.circuit));
        },
        *stop, "to_open_qasm");
}

}  // namespace zel::fuzz

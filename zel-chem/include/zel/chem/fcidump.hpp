#pragma once

/// \file
/// FCIDUMP files: the plain-text interchange of one- and two-electron integrals written by
/// quantum-chemistry programs (psi4, PySCF, Molpro, ORCA, NWChem).
///
/// Layout read and written:
///
///     &FCI NORB=2,NELEC=2,MS2=0,
///      ORBSYM=1,1,
///      ISYM=1,
///     &END
///       0.6744887663   1  1  1  1
///       ...
///      -1.2524635735   1  1  0  0
///       0.7199689944   0  0  0  0
///
/// The header runs from `&FCI` to `&END` or `/` and may span several lines; its fields are
/// `NORB` (required), `NELEC` (required), `MS2` (default 0), `ORBSYM` (default all 1), `ISYM`
/// (default 1) and `UHF` (default 0); names are case-insensitive, separated by commas or blanks.
/// Each body line is `value i j k l` with 1-based indexes in chemists' notation:
/// `(ij|kl)` for four non-zero indexes, h_ij for `i j 0 0`, the orbital energy of i for
/// `i 0 0 0` (kept, not part of the Hamiltonian) and the constant for `0 0 0 0`. Values may
/// use Fortran `D` exponents (`1.0D-03`). Integrals not listed are zero; symmetric partners are
/// filled in. Only restricted (spin-free) integrals are read: a file with `UHF=1` or
/// `UHF=.TRUE.` is refused, since its spin-resolved blocks cannot be held by `Integrals`.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zel/chem/integrals.hpp"
#include "zel/core/error.hpp"

namespace zel::chem {

/// A file (or text) that is not a valid FCIDUMP. `what()` is "{source}:{line}: {reason}",
/// e.g. "h2.fcidump:9: index 3 beyond NORB=2"; `line()` is 1-based (0 when the failure is not
/// on one line, such as a file that cannot be opened).
class FcidumpError : public InvalidArgument {
  public:
    FcidumpError(std::string source, std::size_t line, std::string reason);

    /// The file name (or the name given to `parse_fcidump`).
    const std::string& source() const noexcept {
        return source_;
    }
    /// 1-based line of the failure, 0 for the whole file.
    std::size_t line() const noexcept {
        return line_;
    }
    /// The reason alone ("index 3 beyond NORB=2").
    const std::string& reason() const noexcept {
        return reason_;
    }

  private:
    std::string source_;
    std::size_t line_;
    std::string reason_;
};

/// The contents of an FCIDUMP file.
struct Fcidump {
    Integrals integrals;               ///< Integrals and constant (hartree).
    std::uint64_t num_electrons = 0;   ///< NELEC.
    std::int64_t ms2 = 0;              ///< MS2 = N_alpha - N_beta.
    std::vector<std::int64_t> orbsym;  ///< ORBSYM, one irrep label per orbital.
    std::int64_t isym = 1;             ///< ISYM, the irrep of the state.
    /// Orbital energies from `i 0 0 0` lines, one entry per orbital (empty where absent).
    std::vector<std::optional<double>> orbital_energies;

    /// N_alpha = (NELEC + MS2) / 2 and N_beta = (NELEC - MS2) / 2.
    Sector sector() const noexcept;

    friend bool operator==(const Fcidump&, const Fcidump&) = default;
};

/// Reads the FCIDUMP file at `path`. Throws `FcidumpError` naming the file, the line and the
/// reason for: a file that cannot be read; a missing `&FCI` header, a header without `&END`
/// or `/`; a missing, repeated, unknown or impossible field (NORB of 0 or beyond MAX_ORBITALS,
/// negative NELEC, MS2 of the wrong parity or beyond NELEC, ORBSYM of the wrong length, a
/// UHF file); NELEC or MS2 beyond what the orbitals hold; a body line cut short or with extra
/// fields; a value that is not a number, or NaN or infinite; an index that is not an integer,
/// is negative or beyond NORB; an index pattern other than the four above; two lines giving one
/// integral (directly or by symmetry) whose values differ by more than SYMMETRY_TOLERANCE
/// (absolute or relative). Nothing is returned on failure. Time and memory are linear in the
/// file's size (plus the integral storage of NORB orbitals).
Fcidump read_fcidump(const std::filesystem::path& path);

/// Reads FCIDUMP text, as `read_fcidump` does; errors name `source_name` as the file.
Fcidump parse_fcidump(std::string_view text, std::string_view source_name = "<text>");

/// The FCIDUMP text of `data`: the header, then every symmetry-unique non-zero two-electron
/// integral, one-electron integral, orbital energy and the constant, each with 17 significant
/// digits, so that `parse_fcidump` gives back the same `Fcidump` bit for bit (zero integrals
/// are not listed and read back as +0.0).
std::string fcidump_text(const Fcidump& data);

/// Writes `fcidump_text(data)` to `path`. Throws `FcidumpError` (line 0) when the file cannot be
/// written.
void write_fcidump(const Fcidump& data, const std::filesystem::path& path);

/// The active space of `active_electrons` electrons in `active_orbitals` orbitals: the
/// (NELEC - active_electrons) / 2 lowest orbitals are frozen (doubly occupied) and folded into
/// the constant and one-electron integrals (see `freeze_orbitals`); MS2, ORBSYM and the orbital
/// energies follow the kept orbitals.
///
/// Throws `InvalidArgument` when active_electrons exceeds NELEC, NELEC - active_electrons is
/// odd, the frozen and active orbitals together exceed NORB, or the active electrons do not
/// fit in the active orbitals with the file's MS2.
Fcidump active_space(const Fcidump& data, std::uint64_t active_electrons,
                     std::size_t active_orbitals);

}  // namespace zel::chem

#pragma once

// What the chemistry examples share: H2 at 0.735 angstrom in STO-3G as FCIDUMP text (that of
// tests/chem/data/h2_0.735.fcidump), and a check that reports and counts a value that misses.

#include <cmath>
#include <iostream>

namespace example {

/// H2 (STO-3G, 0.735 angstrom): 2 spatial orbitals, 2 electrons, singlet; hartree.
inline constexpr const char* H2_FCIDUMP = R"( &FCI NORB=2,NELEC=2,MS2=0,
  ORBSYM=1,1,
  ISYM=1,
 &END
  6.7571015473724139e-01   1   1   1   1
  1.8093119980359793e-01   2   1   2   1
  6.6458173019477595e-01   2   2   1   1
  6.9857372266788176e-01   2   2   2   2
 -1.2563390727924961e+00   1   1   0   0
 -4.7189600750318206e-01   2   2   0   0
  7.1996899410884352e-01   0   0   0   0
)";

/// The checks that have failed so far; an example exits 1 when there are any.
inline int failures = 0;

/// Prints and counts `value` when it lies further than `tolerance` from `expected`.
inline void expect_near(double value, double expected, double tolerance, const char* what) {
    if (!(std::abs(value - expected) <= tolerance)) {
        std::cout << "unexpected " << what << ": " << value << ", expected " << expected << '\n';
        ++failures;
    }
}

}  // namespace example

#pragma once

// Pauli strings in mask form, shared by the expectation value and the dense matrix of a sum:
// `MaskedTerm`, `mask_term` and `check_partner` live with the pieces of the expectation value
// in the installed detail header, where the distributed state reads them too.

#include "zel/core/detail/reductions.hpp"

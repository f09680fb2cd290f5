// The control record: the ID generator and the settings groups.
#pragma once
#include <cstdint>
#include <string>

namespace qb {

// The next ID of the installation (Control row 1), or 0 on failure after the
// message "Next ID cannot be generated!". Takes no lock of its own: call it
// inside the caller's transaction, which covers Control. Opens Control when
// it is not open (and leaves it open for the caller's OP_CLOSE pairing).
uint32_t NextNr();

} // namespace qb

// Helpers of the reading commands shared with the other command files.
#pragma once
#include <string>

namespace qb {

// Makes the database of this name (letter case ignored) the active one; on
// failure error tells why.
bool openCliDatabase(const std::string& name, std::string& error);

} // namespace qb

// Helpers the reading and export commands share.
#pragma once
#include <string>

namespace qb {

// "qbox: text" on stderr; returns code.
int cliFail(const std::string& text, int code = 1);
// A whole decimal number.
bool parseCliNumber(const std::string& s, long long& out);
// Makes the database of this name (letter case ignored) the active one.
bool openCliDatabase(const std::string& name, std::string& error);

} // namespace qb

// Windows-1252 text: case folding and conversion to and from UTF-8.
#pragma once
#include <string>
#include <string_view>

namespace qb {

unsigned char upper1252(unsigned char c);
unsigned char lower1252(unsigned char c);
std::string upper(std::string_view s);
std::string lower(std::string_view s);
// Compare ignoring trailing blanks; nocase folds Windows-1252 letters.
int compare1252(std::string_view a, std::string_view b, bool nocase);
std::string toUtf8(std::string_view cp1252);
// Characters without a Windows-1252 equivalent become '?'.
std::string fromUtf8(std::string_view utf8);

} // namespace qb

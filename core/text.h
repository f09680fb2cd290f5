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

// A name or path placed into a text of the system's own: the separator '|'
// of the system's texts becomes a line break where a box is shown, but a '|'
// of the value stays as it is. verbatim marks each '|' of the value;
// unmarked drops the marks (for output that shows '|' as it is).
constexpr char kVerbatimMark = '\x1B';
std::string verbatim(std::string_view value);
std::string unmarked(std::string_view text);

} // namespace qb

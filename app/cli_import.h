// The import options of the command line, shared by the import command and
// the saving of import definitions.
#pragma once
#include <string>
#include <vector>

#include "import/parser.h"

namespace qb {

// Takes the import options (--reader, --mail-db, --forum-db, --kinds,
// --reimport, --create-only, --topic, --tree, --dir, --masks, files) out of
// args into `s` and checks them. 0 when they are good, else the exit status
// after the reason on stderr.
int importSettingsFromArgs(std::vector<std::string>& args, ImportSettings& s);

} // namespace qb

// The batch operations of the command line that other command files hand on to.
#pragma once
#include "app/commands.h"

namespace qb {

// classify DB TOPIC --scope SCOPE [--id ID] ... [--remove]: attaches the topic
// to (or removes it from) every message of the scope; prints "classified N".
int runClassifyScope(CliContext& ctx);

} // namespace qb

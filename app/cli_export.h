// The batch operations of the command line that other command files hand on to.
#pragma once
#include "app/commands.h"

namespace qb {

// classify DB TOPIC --scope SCOPE [--id ID] ... [--remove]: attaches the topic
// to (or removes it from) every message of the scope; prints "classified N".
int runClassifyScope(CliContext& ctx);

// mark DB --scope SCOPE [--id ID] ... --normal|--keep|--delete: sets the
// status on the row that stands for the scope (the thread, section, partner
// or database without a date range), else on every message of the scope;
// prints "marked N" (N the rows written).
int runMarkScope(CliContext& ctx);

} // namespace qb

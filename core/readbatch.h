// Runs of reads in one read transaction (defined with the storage engine).
#pragma once
#include <vector>

namespace qb {

class Table;

// A run of reads over the tables in one read transaction of each file: the
// file locks are taken once for the run instead of once for every read.
// Writers of other processes wait until endReadBatch, so a run is kept short
// (a few hundred rows); nothing is written through these tables meanwhile.
// A table closed, or a transaction begun, ends its part of the run.
void beginReadBatch(const std::vector<Table*>& tables);
void endReadBatch(const std::vector<Table*>& tables);

} // namespace qb

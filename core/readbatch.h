// How reads of table files are made: runs of reads in one read transaction,
// and the memory map (defined with the storage engine).
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

// Whether table files opened from now on are read through a memory map (the
// default: no read call per page, which pays off over many pages) or page by
// page into the connection's cache. A short command that reads a few hundred
// pages is cheaper without the map: setting it up, its page faults and the
// unmapping at close cost more than the read calls they save.
void setReadMapping(bool on);
bool readMappingOn();

// Whether a table closed from now on keeps its connection to the file, with
// the statements prepared on it, for the next opening of the same file in
// this process (off by default). A command that opens the same tables again
// and again in one short run gains by it; a long-lived process would keep a
// removed file's space taken until the table is opened again. Meanwhile
// closeAllTables leaves the kept connections (they hold no lock and nothing
// unwritten); turning the setting off lets go of every one of them.
void keepClosedConnections(bool on);

} // namespace qb

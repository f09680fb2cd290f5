// Writing some fields of a row: an update that leaves the other fields as
// stored and does not touch the keys over none of the written fields, so a
// change of a few fields of a row with many keys rewrites only their entries.
#pragma once
#include <vector>

namespace qb {

class Table;

// Writes these fields (indexes into t.fields(), at least one) of the row last
// read from the buffer. The commit log of a transaction gets the row as it is
// stored; the buffer stays as it is. False with the storage error.
bool putFields(Table& t, const std::vector<int>& fields);

// putFields with the messages and modes of UppDat (core/access.h).
int UppPutFields(Table& t, const std::vector<int>& fields, int mode);

} // namespace qb

// Appending many rows at once (the master index and the word list of the
// word index): one transaction for the lot and statements of many rows each,
// instead of one bound statement and its checks per row.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>

#include "core/storage.h"

namespace qb {

// Appends n rows to t (a table without memo); fill(i) puts row i into the
// table's buffer. With keysLater the keys are left to build() as after
// append(); else they are kept as by add(). Every row is stored, or (after
// an error, which errorCode() gives) none of them. first gets the position
// of the first row stored. Inside a transaction the rows go one by one
// through add().
bool appendRows(Table& t, size_t n, bool keysLater, Position& first, const std::function<void(size_t)>& fill);

// appendRows for a table of two ULong fields; row i holds rows[i] >> 32 in
// its first field and the lower 32 bits in its second.
bool appendNumberPairs(Table& t, const uint64_t* rows, size_t n, bool keysLater, Position& first);

} // namespace qb

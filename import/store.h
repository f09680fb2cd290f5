// The store step: one temporary import record (NHR + NHR_MSGTEXT) into the
// active database, inside the caller's transaction.
#pragma once
#include <cstdint>
#include <vector>

namespace qb {

class Table;

struct StoreInput {
    uint8_t kind = 0;          // database kind: 1 forum, 2 mail, 3 newsgroup
    uint32_t secSysId = 0;     // forum and newsgroup: the section found or made by the caller
    int32_t textDate = 0;      // TXT:DATE / TXT:TIME: the start of the run
    int32_t textTime = 0;
    uint32_t mailTopic = 0;    // Codes ID attached to every stored mail, 0 for none
    bool allowReimport = false;
    bool merge = false;        // database merge: forum numbers already there are skipped
};

struct StoreOutput {
    bool isNew = false;        // not a reimport
    uint32_t fromId = 0;
    uint32_t toId = 0;
    uint32_t threadNumber = 0;
    uint32_t msgNumber = 0;    // the number the message has in the database (MSG:MSGNUMBER, MAI:MAILID)
};

enum StoreResult : int { StoreStored = 0, StoreSkipped = 1, StoreFailed = 2 };

// 0 stored, 1 skipped as a duplicate or already present, 2 failed (the
// transaction has been rolled back; the caller ends its run).
int storeMessage(const StoreInput& in, StoreOutput& out);

// The tables the store step writes for a database kind, for the caller's
// transaction (the caller opens them). A newsgroup store also reads TempID,
// which must be open but stays out of the transaction.
std::vector<Table*> storeTables(uint8_t kind);

// Forgets the owner-name cache of the run (call at the start of a run and
// whenever the active database changes).
void resetStoreRun();

// 1 when the texts are the same: mode 1 the stored message id1 and the memo of
// the current temporary record, mode 2 the stored messages id1 and id2.
int DupString(int mode, uint32_t id1, uint32_t id2);

} // namespace qb

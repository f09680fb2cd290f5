// Recounting a database: the messages of each person (forum and newsgroup
// persons by the sender and receiver keys, mail partners by CFromToMail), of
// each thread and each section, the receivers of newsgroup answers and the
// database's own row. Persons, threads and sections left without messages are
// deleted. A word list left with the recount mark of a killed purge is
// recounted from the master index.
//
// The single-row functions work on the active database, with the tables they
// name open and inside the caller's transaction; Recount is the whole count as
// a step machine, one batch per step().
#pragma once
#include <cstdint>
#include <string>
#include <memory>
#include <string_view>
#include <unordered_map>

#include "maintenance/batchtxn.h"

namespace qb {

class WordCountWriter;

// What a recount did with a row.
enum class RecountResult { Unchanged, Written, Deleted, Failed };

struct PersonCounts {
    uint32_t from = 0;  // messages sent
    uint32_t to = 0;    // messages received
};

// The messages of a forum or newsgroup person: sent ones by MSG:FromKey,
// received ones by MSG:ToKey, on the first 10 characters of the last name and
// the person ID. MsgNmbr open.
PersonCounts countForumPerson(uint32_t personId, std::string_view lastName);

// The messages of a thread by MSG:Threadkey (THR:ALPHA and the thread
// number). MsgNmbr open.
uint32_t countThreadMessages(uint32_t threadNumber, std::string_view alpha);

// Recounts the person in PER, read from Person (which stays positioned on
// it), and writes the row when its counts changed or deletes it when it has no
// messages. Forum and newsgroup databases count with countForumPerson (MsgNmbr
// open), mail databases with CFromToMail (Mail open); ownerId is the mail
// database's own person (FOR:PERSONID), which is never deleted. A failed write
// rolls back the open transaction after the record-access message.
RecountResult recountPerson(uint8_t kind, uint32_t ownerId);

// Recounts the thread in THR, read from Threads: THR:MSGCOUNT written when it
// differs, the row deleted when the thread has no message. MsgNmbr open.
RecountResult recountThread();

// Recounts the section in SEC, read from Sections: SEC:MSGCOUNT becomes the
// sum of THR:MSGCOUNT of its threads (THR:SecKey); a section whose sum is 0 is
// deleted. Threads open; Threads' buffer is overwritten.
RecountResult recountSection();

// Newsgroup answers: the receiver of the message in MSG, read from MsgNmbr,
// becomes the sender of the message it answers when they differ. MSG and the
// position of MsgNmbr are restored to the message (updated when written).
RecountResult recountReceiver();

// Writes FOR:MSGCOUNT (the rows of MsgNmbr, or Mail in a mail database) and
// FOR:COUNTFLAG 0 into the registry row of the database, holding it (at most
// 5 seconds). Forums and the message table open. False after a message.
bool writeDatabaseCount(uint32_t forumId, uint8_t kind, uint32_t messageCount);

// Parts of a recount, as a bit set.
enum RecountPart : unsigned {
    RecountReceivers = 1,  // newsgroup databases only
    RecountPersons = 2,
    RecountThreads = 4,    // forum and newsgroup databases only
    RecountSections = 8,   // forum and newsgroup databases only
    RecountDatabase = 16,
    RecountWords = 32,     // the word list, when a killed purge left its recount mark
    RecountAll = 63,
};

struct CountTotals {
    uint64_t messages = 0;        // MsgNmbr or Mail rows
    uint64_t threads = 0;         // threads left
    uint64_t sections = 0;        // sections left
    uint64_t persons = 0;         // persons left
    uint64_t partners = 0;        // mail: persons left other than the database's own
    uint64_t personsDeleted = 0;
    uint64_t threadsDeleted = 0;
    uint64_t sectionsDeleted = 0;
    uint64_t receiversChanged = 0;
};

// The count of the active database as a step machine. Opens the tables it
// needs at the first step and closes them when it ends or is destroyed.
class Recount {
public:
    // Tally: one pass over the messages that counts them per sender,
    // receiver and thread key, so that persons and threads need no seek each.
    enum class Stage { Start, Receivers, Tally, Persons, Threads, Sections, Words, Database, Done, Failed };

    // batch: rows per step; 0 takes the speed setting.
    explicit Recount(unsigned parts = RecountAll, int batch = 0);
    ~Recount();
    Recount(const Recount&) = delete;
    Recount& operator=(const Recount&) = delete;

    // One batch. False when the count is over (see result()).
    bool step();
    // Commits what is done and closes the tables (a cancel between batches).
    void stop();

    Stage stage() const { return stage_; }
    bool finished() const { return stage_ == Stage::Done || stage_ == Stage::Failed; }
    // 1 when the count ended without error, 2 after an error; 0 while running.
    int result() const { return stage_ == Stage::Done ? 1 : stage_ == Stage::Failed ? 2 : 0; }
    // The text of the current stage ("Updating message counts per person", ...).
    const std::string& status() const { return status_; }
    long long done() const { return done_; }
    long long total() const { return total_; }
    const CountTotals& totals() const { return totals_; }

private:
    void enter(Stage s);
    void fail();
    void openTables();
    void closeTables();
    bool stepRows();
    bool stepTally();
    RecountResult personFromTally();
    RecountResult threadFromTally();
    bool stepWords();
    bool stepDatabase();

    unsigned parts_;
    int batch_;
    uint8_t kind_ = 0;
    uint32_t forumId_ = 0;
    uint32_t ownerId_ = 0;
    Stage stage_ = Stage::Start;
    std::string status_;
    long long done_ = 0, total_ = 0;
    int64_t position_ = 0;  // the last row handled in file order
    bool opened_ = false;
    BatchTxn txn_;
    std::unique_ptr<WordCountWriter> words_;
    CountTotals totals_;
    // Messages per (alpha in capitals, ID) of the sender, receiver and thread keys.
    std::unordered_map<std::string, uint32_t> fromTally_, toTally_, threadTally_;
};

} // namespace qb

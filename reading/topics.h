// Topics and key words of a database: the entries of Codes and their links to
// messages in SIndex.
//
// Everything here works on the active database. The functions open Codes and
// SIndex themselves (use-counted, so a caller that has them open already keeps
// them open) and change them only inside transactions of their own: a caller
// must not have a transaction open. Every change keeps COD:COUNT equal to the
// number of the entry's SIndex rows, because the links and the count are
// written in one transaction.
//
// Failures are shown through the record-access wrappers (as boxes, or on
// stderr on the command line) and returned as an EntryResult.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qb {

constexpr uint8_t kKeyWordEntry = 1;  // COD:TYPE of a key word
constexpr uint8_t kTopicEntry = 2;    // COD:TYPE of a topic
constexpr size_t kEntryNameMax = 40;  // COD:INDEX

// One Codes row.
struct Entry {
    uint8_t type = kTopicEntry;
    std::string name;         // COD:INDEX without trailing blanks
    uint32_t id = 0;          // COD:ID
    uint32_t count = 0;       // COD:COUNT
    int32_t date = 0;         // COD:DATE: last key-word run
    int32_t time = 0;         // COD:TIME
    bool matchCase = false;   // COD:CHARCASE (key words)
    bool wholeWords = false;  // COD:WORDONLY (key words)
};

enum class EntryResult {
    Ok,
    NameInUse,    // another entry of the type has this name, letter case ignored
    NotFound,     // no such entry (or message)
    Changed,      // the row was changed by another user since it was read
    Failed,       // a write or the transaction failed (reported)
};

// Looking up.
bool findEntry(uint8_t type, const std::string& name, Entry& out);  // letter case ignored
bool findEntryById(uint32_t id, Entry& out);
// Every entry of the type in name order (COD:ClassKey).
std::vector<Entry> listEntries(uint8_t type);
// IDs of the messages linked to the entry, highest first (SIN:IdKey order).
std::vector<uint32_t> entryMessages(uint32_t entryId);
uint64_t linkCount(uint32_t entryId);  // SIndex rows of the entry
bool isLinked(uint32_t entryId, uint32_t messageId);
// True when the active database holds a message of this ID (Mail or MsgNmbr).
bool messageExists(uint32_t messageId);

// Maintenance of the entries.
// Adds a key word or topic with a new ID, count 0 and no run date; the match
// options are kept for key words only. out receives the new row.
EntryResult addEntry(uint8_t type, const std::string& name, bool matchCase, bool wholeWords, Entry* out = nullptr);
// Saves after over the row that was read as before, unless somebody changed
// it meanwhile (Changed, "The record has just been changed by another user!").
// A key word whose string or options change loses its links (they were made
// for the old ones) until it runs again.
EntryResult updateEntry(const Entry& before, const Entry& after);
// Deletes the entry with all its links in one transaction: every link or
// none goes. The row must still be as read (Changed otherwise).
EntryResult deleteEntry(const Entry& entry);
// Sets COD:COUNT to the number of the entry's links.
EntryResult recountEntry(uint32_t entryId);

// Classification: attaches (or detaches) a topic or key word to (from)
// messages. Links that are already there (or missing) are left alone. The
// links and COD:COUNT are written together, in transactions of at most 400
// messages. changed receives the number of links added or removed.
EntryResult attachMessages(uint32_t entryId, const std::vector<uint32_t>& messageIds, bool attach,
                           uint64_t* changed = nullptr);
inline EntryResult attachMessage(uint32_t entryId, uint32_t messageId) {
    return attachMessages(entryId, {messageId}, true);
}
inline EntryResult detachMessage(uint32_t entryId, uint32_t messageId) {
    return attachMessages(entryId, {messageId}, false);
}
// The classification window's toggle: attached becomes detached and back.
// attachedNow receives the new state.
EntryResult toggleMessage(uint32_t entryId, uint32_t messageId, bool* attachedNow = nullptr);

// Key-word runs. A run tests the subject (mail) or thread heading (forum and
// newsgroup) and the body of messages for each key word with the standard
// search's matcher and the key word's match options, links every message
// that holds it and unlinks every tested message that does not; at its end
// it stores the run's start as COD:DATE and COD:TIME of each key word.
//
// A full run goes through every message of the database, newest first. A run
// since a stamp goes through the messages whose text was stored at or after
// it (MsgText date and time: the import run that stored the text), which is
// how an import brings the key words up to date.
//
// The run is a step machine: step() handles one batch of messages and
// commits it with the new counts; the caller drives it from a timer or a loop.
class KeywordRun {
public:
    // keyWordIds empty: every key word of the database.
    explicit KeywordRun(std::vector<uint32_t> keyWordIds = {});
    KeywordRun(std::vector<uint32_t> keyWordIds, int32_t sinceDate, int32_t sinceTime);
    ~KeywordRun();
    KeywordRun(const KeywordRun&) = delete;
    KeywordRun& operator=(const KeywordRun&) = delete;

    // One batch of up to `batch` messages. False once the run has ended.
    bool step(int batch = 400);
    bool finished() const;
    bool failed() const;              // ended by an error (reported)
    const std::string& error() const; // its text
    void cancel();                    // ends the run between batches; the links so far stay
    uint64_t done() const;            // messages tested
    uint64_t total() const;           // messages to test (known after the first step)
    uint64_t linked() const;          // links added
    uint64_t unlinked() const;        // links removed
    size_t keyWordCount() const;      // key words in the run

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// Runs every key word over the texts stored at or after the stamp to its end
// (as an import does after storing); true when there was nothing to do or the
// run succeeded. progress (optional) is called after each batch.
bool runKeyWordsSince(int32_t sinceDate, int32_t sinceTime,
                      void (*progress)(uint64_t done, uint64_t total) = nullptr);

} // namespace qb

// The commit log of transactions over several table files.
//
// Table files keep their own write-ahead logs, so a commit over several files is
// made of one commit per file. Before the first of them, the operations of the
// whole transaction are written to this process's log file in the engine
// directory and made durable, and every file of the transaction gets a stamp
// (a row of its qb_meta) in the same commit. A process that dies between the
// commits leaves a log whose lock has vanished: the next process that opens a
// table or begins a transaction replays the operations into every file that
// lacks the stamp, so the transaction ends up present in all of its files.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct sqlite3;

namespace qb::redo {

// The operations of one transaction, as they are done.
class Writer {
public:
    // Index of a file of the transaction (attached under schema).
    int fileIndex(const std::string& schema, const std::string& path);
    void row(char op, int file, int64_t rowid);   // 'I' insert, 'U' update, 'D' delete
    void columns(uint16_t n);                     // then n values
    void valueInt(int64_t v);
    void valueText(const char* p, size_t n);
    void valueBlob(const char* p, size_t n);
    void exec(int file, const std::string& sql);  // a statement replayed as it is
    size_t files() const { return files_.size(); }
    void clear();

    const std::string& ops() const { return ops_; }
    const std::vector<std::pair<std::string, std::string>>& fileList() const { return files_; }

private:
    std::string ops_;
    std::vector<std::pair<std::string, std::string>> files_;  // schema, path
};

// The log of this process in dir, taken on first use (and again after a fork
// or a change of directory). False with the storage error set when no log can
// be kept there.
bool acquire(const std::string& dir);

// Starts the next transaction of the log; its stamp is then stampKey() =
// stampValue() in the qb_meta of each file.
void nextSerial();
std::string stampKey();
std::string stampValue();

// Writes the current transaction and waits until it is on disk.
bool write(const Writer& w);

// After a commit that failed midway: brings every file of the transaction up
// to it. False when some file could not be brought up (the log stays).
bool completeOwn();

// True when no file of the current transaction holds its stamp.
bool noneStamped();

// Forgets the current transaction (nothing of it was committed, or all of it).
void discardOwn();

// Replays the logs of processes that died in the middle of a commit.
void recoverDead(const std::string& dir);

// Set by the storage engine: makes a connection ready for the table files.
void prepareConnection(sqlite3* db);

} // namespace qb::redo

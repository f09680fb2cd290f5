// The word counts of the word list after master index rows went. A purge
// deletes a message's index rows with the message and keeps the counts they
// took in memory, writing them once when the deletions are over. Until they
// are written the database carries a mark (a file next to the word list,
// made durable before the first index row goes), and a purge or count that
// finds the mark recounts every word from the master index.
#pragma once
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "maintenance/batchtxn.h"

namespace qb {

// The mark of the active database's word list (its file's directory).
bool wordCountsMarked();
// Creates the mark and syncs it to disk. False when it cannot be made.
bool markWordCounts();
// Removes the mark (after the counts are written and committed).
void clearWordCountMark();

// Brings the word list in step with the master index, one batch per step():
// either subtracts the index rows removed per word, or (recount) counts every
// word of the master index anew. Words left at 0 are deleted. MasIdx and
// WordList are opened here; the caller holds no transaction meanwhile.
class WordCountWriter {
public:
    // Subtracts removed[word ID] from each word's count.
    WordCountWriter(const std::unordered_map<int32_t, int32_t>& removed, int batch);
    // Recounts every word from the master index.
    explicit WordCountWriter(int batch);
    ~WordCountWriter();
    WordCountWriter(const WordCountWriter&) = delete;
    WordCountWriter& operator=(const WordCountWriter&) = delete;

    // One batch. False when over: ok() tells whether it succeeded (the mark is
    // then removed).
    bool step();
    bool ok() const { return ok_; }
    bool recounting() const { return recount_; }
    long long done() const { return done_; }
    long long total() const { return total_; }

private:
    bool tallyBatch();
    bool writeBatch();
    bool writeWord(int32_t count);
    bool finish(bool ok);

    enum class Phase { Tally, Write, Over };
    bool recount_;
    int batch_;
    Phase phase_;
    bool opened_ = false, ok_ = false;
    int64_t position_ = 0;
    long long done_ = 0, total_ = 0;
    size_t index_ = 0;
    std::vector<std::pair<int32_t, int32_t>> removed_;  // sorted by word ID
    std::unordered_map<int32_t, int32_t> tally_;
    BatchTxn txn_;
};

} // namespace qb

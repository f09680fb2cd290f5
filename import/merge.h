// The database merge: every message of a source database is copied into a
// target database of the same kind. The source's messages become records of
// the temporary import file (the pre-merge conversion), which the import pass
// then stores into the target by the store step's rules: persons, sections and
// threads are found or made as on import, forum numbers and newsgroup
// identifiers already in the target and duplicate mail are skipped. The
// source database is only read.
//
// The merge shares the temporary files with the import, so neither starts
// while the other runs, in this process or another one.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "import/pipeline.h"

namespace qb {

// The reader name under which the pre-merge conversion runs in the pipeline.
extern const char* const kMergeReader;

struct MergeCheck {
    bool ok = true;
    std::string title, text;  // the box when not ok
};

// The checks of a source and target choice: both rows readable, not one
// database twice, the same kind ("Illegal selection!" otherwise).
MergeCheck checkMerge(uint32_t sourceId, uint32_t targetId);

class MergeRun {
public:
    MergeRun(uint32_t sourceId, uint32_t targetId);
    ~MergeRun();
    MergeRun(const MergeRun&) = delete;
    MergeRun& operator=(const MergeRun&) = delete;

    // One batch; false once the merge has ended.
    bool step();
    bool finished() const { return finished_; }
    // Ended by an error (a check, a busy temporary file, a failed store).
    bool failed() const { return failed_; }
    bool stopped() const { return stopped_; }
    // The user's stop; while messages are being stored the question about the
    // counts is asked first. True when the merge was stopped.
    bool requestStop();

    uint8_t kind() const { return kind_; }
    const std::string& sourceName() const { return sourceName_; }
    const std::string& targetName() const { return targetName_; }
    ImportTotals totals() const { return run_ ? run_->totals() : ImportTotals{}; }
    const std::string& progressText() const { return progressText_; }
    // "The merging process has finished!" or "No messages to merge!" once the
    // merge has ended without error; empty before.
    const std::string& endText() const { return endText_; }
    // True from the opening of the target to the end of the counting.
    bool mergePassRunning() const { return run_ && run_->importPassRunning(); }
    uint64_t recordsDone() const { return run_ ? run_->recordsDone() : 0; }
    double currentFraction() const { return run_ ? run_->currentFraction() : 0.0; }
    // The stop question for the target's kind.
    std::string stopQuestion() const;

    // Called once when the merge ends (the main menu's notice, "MergeMeny").
    std::function<void()> onFinished;
    std::function<void(const std::string&)> onProgressText;

private:
    bool start();
    void setText(const std::string& t);
    void importText(const std::string& t);
    void end(bool error);

    uint32_t sourceId_, targetId_;
    uint8_t kind_ = 0;
    std::string sourceName_, targetName_;
    std::unique_ptr<ImportRun> run_;
    bool started_ = false, finished_ = false, failed_ = false, stopped_ = false;
    bool storing_ = false, completeShown_ = false;
    std::string progressText_, endText_;
};

} // namespace qb

#include "maintenance/wordcounts.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "core/access.h"
#include "core/storage.h"
#include "core/tables.h"

namespace qb {

namespace {

constexpr const char* kMarkName = "WORDLIST.RECOUNT";

std::filesystem::path markPath() {
    return std::filesystem::path(tableFileName(WordList.number())).parent_path() / kMarkName;
}

bool syncDirectory(const std::filesystem::path& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

bool wordCountsMarked() {
    std::error_code ec;
    return std::filesystem::exists(markPath(), ec);
}

bool markWordCounts() {
    const std::filesystem::path p = markPath();
    const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    static const char text[] = "word counts to be recounted from the master index\n";
    bool ok = ::write(fd, text, sizeof text - 1) == static_cast<ssize_t>(sizeof text - 1) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    return ok && syncDirectory(p.parent_path());
}

void clearWordCountMark() {
    const std::filesystem::path p = markPath();
    std::error_code ec;
    if (std::filesystem::remove(p, ec)) syncDirectory(p.parent_path());
}

WordCountWriter::WordCountWriter(const std::unordered_map<int32_t, int32_t>& removed, int batch)
    : recount_(false), batch_(batch > 0 ? batch : 500), phase_(Phase::Write), removed_(removed.begin(), removed.end()) {
    std::sort(removed_.begin(), removed_.end());
    total_ = static_cast<long long>(removed_.size());
}

WordCountWriter::WordCountWriter(int batch)
    : recount_(true), batch_(batch > 0 ? batch : 500), phase_(Phase::Tally) {}

WordCountWriter::~WordCountWriter() {
    txn_.rollback();
    if (opened_) OP_CLOSE(OpClose, MasIdx.number(), WordList.number());
}

bool WordCountWriter::finish(bool ok) {
    if (!ok) txn_.rollback();
    else ok = txn_.commit();
    if (ok) clearWordCountMark();
    ok_ = ok;
    phase_ = Phase::Over;
    if (opened_) {
        opened_ = false;
        OP_CLOSE(OpClose, MasIdx.number(), WordList.number());
    }
    return false;
}

bool WordCountWriter::step() {
    if (!opened_ && phase_ != Phase::Over) {
        OP_CLOSE(OpOpenShared, MasIdx.number(), WordList.number());
        opened_ = true;
        txn_.setTables({&WordList});
        if (recount_) total_ = MasIdx.records();
    }
    switch (phase_) {
    case Phase::Tally: return tallyBatch();
    case Phase::Write: return writeBatch();
    case Phase::Over: break;
    }
    return false;
}

// Counts the index rows per word, in file order.
bool WordCountWriter::tallyBatch() {
    MasIdx.setRecord(position_ + 1);
    for (int i = 0; i < batch_ * 20; ++i) {
        if (!MasIdx.next()) {
            if (errorCode() != ErrRecordNotAvailable) {
                maintenanceMessage(MasIdx.path(), "Record read error!\r\n" + errorText());
                return finish(false);
            }
            phase_ = Phase::Write;
            done_ = 0;
            total_ = WordList.records();
            position_ = 0;
            return true;
        }
        position_ = MasIdx.position();
        ++tally_[static_cast<int32_t>(MAS.WORDID)];
        ++done_;
    }
    return true;
}

// WOR holds the word, read from WordList: writes its new count, or deletes
// it at 0.
bool WordCountWriter::writeWord(int32_t count) {
    if (count == WOR.WORDCOUNT) return true;
    WOR.WORDCOUNT = std::max(count, 0);
    const int op = count <= 0 ? UppDelete : UppPut;
    return UppDat(WordList, op, ModeReportRollback) == 1 && txn_.changed(1);
}

bool WordCountWriter::writeBatch() {
    if (!txn_.begin()) return finish(false);
    if (recount_) {
        WordList.setRecord(position_ + 1);
        for (int i = 0; i < batch_; ++i) {
            if (!WordList.next()) {
                if (errorCode() != ErrRecordNotAvailable) {
                    maintenanceMessage(WordList.path(), "Record read error!\r\n" + errorText());
                    return finish(false);
                }
                return finish(true);
            }
            position_ = WordList.position();
            ++done_;
            auto it = tally_.find(WOR.WORDID);
            if (!writeWord(it == tally_.end() ? 0 : it->second)) return finish(false);
        }
    } else {
        for (int i = 0; i < batch_; ++i, ++index_, ++done_) {
            if (index_ >= removed_.size()) return finish(true);
            WordList.clearBuffer();
            WOR.WORDID = removed_[index_].first;
            if (!WordList.get(WOR_by_WordId)) {
                if (errorCode() == ErrRecordNotFound || errorCode() == ErrRecordNotAvailable) continue;  // gone
                maintenanceMessage(WordList.path(), "Record read error!\r\n" + errorText());
                return finish(false);
            }
            if (!writeWord(WOR.WORDCOUNT - removed_[index_].second)) return finish(false);
        }
    }
    if (!txn_.commit()) return finish(false);
    return true;
}

} // namespace qb

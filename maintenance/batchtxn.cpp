#include "maintenance/batchtxn.h"

#include "core/access.h"
#include "core/globals.h"
#include "core/storage.h"
#include "core/ui.h"

namespace qb {

constexpr int kCommitEvery = 400;

void maintenanceMessage(const std::string& title, const std::string& text) {
    if (!unattended()) ui().message(title, text, Icon::Exclamation);
}

BatchTxn::~BatchTxn() {
    // A step that ends without committing keeps nothing half done.
    rollback();
}

bool BatchTxn::begin() {
    if (open_) return true;
    beginTransaction(tables_, 5);
    if (transactionCheck() != 0) return false;
    open_ = true;
    changes_ = 0;
    return true;
}

bool BatchTxn::changed(int rows) {
    changes_ += rows;
    if (changes_ <= kCommitEvery) return true;
    if (!commit()) return false;
    return begin();
}

bool BatchTxn::commit() {
    if (!open_) return true;
    if (beforeCommit_ && !beforeCommit_()) {
        // The failed write has rolled the transaction back.
        if (inTransaction()) rollbackTransaction();
        open_ = false;
        changes_ = 0;
        return false;
    }
    open_ = false;
    changes_ = 0;
    if (commitTransaction()) return true;
    const std::string why = errorText();
    rollbackTransaction();
    maintenanceMessage("Warning!", "Transaction Frame Error!\r\n" + why);
    return false;
}

void BatchTxn::rollback() {
    if (!open_) return;
    open_ = false;
    changes_ = 0;
    rollbackTransaction();
}

} // namespace qb

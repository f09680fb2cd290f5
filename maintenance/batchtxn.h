// The transaction of a maintenance step: begun on the first change, committed
// when more than 400 rows have changed since the last commit and at the end of
// each batch, so that a step killed at any point loses at most one batch of
// changes and leaves every table readable.
#pragma once
#include <functional>
#include <string>
#include <vector>

namespace qb {

class Table;

class BatchTxn {
public:
    BatchTxn() = default;
    ~BatchTxn();
    BatchTxn(const BatchTxn&) = delete;
    BatchTxn& operator=(const BatchTxn&) = delete;

    // The tables of the transactions to come (a step sets its own).
    void setTables(std::vector<Table*> tables) { tables_ = std::move(tables); }
    // Run before every commit, inside the transaction (writes that belong
    // with the batch); false fails the commit.
    void setBeforeCommit(std::function<bool()> f) { beforeCommit_ = std::move(f); }
    // Begins the transaction when none is open (time-out 5 seconds). False
    // after "Transaction Frame Error!" when it cannot begin.
    bool begin();
    // Counts changed rows; commits when more than 400 changed since the last
    // commit. False after a message when the commit failed.
    bool changed(int rows);
    // Commits the open transaction, if any. False after a message.
    bool commit();
    // Rolls the open transaction back, if any.
    void rollback();
    bool isOpen() const { return open_; }

private:
    std::vector<Table*> tables_;
    std::function<bool()> beforeCommit_;
    bool open_ = false;
    int changes_ = 0;
};

// Shows a maintenance error box unless the run is unattended.
void maintenanceMessage(const std::string& title, const std::string& text);

} // namespace qb

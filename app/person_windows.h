// Windows of the person menu: the person browse with its forms (name change,
// aliases and swap, the messages of a sender, the merge window) and the
// merging of duplicate persons.
#pragma once
#include <QDialog>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/tables.h"

class QTreeWidget;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;

namespace qb {

class DuplicateMerge;

// " Forum Members [...]": every person of the active database, by last name or by address.
class PersonBrowse : public QWidget {
    Q_OBJECT
public:
    explicit PersonBrowse(QWidget* parent = nullptr);
    QTreeWidget* list() const { return list_; }
    void reload();
    void sortByAddress(bool on);
    // The person of the current row, or 0.
    uint32_t currentId() const;
    bool selectPerson(uint32_t id);
    // The commands; each works on the current row (the merge window takes the
    // selected rows). They return the window they open, or nullptr.
    QDialog* showAliases();
    QWidget* openMerge();
    QDialog* showMessages();
    QDialog* changeName();

private:
    QTreeWidget* list_;
    QRadioButton* byName_;
    QRadioButton* byAddress_;
    uint32_t forumId_;
};

// " Update Forum Member name": the names can change, nothing else.
class PersonNameForm : public QDialog {
    Q_OBJECT
public:
    PersonNameForm(const PersonRec& person, QWidget* parent = nullptr);
    QLineEdit* lastField() const { return last_; }
    QLineEdit* firstField() const { return first_; }
    // "Save changes": true when saved (the form closes); false keeps it open.
    bool save();

private:
    PersonRec opened_;
    QLineEdit* last_;
    QLineEdit* first_;
};

// " Current address for ...": the current address and identity string, the
// aliases, and the swap with the highlighted one.
class AliasWindow : public QDialog {
    Q_OBJECT
public:
    AliasWindow(const PersonRec& person, QWidget* parent = nullptr);
    QTreeWidget* list() const { return list_; }
    QLabel* currentLabel() const { return current_; }
    // Exchanges the current address and string with those of alias row `row`.
    bool swapWith(int row);
    // Accept: stores the current string when it changed. True when done.
    bool acceptChoice();

private:
    void showCurrent();
    PersonRec person_;
    std::string string_, address_;
    QLabel* current_;
    QTreeWidget* list_;
};

// The merge window: the collected persons, one of them kept.
class MergeWindow : public QWidget {
    Q_OBJECT
public:
    explicit MergeWindow(QWidget* parent = nullptr);
    QTreeWidget* list() const { return list_; }
    void addPerson(const PersonRec& p);
    // "Keep highlighted person", "Remove highlighted person fron merge".
    void keepRow(int row);
    void removeRow(int row);
    uint32_t keptId() const { return keep_; }
    // "Merge selected persons": false when nothing could be merged.
    bool mergeSelected();

private:
    void refresh();
    QTreeWidget* list_;
    std::vector<PersonRec> persons_;
    uint32_t keep_ = 0;
};

// " Duplicate Merging [...]": the passes of the duplicate merge with their
// counts and statistics. Scheduled (a task runs) it starts by itself,
// reports its end and closes.
class DuplicatesWindow : public QWidget {
    Q_OBJECT
public:
    explicit DuplicatesWindow(QWidget* parent = nullptr);
    ~DuplicatesWindow() override;
    void start();
    bool running() const;
    // One tick of the run (the timer calls it).
    void tick();
    // "End this session": asks during passes 5-7; true when the window may close.
    bool endSession();
    QLabel* statusLabel() const { return status_; }
    QLabel* countLabel(int i) const { return counts_[i]; }
    const DuplicateMerge* run() const { return run_.get(); }

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void showCounts();
    void finish();
    void report(int result);
    bool scheduled_;
    uint32_t database_;
    std::unique_ptr<DuplicateMerge> run_;
    QLabel* status_;
    QLabel* counts_[8];
    QProgressBar* bar_;
    QPushButton* startButton_;
    QTimer* timer_;
    bool reported_ = false;
};

} // namespace qb

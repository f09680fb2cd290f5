// The windows of topics and key words: the entry lists (" List of Topics",
// " List of Key Words"), the entry form in its three modes, the key-word run
// with its progress, the topics browse (procedure BrowseTopics) and the
// classification window beside a browse (procedure Classify).
#pragma once
#include <QDialog>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "reading/topics.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QProgressBar;
class QPushButton;
class QTabBar;
class QTreeWidget;
class QTimer;

namespace qb {

class BrowseWindow;

// Fills a tree widget with the entries of one type in the list's columns.
void fillEntryTree(QTreeWidget* tree, uint8_t type, const std::vector<Entry>& entries);

// The entry list: choosing a row (double click or "Select") accepts the
// dialog with the chosen entry.
class EntryListDialog : public QDialog {
    Q_OBJECT
public:
    EntryListDialog(uint8_t type, QWidget* parent = nullptr);
    QTreeWidget* tree() const { return tree_; }
    std::optional<Entry> chosen() const { return chosen_; }
    void choose(int row);

private:
    uint8_t type_;
    std::vector<Entry> entries_;
    QTreeWidget* tree_;
    std::optional<Entry> chosen_;
};

// The entry form: add, update or delete one topic or key word.
class EntryForm : public QDialog {
    Q_OBJECT
public:
    enum Mode { Add = 1, Update = 2, Delete = 3 };
    // entry: the row as read (update, delete); ignored for add.
    EntryForm(Mode mode, uint8_t type, const Entry& entry = {}, QWidget* parent = nullptr);
    QLineEdit* nameEdit() const { return name_; }
    QCheckBox* matchCase() const { return case_; }
    QCheckBox* wholeWords() const { return words_; }
    QPushButton* acceptButton() const { return ok_; }
    // The write of the form; true when it is done (the form closes).
    bool save();
    const Entry& result() const { return result_; }

private:
    Mode mode_;
    uint8_t type_;
    Entry before_, result_;
    QLineEdit* name_;
    QCheckBox *case_ = nullptr, *words_ = nullptr;
    QPushButton* ok_;
};

// A key-word run driven by a timer, one batch a tick, with its progress.
class KeywordRunDialog : public QDialog {
    Q_OBJECT
public:
    KeywordRunDialog(std::vector<uint32_t> ids, QWidget* parent = nullptr);
    ~KeywordRunDialog() override;
    bool finished() const;
    void tick();
    const KeywordRun& run() const { return *run_; }

private:
    std::unique_ptr<KeywordRun> run_;
    QProgressBar* bar_;
    QLabel* status_;
    QPushButton* cancel_;
    QTimer* timer_;
};

// Runs the key words with the progress dialog until the end.
void runKeyWordsWithProgress(const std::vector<uint32_t>& ids, QWidget* parent);

// The topics browse: topics and key words of the active database.
class TopicsBrowse : public QWidget {
    Q_OBJECT
public:
    explicit TopicsBrowse(QWidget* parent = nullptr);
    void refresh();
    void setKeyWords(bool keyWords);
    bool showingKeyWords() const { return keyWords_; }
    QTreeWidget* tree() const { return tree_; }
    std::optional<Entry> highlighted() const;
    QPushButton* addButton() const { return add_; }
    QPushButton* deleteButton() const { return delete_; }
    void openForm(int mode);
    void runHighlighted();

private:
    uint32_t db_;
    bool keyWords_ = false;
    std::vector<Entry> entries_;
    QTabBar* tabs_;
    QTreeWidget* tree_;
    QPushButton *add_, *change_, *delete_, *run_;
};

// The classification window: every topic with a mark for the browse's
// current message; toggling a topic attaches or detaches it.
class ClassifyWindow : public QWidget {
    Q_OBJECT
public:
    explicit ClassifyWindow(QWidget* parent = nullptr);
    void refresh();                 // the topics again, and the marks
    void follow(uint32_t messageId);  // the marks of another message
    uint32_t messageId() const { return message_; }
    QListWidget* list() const { return list_; }
    // Toggles the topic of this row; false when the write failed.
    bool toggle(int row);
    void removeFromList(int row);   // leaves the topic itself alone

private:
    struct Item {
        Entry entry;
        int mark = 2;  // 1 attached, 2 not attached
    };
    void fillList();
    void showRow(int row);
    uint32_t db_;
    uint32_t message_ = 0;
    std::vector<Item> items_;
    std::vector<uint32_t> hidden_;
    QLabel* heading_;
    QListWidget* list_;
    bool filling_ = false;
};

// After a change of the entries or links: the open topics browse, the
// classification window and the browse's topic tab show it.
void entriesChanged();

} // namespace qb

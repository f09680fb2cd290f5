// The windows of the word index: indexing (AutoIndex), the word-definition
// wizard (SetIndex), the professional search (SearchWz), the word list
// (WordList) and the ignore list (StopList).
#pragma once
#include <QDialog>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "wordsearch/indexer.h"
#include "wordsearch/prosearch.h"
#include "wordsearch/wordlists.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTableWidget;
class QTimer;

namespace qb {

class IndexWindow : public QWidget {
    Q_OBJECT
public:
    explicit IndexWindow(QWidget* parent = nullptr);
    ~IndexWindow() override;
    void runMode(int mode);
    bool running() const { return run_ != nullptr; }
    QString adviceShown() const;

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void showAdvice();
    void tick();
    void finishRun();
    // A task's job: its end goes to the task manager once.
    void report(int result);

    bool scheduled_ = false, reported_ = false, stopped_ = false;
    uint32_t database_ = 0;

    uint8_t advice_ = AdviceNone;
    uint32_t position_ = 0, count_ = 0;
    int32_t needsUpdate_ = 0;
    bool readOk_ = false;
    std::unique_ptr<WordIndexer> run_;
    QLabel* advice_label_;
    QLabel* status_;
    QProgressBar* bar_;
    QPushButton *partial_, *full_, *recount_, *cancel_;
    QTimer* timer_;
};

class LookupDialog : public QDialog {
    Q_OBJECT
public:
    explicit LookupDialog(QWidget* parent = nullptr);
    QLineEdit* text;
    QCheckBox *whole, *starts, *soundex, *approx, *phrase, *memos;
    QSpinBox* degree;
    LookupOptions options() const;

private:
    void applyRules();
    bool starPrev_ = false;
};

class ProSearchWindow : public QWidget {
    Q_OBJECT
public:
    explicit ProSearchWindow(QWidget* parent = nullptr);
    ~ProSearchWindow() override;
    // Looks the text up as the lookup window would, filling the hits list.
    bool lookup(const QString& text, const LookupOptions& opt);
    void addHighlighted(bool toAnd);
    void getMessages(bool nextBlock);
    void toggleNot();
    void deleteSelected();
    // Moves entry `row` of one list to the end of the other.
    void moveEntry(bool fromAnd, int row);
    const std::vector<uint32_t>& result() const { return result_; }
    std::vector<LookupHit> hits;
    std::vector<ListEntry> andList, orList;
    std::vector<std::string> phrase, found;
    ProSearchState state;

    QListWidget *hitsList, *andView, *orView, *resultView;

signals:
    // The Search table holds a new result (empty when nothing was found).
    void searchDone(int messages);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refreshLists();
    std::vector<uint32_t> result_;
    QLabel* count_;
    uint8_t forumType_ = 0;
};

class WordListWindow : public QWidget {
    Q_OBJECT
public:
    explicit WordListWindow(QWidget* parent = nullptr);
    void sortBy(bool byCount);
    void toggleCurrent();
    // Moves to the first row at or after the typed value: a count in count
    // order (highest first), a word in word order.
    void locate(const QString& typed);
    WordListMarks marks;
    QTableWidget* table;

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void fill();
    std::vector<IndexedWord> words_;
    bool byCount_ = true;
};

class StopListWindow : public QWidget {
    Q_OBJECT
public:
    explicit StopListWindow(QWidget* parent = nullptr);
    void reload();
    QListWidget* list;

private:
    void edit(int request);
};

class WordDefWizard : public QDialog {
    Q_OBJECT
public:
    explicit WordDefWizard(QWidget* parent = nullptr);
    RuleSet rules;
    QTableWidget* table;
    QComboBox* sets;
    QCheckBox *numbers, *forumFooters, *newsFooters, *stopForum, *stopNews, *stopMail;
    QSpinBox* pause;
    void toggleCell(int row, int column);
    bool saveAndReindex();
    bool finish();

private:
    void loadRules(const RuleSet& r);
    WordIndexSettings settings_;
};

} // namespace qb

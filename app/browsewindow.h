// The browse windows: the mail browse (procedure BrowseMail) and the message
// browse of forum and newsgroup databases (BrowseMsgNmbr), with the viewer
// pane, the person/thread/section limits, the status popup and the bookmark.
#pragma once
#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/startup.h"
#include "reading/browseview.h"
#include "wordsearch/textsearch.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabBar;

namespace qb {

class BatchDialog;
class BrowseModel;
class BrowseListView;

class BrowseWindow : public QWidget {
    Q_OBJECT
public:
    // mail: the mail browse, else the message browse. The tables of the active
    // database are opened here and closed when the window goes.
    explicit BrowseWindow(bool mail, QWidget* parent = nullptr);
    ~BrowseWindow() override;

    bool isMail() const { return mail_; }
    int tab() const { return tab_; }
    void setTab(int tab);                   // 1-based
    const BrowseChoice& choice() const { return choice_; }
    BrowseModel* model() const { return model_; }
    BrowseListView* listView() const { return list_; }

    // The highlighted message and its row.
    uint32_t currentId() const;
    std::optional<ViewRow> currentRow() const;
    ViewSpec currentSpec() const;

    // Limits the person tabs (partner 3, sender 4, receiver 5 of the mail
    // browse; sender 4, receiver 5 of the message browse) to this person.
    void choosePerson(int tab, uint32_t personId, const std::string& alpha, const std::string& label);
    void chooseThread(uint32_t threadId, const std::string& alpha, const std::string& label);
    void chooseSection(uint32_t sectionId, const std::string& label);
    void chooseWord(const std::string& word);   // key-word tab
    void chooseTopic(const std::string& topic); // topic tab
    void clearChoice();
    QString choiceText() const;

    // "Previous ..." / "Next ..." of the current tab's person or thread.
    bool stepChoice(bool forward);

    // Makes the list show the message (found by a search or chosen in the tree).
    bool showMessage(uint32_t id);
    void showFound(const ViewRow& row, uint32_t id, const SearchOptions& how, bool inSubject);
    // A new result of the professional search: the search-result tab shows
    // it at once, and the viewer marks the words found.
    void showSearchResult(const std::vector<std::string>& foundWords);
    // The (start, end) places of the marked words on the viewer's page.
    std::vector<std::pair<size_t, size_t>> markedPlaces() const;

    // Viewer
    int pageCount() const { return static_cast<int>(pages_.size()); }
    int page() const { return page_; }
    void setPage(int p);
    QString viewerText() const;

    // Status popup commands ("Keep Message", "Delete Thread", ...).
    QStringList statusCommands() const;
    bool runStatusCommand(const QString& command);

    // Bookmark
    void bookmarkButton();
    bool hasBookmark() const { return bookmarkSet_; }
    QString bookmarkText() const;
    void setBookmark();

    // The text copied to the clipboard for the highlighted message.
    std::string copyText() const;
    void copyToClipboard();

    // The batch dialog for the highlighted message (export, print, classify,
    // status); it deletes itself when closed.
    BatchDialog* batchDialog();
    void openBatch();

    // Called with the database ID when the user confirms the removal of a
    // database marked for deletion. Without a handler the user is told.
    static void setDatabaseRemoval(std::function<bool(uint32_t)> handler);

signals:
    void messageShown(uint32_t id);

private:
    // Where the layout of this window and its list is kept (window 2 and list
    // 3 for the mail browse, window 3 and list 4 for the message browse).
    int layoutWindow() const { return mail_ ? 2 : 3; }
    int layoutList() const { return mail_ ? 3 : 4; }
    void build();
    void applyView(uint32_t keepId);
    void locatorEntered();
    void messageChanged();
    void showPage();
    void updateLabels();
    void askDeletion();
    bool ofActiveDatabase() const;
    void openSearch();
    void openTree();
    void lookUpTopic();
    void contextMenu(const QPoint& p);

    bool mail_;
    int tab_ = 1;
    BrowseChoice choice_;
    QString choiceLabel_[10];
    BrowseModel* model_ = nullptr;
    BrowseListView* list_ = nullptr;
    QTabBar* tabs_ = nullptr;
    QLabel* caption_ = nullptr;
    QLineEdit* locator_ = nullptr;
    QLabel* choiceView_ = nullptr;
    QPushButton* prevButton_ = nullptr;
    QPushButton* nextButton_ = nullptr;
    QPushButton* clearButton_ = nullptr;
    QPushButton* topicList_ = nullptr;
    QPushButton* bookmark_ = nullptr;
    QPushButton* pagePrev_ = nullptr;
    QPushButton* pageNext_ = nullptr;
    QLabel* pageLabel_ = nullptr;
    QLabel* countLabel_ = nullptr;
    QPlainTextEdit* viewer_ = nullptr;
    std::vector<int> tables_;
    std::vector<std::string> pages_;
    int page_ = 0;
    uint32_t shownId_ = 0;
    uint32_t bookmarkId_ = 0;
    bool bookmarkSet_ = false;
    std::vector<std::pair<size_t, size_t>> hitsOnPage(const std::string& text) const;
    std::optional<SearchOptions> highlight_;
    std::vector<std::string> foundWords_;  // of the professional search, marked on its tab
    uint32_t highlightId_ = 0;
};


// The open browse window of the active database, or nullptr.
BrowseWindow* openBrowse();
// The open browse window of this database (FOR:ID), or nullptr.
BrowseWindow* openBrowseOf(uint32_t forumId);

} // namespace qb

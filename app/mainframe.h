// The main frame: the application window with the menus from which every
// procedure is started, the toolbar, and the status bar with date and time.
#pragma once
#include <QMainWindow>
#include <QString>
#include <map>
#include <string>

class QAction;
class QLabel;
class QMenu;
class QTimer;
class QToolBar;

namespace qb {

class MainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit MainFrame(QWidget* parent = nullptr);

    // The menu command that starts this procedure (also when disabled), or
    // nullptr. "BrowseMail" and "BrowseMsgNmbr" share one command, which
    // names the one that fits the active database.
    QAction* procedureAction(const std::string& procedure) const;
    QMenu* personMenu() const { return personMenu_; }
    QMenu* databaseMenu() const { return databaseMenu_; }
    QToolBar* toolBar() const { return toolBar_; }
    QString statusDate() const;
    QString statusTime() const;

    // Title, menu texts and enabled commands from the active database.
    void refreshDatabase();
    // Date and time in the status bar, in the user's formats.
    void refreshClock();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QAction* addProcedure(QMenu* menu, const QString& text, const std::string& procedure, bool needsDatabase);
    void runProcedure(const std::string& procedure);
    void restoreLayout();
    void storeLayout();
    bool closeProcedureWindows();

    QMenu* databaseMenu_ = nullptr;
    QMenu* personMenu_ = nullptr;
    QMenu* searchMenu_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QAction* browseMessages_ = nullptr;
    QAction* toolbarToggle_ = nullptr;
    QLabel* centre_ = nullptr;
    QLabel* dateLabel_ = nullptr;
    QLabel* timeLabel_ = nullptr;
    QLabel* databaseLabel_ = nullptr;
    QTimer* clock_ = nullptr;
    QTimer* taskTick_ = nullptr;
    std::map<std::string, QAction*> actions_;
    std::map<QAction*, bool> needsDatabase_;
};

// The frame's text pieces for a database kind (1 forum, 2 mail, 3 newsgroup;
// anything else: no active database).
struct PersonMenuTexts {
    QString menu, browse, merge;
};
PersonMenuTexts personMenuTexts(int forumType);
// The frame's title for the active database (Mem.*).
QString frameTitle();

// Opens the main window for the home directory after the start-up sequence
// and runs it until it closes; the exit status. Without a display it says
// so on stderr and returns 1.
int runMainWindow(const std::string& home);

} // namespace qb

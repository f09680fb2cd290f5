// Windows of the database registry: the database selection list, the window
// that adds forum databases, the rebuild and the next-ID check.
#pragma once
#include <QWidget>
#include <cstdint>
#include <memory>

class QTreeWidget;
class QLineEdit;
class QLabel;
class QProgressBar;
class QPushButton;
class QPlainTextEdit;
class QTimer;

namespace qb {

class Rebuild;
class NextIdCheck;

// The databases of one kind (0 all) with name, directory, messages, import
// allowed and count current. Choosing a row makes it the active database.
class DatabaseSelection : public QWidget {
    Q_OBJECT
public:
    explicit DatabaseSelection(int kind, QWidget* parent = nullptr);
    QTreeWidget* list() const { return list_; }
    void reload();
    // The row's database becomes the active one; the window closes.
    bool chooseRow(int row);
    // "Allow import" / "Disallow import" of the popup for a row.
    bool setImport(int row, bool allowed);
    // "Add mail database...": the mail database dialog for a new database.
    QWidget* addMailDatabase();
    // "Update alternative addresses": the dialog for the row's mail database;
    // nullptr when the row is not a mail database.
    QWidget* updateMailDatabase(int row);

private:
    void popup(const QPoint& at);
    int kind_;
    QTreeWidget* list_;
};

// " Add New Forum": one name field, "Save new Forum"; stays open for more.
class AddForumWindow : public QWidget {
    Q_OBJECT
public:
    explicit AddForumWindow(QWidget* parent = nullptr);
    QLineEdit* nameField() const { return name_; }
    QLabel* statusLabel() const { return status_; }
    // The accept button's work; the new FOR:ID or 0.
    uint32_t save();

private:
    QLineEdit* name_;
    QLabel* status_;
};

// Runs the rebuild (or the next-ID check alone) by a timer, one step a tick,
// and shows the log when it is over.
class RebuildWindow : public QWidget {
    Q_OBJECT
public:
    explicit RebuildWindow(bool idCheckOnly, QWidget* parent = nullptr);
    ~RebuildWindow() override;
    void start();
    bool running() const;
    QLabel* statusLabel() const { return status_; }
    QPlainTextEdit* logView() const { return log_; }

private:
    void tick();
    void finish();
    bool idCheckOnly_;
    std::unique_ptr<Rebuild> rebuild_;
    std::unique_ptr<NextIdCheck> check_;
    QLabel* status_;
    QProgressBar* bar_;
    QPushButton* startButton_;
    QPlainTextEdit* log_;
    QTimer* timer_;
};

} // namespace qb

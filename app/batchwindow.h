// The batch operations of the browses: the dialog that chooses the operation
// (export, print, classify, status), the scope and the options, and the
// window that runs it a batch per timer tick. Also the address export dialog
// (procedure AddressExport).
#pragma once
#include <QDialog>
#include <QPrinter>
#include <QWidget>
#include <memory>
#include <optional>

#include "reading/export.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

class QPushButton;
class QRadioButton;
class QTimer;

namespace qb {

class PagedReport;

class BatchDialog : public QDialog {
    Q_OBJECT
public:
    // For the database active now; currentId is the browse's current message
    // and choice its key word and topic.
    BatchDialog(uint32_t currentId, const ScopeChoice& choice, QWidget* parent = nullptr);

    // Operations as shown: 0 export, 1 print, 2 classify, 3 status.
    void setOperation(int index);
    int operation() const;
    void setScope(uint8_t scope);
    void setTarget(int target);
    QLineEdit* firstName() const { return file1_; }
    QLineEdit* secondName() const { return file2_; }
    QCheckBox* appendBox() const { return append_; }
    QCheckBox* dateRangeBox() const { return range_; }
    QLineEdit* fromDate() const { return from_; }
    QLineEdit* toDate() const { return to_; }
    QComboBox* topicBox() const { return topic_; }
    QCheckBox* removeBox() const { return remove_; }
    void setStatusChoice(int status);  // 0 normal, 1 keep, 2 delete
    QString captionText() const;

    // The checks before starting: the box that refuses, or the request.
    std::optional<BoxText> check(BatchRequest& out) const;
    // OK: checks, asks where it must, keeps the settings and opens the batch
    // window (or copies to the clipboard for scope 0). The window, or nullptr.
    QWidget* startBatch();

private:
    void update();
    void targetChanged();
    void keepContext(const BatchRequest& r) const;
    void restoreContext();

    uint32_t currentId_;
    ScopeChoice choice_;
    uint8_t kind_;
    QButtonGroup* ops_;
    QLabel* caption_;
    QComboBox* scope_;
    QComboBox* target_;
    QLineEdit* file1_;
    QLineEdit* file2_;
    QLabel* file2Label_;
    QCheckBox* append_;
    QCheckBox* range_;
    QLineEdit* from_;
    QLineEdit* to_;
    QComboBox* topic_;
    QCheckBox* remove_;
    QButtonGroup* status_;
    QWidget* exportBox_;
    QWidget* classifyBox_;
    QWidget* statusBox_;
};

// Runs one batch operation; shows the working text, then the end text.
class BatchWindow : public QWidget {
    Q_OBJECT
public:
    // printer: the printer chosen for a print run (the window owns it).
    BatchWindow(const BatchRequest& r, std::unique_ptr<QPrinter> printer = nullptr, QWidget* parent = nullptr);
    ~BatchWindow() override;
    QString statusText() const;
    bool finished() const { return finished_; }
    const BatchRun& run() const { return *run_; }
    void abortRun();
    // Runs the timer's work until the end (tests).
    void runToEnd();

private:
    void tick();
    void end(const QString& text);
    std::unique_ptr<QPrinter> printer_;
    std::unique_ptr<PagedReport> report_;
    std::unique_ptr<BatchRun> run_;
    QLabel* status_;
    QLabel* count_;
    QPushButton* abort_;
    QTimer* timer_;
    bool finished_ = false;
};

// Procedure AddressExport: the target and the file name, then the export.
class AddressExportDialog : public QDialog {
    Q_OBJECT
public:
    explicit AddressExportDialog(QWidget* parent = nullptr);
    QComboBox* targetBox() const { return target_; }
    QLineEdit* fileName() const { return file_; }
    // Writes the file; the number of entries or -1.
    long long exportNow();
    QString resultText() const;

private:
    QComboBox* target_;
    QLineEdit* file_;
    QLabel* result_;
};

} // namespace qb

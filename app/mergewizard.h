// The merge wizard (procedure "MergeMeny"): the source and the target
// database, each typed or looked up, and the progress window that drives the
// merge's step machine from a timer.
#pragma once
#include <QWidget>
#include <cstdint>
#include <memory>

#include "app/runwindow.h"

class QDialog;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace qb {

class MergeRun;

class MergeProgressWindow : public RunWindow {
    Q_OBJECT
public:
    MergeProgressWindow(uint32_t sourceId, uint32_t targetId, QWidget* parent = nullptr);
    ~MergeProgressWindow() override;
    MergeRun& run() { return *run_; }
    QString fromText() const;
    QString toText() const;
    QString progressText() const;

protected:
    bool runFinished() const override;
    void runStep() override;
    bool runRequestStop() override;
    void refresh() override;
    void runEnded() override;

private:
    std::unique_ptr<MergeRun> run_;
    QLabel *from_, *to_, *text_, *totals_;
    QProgressBar* bar_;
};

class MergeWizard : public QWidget {
    Q_OBJECT
public:
    explicit MergeWizard(QWidget* parent = nullptr);

    int page() const;
    QLineEdit* sourceField() const { return source_; }
    QLineEdit* targetField() const { return target_; }
    QPushButton* nextButton() const { return next_; }
    QPushButton* backButton() const { return back_; }
    QPushButton* startButton() const { return start_; }
    // The look-up list of databases for the field of the page; choosing a
    // row fills the field.
    QDialog* lookUp();
    // The checks, then the progress window; nullptr when a check failed (the
    // wizard stays on the page to choose again).
    MergeProgressWindow* start();

private slots:
    void goBack();
    void goNext();

private:
    void showPage(int n);
    // FOR:ID of the database named in the field, 0 (after a message) when none.
    uint32_t chosen(QLineEdit* field);

    QStackedWidget* pages_;
    QLineEdit *source_, *target_;
    QPushButton *back_, *next_, *start_;
};

} // namespace qb

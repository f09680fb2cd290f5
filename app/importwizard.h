// The import wizard (procedure "ImportMeny") and the progress window of an
// import run, which drives the run's step machine from a timer.
#pragma once
#include <QWidget>
#include <memory>
#include <vector>

#include "app/runwindow.h"
#include "import/parser.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStackedWidget;

namespace qb {

class ImportRun;

class ImportProgressWindow : public RunWindow {
    Q_OBJECT
public:
    ImportProgressWindow(const ImportSettings& settings, QWidget* parent = nullptr);
    ~ImportProgressWindow() override;
    ImportRun& run() { return *run_; }

protected:
    bool runFinished() const override;
    void runStep() override;
    bool runRequestStop() override;
    void refresh() override;
    void runEnded() override;

private:
    std::unique_ptr<ImportRun> run_;
    QLabel *heading_, *from_, *to_, *text_, *totals_;
    QProgressBar *current_, *overall_;
};

class ImportWizard : public QWidget {
    Q_OBJECT
public:
    explicit ImportWizard(QWidget* parent = nullptr);

    // The settings as the pages show them now.
    ImportSettings settings() const;
    bool saveSession() const;
    int page() const;
    int pageCount() const;
    // Selects the reader of this catalogue number (fills mask and kinds).
    void chooseReaderNumber(int number);
    // Start: the checks, the saved definition, then the progress window.
    // nullptr when a check failed.
    ImportProgressWindow* start();

    QPushButton* backButton() const { return back_; }
    QPushButton* nextButton() const { return next_; }
    QPushButton* startButton() const { return start_; }

private slots:
    void goBack();
    void goNext();
    void readerChanged();
    void methodChanged();
    void selectPath();
    void mailDbChanged();

private:
    void showPage(int n);
    void loadDatabases();
    void loadTopics();

    QStackedWidget* pages_;
    QListWidget* readers_;
    QCheckBox *mail_, *forum_, *news_;
    QComboBox *mailDb_, *forumDb_, *topic_;
    QRadioButton *allMsgs_, *createOnly_;
    QButtonGroup* method_;
    QLabel* pathTitle_;
    QLineEdit *path_, *masks_;
    QLabel* masksLabel_;
    QCheckBox *reimport_, *attachTopic_, *save_;
    QPushButton *back_, *next_, *start_, *select_;
    std::vector<uint32_t> mailIds_, forumIds_, topicIds_;
};

} // namespace qb

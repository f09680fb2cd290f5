// The standard search windows beside a browse: SearchMail for mail databases,
// SearchMsg for forum and newsgroup databases.
#pragma once
#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>
#include <memory>

#include "reading/browseview.h"
#include "wordsearch/textsearch.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;

namespace qb {

class SearchWindow : public QWidget {
    Q_OBJECT
public:
    explicit SearchWindow(bool mail, QWidget* parent = nullptr);
    SearchOptions options() const;
    void setOptions(const SearchOptions& o);
    // "Find next occurance of text": starts or continues the scan.
    void findNext();
    bool running() const;
    // Runs the scan to its next stop without the timer (tests, scripts).
    SearchState finishNow();
    // Messages per timer tick.
    void setBatch(int n) { batch_ = n > 0 ? n : 1; }
    // Show the completion time at the end of the view.
    void setTiming(bool on) { timing_ = on; }

    // The search text, shared by both windows and kept between searches.
    static std::string& sharedText();

signals:
    void finished(SearchState state);

private:
    void tick();
    SearchState stepOnce(int batch);
    void optionsChanged();

    bool mail_;
    QLineEdit* text_;
    QRadioButton* oldest_;
    QRadioButton* newest_;
    QCheckBox* matchCase_;
    QCheckBox* words_;
    QCheckBox* subjectOnly_;
    QLineEdit* from_;
    QLineEdit* to_;
    QGroupBox* optionsBox_;
    QPushButton* find_;
    QTimer* timer_;
    std::unique_ptr<TextSearch> search_;
    std::unique_ptr<ViewSearchSource> source_;
    bool fresh_ = true;
    uint32_t lastHit_ = 0;
    QPointer<QWidget> browse_;  // the browse the running search reads
    int batch_ = 50;
    bool timing_ = false;
    QElapsedTimer clock_;
};

} // namespace qb

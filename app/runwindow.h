// A progress window that drives a step machine from a timer: one batch per
// tick. Its Stop button, and closing the window, ask the run to stop first;
// once the run has ended the button closes the window, and finished() is
// emitted once.
#pragma once
#include <QWidget>

class QPushButton;
class QTimer;

namespace qb {

class RunWindow : public QWidget {
    Q_OBJECT
public:
    // Runs ticks until the run ends (tests and scripted use).
    void runToEnd();
    QPushButton* stopButton() const { return stop_; }

signals:
    void finished();

protected:
    explicit RunWindow(QWidget* parent);
    // Starts the timer; the last call of the subclass's constructor.
    void startRun();
    virtual bool runFinished() const = 0;
    virtual void runStep() = 0;
    virtual bool runRequestStop() = 0;
    virtual void refresh() = 0;
    // Once, when the run has ended, before finished().
    virtual void runEnded() {}
    void closeEvent(class QCloseEvent* e) override;

    QPushButton* stop_;

private slots:
    void tick();
    void stopClicked();

private:
    QTimer* timer_;
    bool notified_ = false;
};

} // namespace qb

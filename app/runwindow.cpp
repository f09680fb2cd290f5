#include "app/runwindow.h"

#include <QCloseEvent>
#include <QPushButton>
#include <QTimer>

namespace qb {

RunWindow::RunWindow(QWidget* parent) : QWidget(parent) {
    stop_ = new QPushButton("&Stop");
    connect(stop_, &QPushButton::clicked, this, &RunWindow::stopClicked);
    timer_ = new QTimer(this);
    timer_->setInterval(0);
    connect(timer_, &QTimer::timeout, this, &RunWindow::tick);
}

void RunWindow::startRun() {
    timer_->start();
    refresh();
}

void RunWindow::tick() {
    if (!runFinished()) runStep();
    refresh();
    if (!runFinished()) return;
    timer_->stop();
    stop_->setText("&Close");
    if (notified_) return;
    notified_ = true;
    runEnded();
    emit finished();
}

void RunWindow::runToEnd() {
    while (!runFinished()) tick();
    tick();
}

void RunWindow::stopClicked() {
    if (runFinished()) {
        close();
        return;
    }
    timer_->stop();
    if (!runRequestStop()) timer_->start();
    tick();
}

void RunWindow::closeEvent(QCloseEvent* e) {
    if (!runFinished()) {
        timer_->stop();
        if (!runRequestStop()) {
            timer_->start();
            e->ignore();
            return;
        }
        tick();
    }
    e->accept();
}

} // namespace qb

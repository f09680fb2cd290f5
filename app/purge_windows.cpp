#include "app/purge_windows.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "app/procedures.h"
#include "core/access.h"
#include "core/globals.h"
#include "core/kinds.h"
#include "core/registry.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/ui.h"
#include "app/jobwindows.h"
#include "maintenance/taskreport.h"

namespace qb {

namespace {
QString q(const std::string& s) { return QString::fromStdString(toUtf8(s)); }

// Rows of the label grid.
enum Row { RowBefore, RowDeleted, RowAfter, RowMessages, RowThreads, RowPersons };
} // namespace

MaintenanceWindow::MaintenanceWindow(bool counting, QWidget* parent)
    : QWidget(parent), counting_(counting), database_(Mem.ForumNumber), kind_(Mem.ForumType) {
    setObjectName(counting ? "CountMess" : "PurgeMess");
    const std::string what = counting ? "Counting" : "Purging";
    setWindowTitle(q(unattended() ? " Scheduled Message " + what + " [" + Mem.Description + "]"
                                  : " Message " + what + " "));
    auto* lay = new QVBoxLayout(this);
    grid_ = new QGridLayout;
    lay->addLayout(grid_);

    const bool mail = kind_ == KindMail;
    if (!counting) {
        setRow(RowBefore, "Messages before purging", 0);
        setRow(RowDeleted, "Deleted during this session", 0);
        setRow(RowAfter, "Messages after purging", 0);
    }
    // What the database holds now, from its tables.
    {
        Table& messages = mail ? Mail : MsgNmbr;
        OP_CLOSE(OpOpenShared, messages.number(), Person.number());
        const uint64_t msgs = static_cast<uint64_t>(messages.records());
        const uint64_t persons = static_cast<uint64_t>(Person.records());
        OP_CLOSE(OpClose, messages.number(), Person.number());
        uint64_t threads = 0;
        if (!mail) {
            OP_CLOSE(OpOpenShared, Threads.number());
            threads = static_cast<uint64_t>(Threads.records());
            OP_CLOSE(OpClose, Threads.number());
        }
        setRow(RowMessages, "Number of messages in database", msgs);
        if (!mail) setRow(RowThreads, "Number of threads in database", threads);
        setRow(RowPersons, mail ? "Number of persons in database" : "Number of Forum members in database", persons);
        if (!counting) setRow(RowBefore, "Messages before purging", msgs);
    }

    if (!counting && !mail) {
        auto* row = new QHBoxLayout;
        auto* label = new QLabel(QStringLiteral("Purge threads older than (weeks, 0 none):"), this);
        weeks_ = new QSpinBox(this);
        weeks_->setObjectName("AgeWeeks");
        weeks_->setRange(0, 5200);
        row->addWidget(label);
        row->addWidget(weeks_);
        lay->addLayout(row);
    }
    status_ = new QLabel(this);
    status_->setObjectName("Status");
    bar_ = new QProgressBar(this);
    bar_->setRange(0, 1000);
    bar_->setValue(0);
    lay->addWidget(status_);
    lay->addWidget(bar_);
    auto* buttons = new QHBoxLayout;
    start_ = new QPushButton(counting ? QStringLiteral("Start the counting process")
                                      : QStringLiteral("Start the purging process"),
                             this);
    start_->setObjectName("Start");
    end_ = new QPushButton(QStringLiteral("End this session"), this);
    end_->setObjectName("End");
    buttons->addWidget(start_);
    buttons->addWidget(end_);
    lay->addLayout(buttons);

    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &MaintenanceWindow::tick);
    connect(start_, &QPushButton::clicked, this, &MaintenanceWindow::start);
    connect(end_, &QPushButton::clicked, this, &QWidget::close);
    if (unattended()) QTimer::singleShot(0, this, &MaintenanceWindow::start);
}

MaintenanceWindow::~MaintenanceWindow() {
    timer_->stop();
    if (purge_) purge_->stop();
    if (recount_) recount_->stop();
}

void MaintenanceWindow::setRow(int row, const std::string& label, uint64_t value) {
    auto* l = qobject_cast<QLabel*>(grid_->itemAtPosition(row, 0) ? grid_->itemAtPosition(row, 0)->widget() : nullptr);
    auto* v = qobject_cast<QLabel*>(grid_->itemAtPosition(row, 1) ? grid_->itemAtPosition(row, 1)->widget() : nullptr);
    if (!l) {
        l = new QLabel(this);
        v = new QLabel(this);
        v->setObjectName(QStringLiteral("Value%1").arg(row));
        v->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid_->addWidget(l, row, 0);
        grid_->addWidget(v, row, 1);
    }
    l->setText(q(label));
    v->setText(QString::number(value));
}

void MaintenanceWindow::showCounts(const CountTotals& t) {
    const bool mail = kind_ == KindMail;
    setRow(RowMessages, "Number of messages:", t.messages);
    if (mail) {
        setRow(RowThreads, "Number of mailpartners:", t.partners);
        setRow(RowPersons, "Number of persons:", t.persons);
    } else {
        setRow(RowThreads, "Number of threads:", t.threads);
        setRow(RowPersons, "Number of Forum members:", t.persons);
    }
}

void MaintenanceWindow::start() {
    if (running() || result_ != 0) return;
    if (database_ == 0) {
        finish(2);
        return;
    }
    OnDatabase on(database_);
    if (counting_) recount_ = std::make_unique<Recount>();
    else purge_ = std::make_unique<Purge>(weeks_ ? weeks_->value() : 0);
    started_ = std::chrono::steady_clock::now();
    status_->setText(q(counting_ ? " Counting Messages .. Please Wait!" : " Purging Messages .. Please Wait!"));
    start_->setEnabled(false);
    if (weeks_) weeks_->setEnabled(false);
    timer_->start(0);
}

void MaintenanceWindow::tick() {
    if (!running()) return;
    bool more = false;
    std::string text;
    long long done = 0, total = 0;
    try {
        OnDatabase on(database_);
        if (purge_) {
            more = purge_->step();
            text = purge_->status();
            done = purge_->done();
            total = purge_->total();
            setRow(RowDeleted, "Deleted during this session", purge_->deleted());
            if (purge_->counting()) showCounts(purge_->counts());
        } else {
            more = recount_->step();
            text = recount_->status();
            done = recount_->done();
            total = recount_->total();
            showCounts(recount_->totals());
        }
    } catch (const ProgramStop&) {
        timer_->stop();
        purge_.reset();
        recount_.reset();
        QApplication::exit(3);
        return;
    }
    if (!text.empty()) bar_->setFormat(q(text) + QStringLiteral("  %p%"));
    bar_->setValue(total > 0 ? static_cast<int>(std::min<long long>(1000, done * 1000 / total)) : 0);
    if (more) return;
    if (purge_) {
        setRow(RowAfter, "Messages after purging", purge_->after());
        showCounts(purge_->counts());
        finish(purge_->result());
    } else {
        showCounts(recount_->totals());
        finish(recount_->result());
    }
}

void MaintenanceWindow::finish(int result) {
    timer_->stop();
    result_ = result == 1 ? 1 : 2;
    purge_.reset();
    recount_.reset();
    bar_->setValue(result_ == 1 ? 1000 : bar_->value());
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started_).count();
    status_->setText(q("The time for completion was: " + std::to_string(seconds) + " seconds"));
    if (!unattended()) {
        // An error ends the procedure; its message has been shown.
        if (result_ != 1) QTimer::singleShot(0, this, &QWidget::close);
        return;
    }
    // Unattended: report the end and start the next job of the task.
    reportJobEnd(counting_ ? JobCount : JobPurge, database_, result_);
    QTimer::singleShot(0, this, &QWidget::close);
}

void MaintenanceWindow::closeEvent(QCloseEvent* e) {
    if (running()) {
        // Between two batches: what is committed stays; the next purge or
        // count finishes the work.
        timer_->stop();
        OnDatabase on(database_);
        if (purge_) purge_->stop();
        if (recount_) recount_->stop();
        purge_.reset();
        recount_.reset();
    }
    e->accept();
}

namespace {
const bool registered = [] {
    registerProcedure("PurgeMess", [](QWidget* p) -> QWidget* { return new MaintenanceWindow(false, p); });
    registerProcedure("CountMess", [](QWidget* p) -> QWidget* { return new MaintenanceWindow(true, p); });
    return true;
}();
} // namespace

} // namespace qb

#include "app/batchwindow.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>
#include <cstring>

#include "app/browsewindow.h"
#include "app/procedures.h"
#include "app/reportprinter.h"
#include "core/dates.h"
#include "core/globals.h"
#include "core/kinds.h"
#include "core/settings.h"
#include "core/text.h"
#include "core/ui.h"
#include "reading/topics.h"

namespace qb {

namespace {
QString qs(const std::string& cp1252) { return QString::fromStdString(toUtf8(cp1252)); }
std::string cp(const QString& s) { return fromUtf8(s.toStdString()); }

const char* const kOperations[4] = {"Export messages", "Print Messages", "Classify Messages", "Set Message Status"};
const char* const kCaptions[4] = {" Export all messages related to the current:", " Print all messages related to the current:",
                                  " Classify all messages related to the current:",
                                  " Recode all messages related to the current:"};

// The scopes as the dialog names them after the current message.
std::vector<std::pair<uint8_t, const char*>> scopeNames(uint8_t kind) {
    if (kind == KindMail)
        return {{ScopeClipboard, " Mail (to the clipboard)"}, {ScopeCurrent, " Mail"},
                {ScopeSender, " Mail Sender"},               {ScopeReceiver, " Mail Receiver"},
                {ScopeThread, " Mail Partner"},              {ScopeAll, " Mail database"},
                {ScopeWord, " Key word"},                    {ScopeTopic, " Topic"},
                {ScopeSearch, " Search result"}};
    return {{ScopeClipboard, " Message (to the clipboard)"},
            {ScopeCurrent, " Message"},
            {ScopeSender, " Message Sender"},
            {ScopeReceiver, " Message Receiver"},
            {ScopeThread, " Thread"},
            {ScopeSection, " Section"},
            {ScopeAll, kind == KindNews ? " NewsGroup" : " Forum"},
            {ScopeWord, " Key word"},
            {ScopeTopic, " Topic"},
            {ScopeSearch, " Search result"}};
}

void copyName(char* dst, size_t n, const std::string& s) {
    std::memset(dst, 0, n);
    std::memcpy(dst, s.data(), std::min(n, s.size()));
}
std::string nameOf(const char* src, size_t n) { return std::string(src, strnlen(src, n)); }

void setExportTarget(uint8_t kind, int target) {
    RenderSettings& rs = renderSettings();
    const int item = kind == KindMail ? 61 : kind == KindNews ? 63 : 62;
    (kind == KindMail ? rs.mailTarget : kind == KindNews ? rs.newsTarget : rs.forumTarget) = target;
    int32_t number = target;
    std::string text;
    Konfig(24, item, number, text);
    Konfig(26, 0, number, text);
}
} // namespace

// ---------------------------------------------------------------- dialog

BatchDialog::BatchDialog(uint32_t currentId, const ScopeChoice& choice, QWidget* parent)
    : QDialog(parent), currentId_(currentId), choice_(choice), kind_(Mem.ForumType) {
    setObjectName(QStringLiteral("BatchDialog"));
    setWindowTitle(QStringLiteral("Batch operations"));
    auto* layout = new QVBoxLayout(this);
    auto* opBox = new QGroupBox(QStringLiteral("Operation"), this);
    auto* opLayout = new QHBoxLayout(opBox);
    ops_ = new QButtonGroup(this);
    for (int i = 0; i < 4; ++i) {
        auto* b = new QRadioButton(QString::fromLatin1(kOperations[i]), opBox);
        ops_->addButton(b, i);
        opLayout->addWidget(b);
    }
    layout->addWidget(opBox);
    caption_ = new QLabel(this);
    layout->addWidget(caption_);
    scope_ = new QComboBox(this);
    scope_->setObjectName(QStringLiteral("Scope"));
    for (const auto& [scope, name] : scopeNames(kind_)) scope_->addItem(QString::fromLatin1(name), scope);
    layout->addWidget(scope_);

    exportBox_ = new QWidget(this);
    auto* ef = new QFormLayout(exportBox_);
    target_ = new QComboBox(exportBox_);
    for (int t : targetsOffered(kind_)) target_->addItem(QString::fromLatin1(targetName(t)), t);
    ef->addRow(QStringLiteral("Target"), target_);
    file1_ = new QLineEdit(exportBox_);
    ef->addRow(kind_ == KindMail ? QStringLiteral("Inbox file") : QStringLiteral("File name"), file1_);
    file2_ = new QLineEdit(exportBox_);
    file2Label_ = new QLabel(QStringLiteral("Outbox file"), exportBox_);
    ef->addRow(file2Label_, file2_);
    append_ = new QCheckBox(QStringLiteral("Append to the files"), exportBox_);
    ef->addRow(append_);
    layout->addWidget(exportBox_);

    classifyBox_ = new QWidget(this);
    auto* cf = new QFormLayout(classifyBox_);
    topic_ = new QComboBox(classifyBox_);
    topic_->addItem(QString(), 0u);
    for (const Entry& e : listEntries(kTopicEntry)) topic_->addItem(qs(e.name), e.id);
    cf->addRow(QStringLiteral("Topic"), topic_);
    remove_ = new QCheckBox(QStringLiteral("Remove the topic"), classifyBox_);
    cf->addRow(remove_);
    layout->addWidget(classifyBox_);

    statusBox_ = new QWidget(this);
    auto* sl = new QHBoxLayout(statusBox_);
    status_ = new QButtonGroup(this);
    const char* statusNames[3] = {"Normal", "Keep", "Delete"};
    for (int i = 0; i < 3; ++i) {
        auto* b = new QRadioButton(QString::fromLatin1(statusNames[i]), statusBox_);
        status_->addButton(b, i);
        sl->addWidget(b);
    }
    status_->button(0)->setChecked(true);
    layout->addWidget(statusBox_);

    auto* rangeRow = new QHBoxLayout;
    range_ = new QCheckBox(QStringLiteral("Date range"), this);
    from_ = new QLineEdit(this);
    to_ = new QLineEdit(this);
    from_->setPlaceholderText(QStringLiteral("yyyy-mm-dd"));
    to_->setPlaceholderText(QStringLiteral("yyyy-mm-dd"));
    rangeRow->addWidget(range_);
    rangeRow->addWidget(new QLabel(QStringLiteral("From"), this));
    rangeRow->addWidget(from_);
    rangeRow->addWidget(new QLabel(QStringLiteral("To"), this));
    rangeRow->addWidget(to_);
    layout->addLayout(rangeRow);

    auto* buttons = new QHBoxLayout;
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, [this] {
        if (startBatch()) accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ops_, &QButtonGroup::idClicked, this, [this] { update(); });
    connect(scope_, &QComboBox::currentIndexChanged, this, [this] { update(); });
    connect(target_, &QComboBox::currentIndexChanged, this, [this] { targetChanged(); });
    connect(range_, &QCheckBox::toggled, this, [this] { update(); });

    ops_->button(0)->setChecked(true);
    const int target = renderSettings().target(kind_ == KindMail   ? MessageKind::Mail
                                               : kind_ == KindNews ? MessageKind::Newsgroup
                                                                   : MessageKind::Forum);
    setTarget(target);
    targetChanged();
    setScope(ScopeCurrent);
    restoreContext();
    update();
}

void BatchDialog::setOperation(int index) {
    if (auto* b = ops_->button(index)) b->setChecked(true);
    update();
}
int BatchDialog::operation() const { return ops_->checkedId(); }

void BatchDialog::setScope(uint8_t scope) {
    const int i = scope_->findData(scope);
    if (i >= 0) scope_->setCurrentIndex(i);
}

void BatchDialog::setTarget(int target) {
    const int i = target_->findData(target);
    if (i >= 0) target_->setCurrentIndex(i);
}

void BatchDialog::setStatusChoice(int status) {
    if (auto* b = status_->button(status)) b->setChecked(true);
}

QString BatchDialog::captionText() const { return caption_->text(); }

void BatchDialog::targetChanged() {
    const int target = target_->currentData().toInt();
    const ExportNames names = defaultExportNames(kind_, target, Mem.Description);
    file1_->setText(qs(names.first));
    file2_->setText(qs(names.second));
    const bool two = !names.second.empty();
    file2_->setVisible(two);
    file2Label_->setVisible(two);
}

void BatchDialog::update() {
    const int op = std::max(0, operation());
    caption_->setText(QString::fromLatin1(kCaptions[op]));
    exportBox_->setVisible(op == 0);
    classifyBox_->setVisible(op == 2);
    statusBox_->setVisible(op == 3);
    from_->setEnabled(range_->isChecked());
    to_->setEnabled(range_->isChecked());
}

std::optional<BoxText> BatchDialog::check(BatchRequest& r) const {
    const int op = operation();
    r = BatchRequest{};
    r.scope = static_cast<uint8_t>(scope_->currentData().toInt());
    r.messageId = currentId_;
    r.choice = choice_;
    if (op == 0) {
        r.operation = append_->isChecked() ? OpExportAppend : OpExportNew;
        r.firstName = cp(file1_->text().trimmed());
        r.secondName = !file2_->isHidden() ? cp(file2_->text().trimmed()) : std::string();
        for (const std::string* n : {&r.firstName, &r.secondName})
            if (auto box = checkFileName(*n)) return box;
    } else if (op == 1) {
        r.operation = OpPrint;
    } else if (op == 2) {
        r.operation = remove_->isChecked() ? OpRemoveTopic : OpAttachTopic;
        r.topicId = topic_->currentData().toUInt();
    } else {
        r.operation = OpStatusNormal + std::max(0, status_->checkedId());
    }
    if (op != 0 && r.scope == ScopeClipboard) r.scope = ScopeCurrent;
    if (range_->isChecked()) {
        r.dateRange = true;
        r.fromDate = isoDay(cp(from_->text().trimmed()));
        r.toDate = isoDay(cp(to_->text().trimmed()));
        if (auto box = checkDateRange(r.fromDate, r.toDate)) return box;
    }
    if (op == 2 && !r.topicId) return BoxText{"Selection error", "No topic selected!"};
    return std::nullopt;
}

void BatchDialog::keepContext(const BatchRequest& r) const {
    ContextHead h{};
    h.operation = static_cast<uint8_t>(r.operation);
    h.scope = r.scope;
    h.target = static_cast<uint8_t>(target_->currentData().toInt());
    h.dateRange = r.dateRange;
    h.fromDate = r.fromDate;
    h.toDate = r.toDate;
    h.status = static_cast<uint8_t>(std::max(0, status_->checkedId()));
    h.removeTopic = remove_->isChecked();
    h.topicId = topic_->currentData().toUInt();
    if (kind_ == KindMail) {
        MailDialogContext c{};
        c.head = h;
        copyName(c.firstName, sizeof c.firstName, cp(file1_->text()));
        copyName(c.secondName, sizeof c.secondName, cp(file2_->text()));
        MailContext(2, kMailContextLength, &c);
    } else {
        DialogContext c{};
        c.head = h;
        copyName(c.firstName, sizeof c.firstName, cp(file1_->text()));
        Context(2, kContextLength, &c);
    }
}

void BatchDialog::restoreContext() {
    ContextHead h{};
    std::string first, second;
    if (kind_ == KindMail) {
        MailDialogContext c{};
        MailContext(3, kMailContextLength, &c);
        h = c.head;
        first = nameOf(c.firstName, sizeof c.firstName);
        second = nameOf(c.secondName, sizeof c.secondName);
    } else {
        DialogContext c{};
        Context(3, kContextLength, &c);
        h = c.head;
        first = nameOf(c.firstName, sizeof c.firstName);
    }
    if (h.operation == 0) return;  // nothing kept yet
    const int op = h.operation <= OpExportAppend ? 0 : h.operation == OpPrint ? 1 : h.operation <= OpRemoveTopic ? 2 : 3;
    setOperation(op);
    if (target_->findData(h.target) >= 0) setTarget(h.target);
    targetChanged();
    if (!first.empty()) file1_->setText(qs(first));
    if (!second.empty()) file2_->setText(qs(second));
    append_->setChecked(h.operation == OpExportAppend);
    range_->setChecked(h.dateRange);
    if (h.fromDate) from_->setText(QString::fromStdString(formatDate(h.fromDate, "@D10-")));
    if (h.toDate) to_->setText(QString::fromStdString(formatDate(h.toDate, "@D10-")));
    setStatusChoice(h.status);
    remove_->setChecked(h.removeTopic);
    if (int i = topic_->findData(h.topicId); i >= 0) topic_->setCurrentIndex(i);
    setScope(h.scope);
}

QWidget* BatchDialog::startBatch() {
    BatchRequest r;
    if (auto box = check(r)) {
        ui().message(box->title, box->text);
        return nullptr;
    }
    keepContext(r);
    if (operation() == 0) setExportTarget(kind_, target_->currentData().toInt());
    if (r.scope == ScopeClipboard) {
        // The current message, framed, to the clipboard.
        RenderInput in;
        if (!loadRenderInput(currentId_, in)) return nullptr;
        const std::string text = clipboardText(in, renderSettings());
        QApplication::clipboard()->setText(qs(text));
        return this;
    }
    if (r.operation == OpStatusDelete && r.scope == ScopeAll && !r.dateRange) {
        if (ui().ask(" Database marked for deletion!",
                     "Do you really want to delete all messages in this database? If you do, the entire database "
                     "directory will be removed.",
                     BtnYes | BtnNo, BtnNo) != BtnYes)
            return nullptr;
    }
    std::unique_ptr<QPrinter> printer;
    if (r.operation == OpPrint) {
        printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setDocName(qs(reportTitle(kind_ == KindMail)));
        QPrintDialog dialog(printer.get(), this);
        if (dialog.exec() != QDialog::Accepted) return nullptr;
    }
    auto* w = new BatchWindow(r, std::move(printer), parentWidget());
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->show();
    return w;
}

// ---------------------------------------------------------------- window

BatchWindow::BatchWindow(const BatchRequest& r, std::unique_ptr<QPrinter> printer, QWidget* parent)
    : QWidget(parent, Qt::Window), printer_(std::move(printer)) {
    setObjectName(QStringLiteral("BatchWindow"));
    setWindowTitle(QStringLiteral("Batch operation"));
    auto* layout = new QVBoxLayout(this);
    status_ = new QLabel(QString::fromStdString(BatchRun::workingText(r.operation)), this);
    count_ = new QLabel(this);
    abort_ = new QPushButton(QStringLiteral("Abort"), this);
    layout->addWidget(status_);
    layout->addWidget(count_);
    layout->addWidget(abort_);
    connect(abort_, &QPushButton::clicked, this, [this] {
        if (finished_) close();
        else abortRun();
    });
    if (printer_) {
        report_ = std::make_unique<PagedReport>(printer_.get());
        setReportSink(report_.get());
    }
    run_ = std::make_unique<BatchRun>(r);
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &BatchWindow::tick);
    if (!run_->start()) {
        end(run_->failed() ? QStringLiteral("Process aborted!") : QString::fromStdString(BatchRun::doneText(r.operation)));
        return;
    }
    timer_->start(0);
}

BatchWindow::~BatchWindow() {
    run_.reset();
    if (report_) setReportSink(nullptr);
}

QString BatchWindow::statusText() const { return status_->text(); }

void BatchWindow::tick() {
    const int batch = std::max<int32_t>(1, SpeedVal(3, 26));
    const bool more = run_->tick(batch);
    count_->setText(QStringLiteral("%1 messages").arg(run_->count()));
    if (!more) {
        if (run_->aborted() || run_->failed()) end(QStringLiteral("Process aborted!"));
        else end(QString::fromStdString(BatchRun::doneText(run_->request().operation)));
    }
}

void BatchWindow::abortRun() {
    if (finished_) return;
    run_->abort();
    tick();
}

void BatchWindow::runToEnd() {
    while (!finished_) tick();
}

void BatchWindow::end(const QString& text) {
    timer_->stop();
    finished_ = true;
    run_->finish();
    if (report_) setReportSink(nullptr);
    status_->setText(text);
    count_->setText(QStringLiteral("%1 messages").arg(run_->count()));
    abort_->setText(QStringLiteral("Close"));
    if (unattended()) QTimer::singleShot(0, this, &QWidget::close);
}

// ---------------------------------------------------------------- addresses

AddressExportDialog::AddressExportDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AddressExport"));
    setWindowTitle(QStringLiteral("Address Export"));
    auto* form = new QFormLayout(this);
    target_ = new QComboBox(this);
    for (int t : {TargetEudora, TargetOzWin, TargetTapcis, TargetUnix})
        target_->addItem(QString::fromLatin1(targetName(t)), t);
    file_ = new QLineEdit(this);
    result_ = new QLabel(this);
    form->addRow(QStringLiteral("Target"), target_);
    form->addRow(QStringLiteral("File name"), file_);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    auto* cancel = new QPushButton(QStringLiteral("Close"), this);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok);
    row->addWidget(cancel);
    form->addRow(result_);
    form->addRow(row);
    auto propose = [this] { file_->setText(QString::fromStdString(defaultAddressFileName(target_->currentData().toInt()))); };
    connect(target_, &QComboBox::currentIndexChanged, this, propose);
    connect(ok, &QPushButton::clicked, this, [this] { exportNow(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    propose();
}

long long AddressExportDialog::exportNow() {
    const std::string name = cp(file_->text().trimmed());
    if (auto box = checkFileName(name)) {
        ui().message(box->title, box->text);
        return -1;
    }
    const long long n = CopyAddress(target_->currentData().toInt(), name);
    if (n >= 0)
        result_->setText(QStringLiteral("%1 addresses written to %2").arg(n).arg(qs(addressFilePath())));
    return n;
}

QString AddressExportDialog::resultText() const { return result_->text(); }

namespace {
const bool regAddress = registerProcedure("AddressExport", [](QWidget* p) -> QWidget* { return new AddressExportDialog(p); });
}

} // namespace qb

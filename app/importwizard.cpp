#include "app/importwizard.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "app/procedures.h"
#include "core/access.h"
#include "core/fixedstr.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/settings.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/ui.h"
#include "import/catalogue.h"
#include "import/pipeline.h"
#include "tasks/taskmanager.h"

namespace qb {

namespace {

QString q(const std::string& s) { return QString::fromStdString(toUtf8(s)); }
std::string s8(const QString& s) { return fromUtf8(s.toStdString()); }

int32_t setting(int item, int32_t fallback) {
    int32_t v = konfigNumber(item);
    return v ? v : fallback;
}

QWidget* titled(const char* title, QLayout* body) {
    auto* w = new QWidget;
    auto* v = new QVBoxLayout(w);
    auto* t = new QLabel(title);
    QFont f = t->font();
    f.setBold(true);
    t->setFont(f);
    v->addWidget(t);
    v->addLayout(body);
    v->addStretch();
    return w;
}

} // namespace

// ---------------------------------------------------------------- progress

ImportProgressWindow::ImportProgressWindow(const ImportSettings& settings, QWidget* parent)
    : RunWindow(parent), run_(std::make_unique<ImportRun>(settings)) {
    setWindowTitle(q(run_->windowTitle()));
    auto* v = new QVBoxLayout(this);
    heading_ = new QLabel(q(run_->heading()));
    QFont f = heading_->font();
    f.setBold(true);
    heading_->setFont(f);
    from_ = new QLabel;
    to_ = new QLabel;
    text_ = new QLabel;
    totals_ = new QLabel;
    current_ = new QProgressBar;
    overall_ = new QProgressBar;
    current_->setRange(0, 1000);
    overall_->setRange(0, 1000);
    v->addWidget(heading_);
    v->addWidget(from_);
    v->addWidget(to_);
    v->addWidget(text_);
    v->addWidget(current_);
    v->addWidget(overall_);
    v->addWidget(totals_);
    v->addWidget(stop_, 0, Qt::AlignRight);
    resize(460, 240);
    startRun();
}

ImportProgressWindow::~ImportProgressWindow() = default;

bool ImportProgressWindow::runFinished() const { return run_->finished(); }
void ImportProgressWindow::runStep() { run_->step(); }
bool ImportProgressWindow::runRequestStop() { return run_->requestStop(); }

void ImportProgressWindow::refresh() {
    const ImportRun& r = *run_;
    from_->setText(r.importingFrom().empty() ? QString() : " Importing from: " + q(r.importingFrom()));
    to_->setText(r.importingTo().empty() ? QString() : " Importing to: " + q(r.importingTo()));
    QString text = q(r.progressText()).trimmed();
    text_->setText(text);
    current_->setValue(static_cast<int>(r.currentFraction() * 1000));
    overall_->setValue(static_cast<int>(r.overallFraction() * 1000));
    QString t = QString("Stored: %1   Skipped: %2").arg(r.totals().stored).arg(r.totals().skipped);
    if (r.totals().tempRecords) t += QString("   Temporary records: %1").arg(r.totals().tempRecords);
    totals_->setText(t);
}

void ImportProgressWindow::runEnded() {
    // A database that keeps a word index is brought up to date.
    if (!run_->stopped()) indexFilledDatabases(run_->context().routed, 40);
    if (!run_->failed() && !run_->stopped()) QApplication::beep();
}

// ---------------------------------------------------------------- wizard

ImportWizard::ImportWizard(QWidget* parent) : QWidget(parent) {
    setWindowTitle("Import Wizard");
    auto* outer = new QVBoxLayout(this);
    pages_ = new QStackedWidget;
    outer->addWidget(pages_);

    // Welcome
    {
        auto* l = new QVBoxLayout;
        l->addWidget(new QLabel("This wizard imports the messages saved by another program\n"
                                "into your databases."));
        pages_->addWidget(titled("Welcome to the Import Wizard!", l));
    }
    // Reader
    {
        auto* l = new QVBoxLayout;
        readers_ = new QListWidget;
        for (const ReaderEntry& e : readerCatalogue()) {
            auto* item = new QListWidgetItem(q(e.name));
            item->setData(Qt::UserRole, e.number);
            readers_->addItem(item);
        }
        l->addWidget(readers_);
        connect(readers_, &QListWidget::currentRowChanged, this, &ImportWizard::readerChanged);
        pages_->addWidget(titled("Import file type", l));
    }
    // Message kinds and targets
    {
        auto* l = new QVBoxLayout;
        mail_ = new QCheckBox("Mail import to:");
        mailDb_ = new QComboBox;
        mailDb_->setToolTip("Target mail database");
        forum_ = new QCheckBox("Forum message import to:");
        forumDb_ = new QComboBox;
        news_ = new QCheckBox("Newsgroup message import");
        auto* row1 = new QHBoxLayout;
        row1->addWidget(mail_);
        row1->addWidget(mailDb_, 1);
        auto* row2 = new QHBoxLayout;
        row2->addWidget(forum_);
        row2->addWidget(forumDb_, 1);
        l->addLayout(row1);
        l->addWidget(new QLabel("Target mail database"));
        l->addLayout(row2);
        l->addWidget(news_);
        allMsgs_ = new QRadioButton("Import all messages");
        createOnly_ = new QRadioButton("Import no messages (database creation only)");
        allMsgs_->setChecked(true);
        l->addWidget(allMsgs_);
        l->addWidget(createOnly_);
        connect(mailDb_, &QComboBox::currentIndexChanged, this, &ImportWizard::mailDbChanged);
        pages_->addWidget(titled("Msg types", l));
    }
    // Selection method
    {
        auto* l = new QVBoxLayout;
        method_ = new QButtonGroup(this);
        const char* names[] = {"Directory Tree Selection", "Directory Selection", "File selection"};
        for (int i = 0; i < 3; ++i) {
            auto* b = new QRadioButton(names[i]);
            method_->addButton(b, i);
            l->addWidget(b);
        }
        method_->button(2)->setChecked(true);
        connect(method_, &QButtonGroup::idClicked, this, &ImportWizard::methodChanged);
        pages_->addWidget(titled("Preferred selection method", l));
    }
    // Path
    {
        auto* l = new QVBoxLayout;
        pathTitle_ = new QLabel;
        path_ = new QLineEdit;
        select_ = new QPushButton("&Select");
        auto* row = new QHBoxLayout;
        row->addWidget(path_, 1);
        row->addWidget(select_);
        masksLabel_ = new QLabel("Filename mask(s)");
        masks_ = new QLineEdit;
        masks_->setToolTip("Only files matching the mask will be shown");
        l->addWidget(pathTitle_);
        l->addLayout(row);
        l->addWidget(masksLabel_);
        l->addWidget(masks_);
        connect(select_, &QPushButton::clicked, this, &ImportWizard::selectPath);
        pages_->addWidget(titled("Import files", l));
    }
    // Options
    {
        auto* l = new QVBoxLayout;
        reimport_ = new QCheckBox("Allow reimport");
        reimport_->setToolTip("Update existing messages");
        l->addWidget(reimport_);
        l->addWidget(new QLabel("Update existing messages"));
        attachTopic_ = new QCheckBox("Attach a topic to all imported mail messages");
        topic_ = new QComboBox;
        topic_->setToolTip("Selected topic");
        l->addWidget(attachTopic_);
        l->addWidget(topic_);
        save_ = new QCheckBox("Save this session for use in the Task Manager");
        l->addWidget(save_);
        pages_->addWidget(titled("Options", l));
    }

    auto* buttons = new QHBoxLayout;
    back_ = new QPushButton("&Back");
    next_ = new QPushButton("&Next");
    start_ = new QPushButton("S&tart");
    auto* cancel = new QPushButton("Cancel");
    buttons->addStretch();
    buttons->addWidget(back_);
    buttons->addWidget(next_);
    buttons->addWidget(start_);
    buttons->addWidget(cancel);
    outer->addLayout(buttons);
    connect(back_, &QPushButton::clicked, this, &ImportWizard::goBack);
    connect(next_, &QPushButton::clicked, this, &ImportWizard::goNext);
    connect(start_, &QPushButton::clicked, this, [this] { start(); });
    connect(cancel, &QPushButton::clicked, this, &QWidget::close);

    loadDatabases();
    path_->setText(q(std::string(rtrim(konfigString(14)))));
    chooseReaderNumber(setting(12, DefaultReaderNumber));
    methodChanged();
    showPage(0);
    resize(520, 380);
}

int ImportWizard::page() const { return pages_->currentIndex(); }
int ImportWizard::pageCount() const { return pages_->count(); }

void ImportWizard::showPage(int n) {
    pages_->setCurrentIndex(n);
    back_->setEnabled(n > 0);
    next_->setEnabled(n + 1 < pages_->count());
}

void ImportWizard::goBack() {
    if (page() > 0) showPage(page() - 1);
}

void ImportWizard::goNext() {
    if (page() + 1 < pages_->count()) showPage(page() + 1);
}

void ImportWizard::loadDatabases() {
    mailDb_->clear();
    forumDb_->clear();
    mailIds_.clear();
    forumIds_.clear();
    // No forum is taken unless the user picks one.
    forumIds_.push_back(0);
    forumDb_->addItem(QString());
    OP_CLOSE(OpOpenShared, Forums.number());
    Forums.set(FOR_AlphaKey);
    while (Forums.next()) {
        if (FOR.TYPE == KindMail) {
            mailIds_.push_back(FOR.ID);
            mailDb_->addItem(q(FOR.DESCRIPTION.str()));
        } else if (FOR.TYPE == KindForum) {
            forumIds_.push_back(FOR.ID);
            forumDb_->addItem(q(FOR.DESCRIPTION.str()));
        }
    }
    OP_CLOSE(OpClose, Forums.number());
    const uint32_t last = static_cast<uint32_t>(setting(19, 0));
    for (size_t i = 0; i < mailIds_.size(); ++i)
        if (mailIds_[i] == last) mailDb_->setCurrentIndex(static_cast<int>(i));
    loadTopics();
}

void ImportWizard::loadTopics() {
    topic_->clear();
    topicIds_.clear();
    const int i = mailDb_->currentIndex();
    if (i < 0 || i >= static_cast<int>(mailIds_.size())) return;
    const uint32_t active = Mem.ForumNumber;
    if (!selectDatabase(mailIds_[static_cast<size_t>(i)])) return;
    OP_CLOSE(OpOpenShared, Codes.number());
    Codes.clearBuffer();
    COD.TYPE = 2;
    Codes.setFrom(COD_ClassKey);
    while (Codes.next() && COD.TYPE == 2) {
        topicIds_.push_back(COD.ID);
        topic_->addItem(q(COD.INDEX.str()));
    }
    OP_CLOSE(OpClose, Codes.number());
    if (active == 0 || !selectDatabase(active)) clearActiveDatabase();
}

void ImportWizard::mailDbChanged() { loadTopics(); }

void ImportWizard::chooseReaderNumber(int number) {
    for (int i = 0; i < readers_->count(); ++i)
        if (readers_->item(i)->data(Qt::UserRole).toInt() == number) {
            readers_->setCurrentRow(i);
            return;
        }
    if (readers_->count()) readers_->setCurrentRow(0);
}

void ImportWizard::readerChanged() {
    QListWidgetItem* item = readers_->currentItem();
    if (!item) return;
    const ReaderEntry* r = readerByNumber(item->data(Qt::UserRole).toInt());
    if (!r) return;
    masks_->setText(q(r->mask));
    mail_->setEnabled(r->mail);
    forum_->setEnabled(r->forum);
    news_->setEnabled(r->news);
    mail_->setChecked(r->mail);
    forum_->setChecked(r->forum);
    news_->setChecked(r->news);
    forumDb_->setEnabled(r->forum && r->takesForumDb());
}

void ImportWizard::methodChanged() {
    const bool files = method_->checkedId() == 2;
    pathTitle_->setText(files ? "Import messages from file(s)" : "Directory for import files");
    masks_->setVisible(!files);
    masksLabel_->setVisible(!files);
}

void ImportWizard::selectPath() {
    const int m = method_->checkedId();
    if (m == 2) {
        QStringList files = QFileDialog::getOpenFileNames(this, "File(s) selected for import", path_->text());
        if (!files.isEmpty()) path_->setText(files.join(";"));
    } else {
        QString dir = QFileDialog::getExistingDirectory(
            this, m == 0 ? " Directory Tree Selection Dialog - " : "Directory Selection Dialog", path_->text());
        if (!dir.isEmpty()) path_->setText(dir);
    }
}

ImportSettings ImportWizard::settings() const {
    ImportSettings s;
    if (QListWidgetItem* item = readers_->currentItem())
        if (const ReaderEntry* r = readerByNumber(item->data(Qt::UserRole).toInt())) {
            chooseReader(s, *r);
            if (r->takesForumDb() && forumDb_->currentIndex() >= 0)
                s.forumDb = forumIds_[static_cast<size_t>(forumDb_->currentIndex())];
        }
    s.importMail = mail_->isEnabled() && mail_->isChecked();
    s.importForum = forum_->isEnabled() && forum_->isChecked();
    s.importNews = news_->isEnabled() && news_->isChecked();
    if (mailDb_->currentIndex() >= 0) s.mailDb = mailIds_[static_cast<size_t>(mailDb_->currentIndex())];
    s.filter = createOnly_->isChecked() ? 2 : 1;
    s.allowReimport = reimport_->isChecked();
    if (attachTopic_->isChecked() && topic_->currentIndex() >= 0)
        s.mailTopic = topicIds_[static_cast<size_t>(topic_->currentIndex())];
    s.method = static_cast<uint8_t>(method_->checkedId());
    s.path = s8(path_->text());
    s.masks = s8(masks_->text());
    return s;
}

bool ImportWizard::saveSession() const { return save_->isChecked(); }

ImportProgressWindow* ImportWizard::start() {
    ImportSettings s = settings();
    SetupCheck c = checkSettings(s);
    if (!c.ok) {
        ui().message(c.title, c.text, Icon::Exclamation);
        return nullptr;
    }
    // The next import starts with this reader and mail database.
    if (const ReaderEntry* r = readerByName(s.reader)) {
        int32_t n = r->number;
        std::string unused;
        Konfig(2, 12, n, unused);
        if (s.mailDb) {
            n = static_cast<int32_t>(s.mailDb);
            Konfig(2, 19, n, unused);
        }
        Konfig(4, 0, n, unused);
    }
    if (saveSession()) saveDefinition(s);
    auto* w = new ImportProgressWindow(s);
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->show();
    close();
    return w;
}

namespace {
const bool registered = registerProcedure("ImportMeny", [](QWidget* parent) { return new ImportWizard(parent); });
}

} // namespace qb

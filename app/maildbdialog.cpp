#include "app/maildbdialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <string>
#include <vector>

#include "app/procedures.h"
#include "core/access.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/ui.h"

namespace qb {

namespace {

QString fromTable(std::string_view s) { return QString::fromStdString(toUtf8(s)); }
std::string toTable(const QString& s) { return fromUtf8(s.toStdString()); }

const bool registered = registerProcedure("AddMailDatabase", [](QWidget* parent) -> QWidget* {
    return new MailDbDialog(0, parent);
});

} // namespace

MailDbDialog::MailDbDialog(uint32_t forumId, QWidget* parent)
    : QDialog(parent), forumId_(forumId), adding_(forumId == 0) {
    setWindowTitle(adding_ ? "Add New Mail Database" : "Update alternative addresses");
    auto* form = new QFormLayout;
    name_ = new QLineEdit;
    name_->setMaxLength(100);
    address_ = new QLineEdit;
    address_->setMaxLength(60);
    form->addRow("Mail database name", name_);
    form->addRow("Default mail address", address_);
    for (auto& e : alt_) {
        e = new QLineEdit;
        e->setMaxLength(60);
        form->addRow("Alternative mail address", e);
    }
    name_->setMinimumWidth(320);
    auto* buttons = new QDialogButtonBox;
    accept_ = buttons->addButton(adding_ ? "Accept new Mail Database" : "Accept updated Mail Database",
                                 QDialogButtonBox::AcceptRole);
    buttons->addButton(QDialogButtonBox::Cancel);
    connect(accept_, &QPushButton::clicked, this, [this] {
        if (save()) accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    if (!adding_) {
        // Only the alternative addresses change here.
        name_->setReadOnly(true);
        address_->setReadOnly(true);
        if (!load()) accept_->setEnabled(false);
    }
}

bool MailDbDialog::load() {
    OP_CLOSE(OpOpenShared, Forums.number());
    if (!Forums.isOpen()) return false;
    const ForumsRec saved = FOR;
    Forums.clearBuffer();
    FOR.ID = forumId_;
    const bool found = Forums.get(FOR_ForumKey) && FOR.TYPE == 2;
    if (found) {
        name_->setText(fromTable(FOR.DESCRIPTION.view()));
        address_->setText(fromTable(FOR.MAILADDRESS.view()));
        for (size_t i = 0; i < alt_.size(); ++i) alt_[i]->setText(fromTable(FOR.ALTADDRESS[i].view()));
    } else {
        ui().message("Update alternative addresses", "The mail database cannot be found!", Icon::Exclamation);
    }
    FOR = saved;
    OP_CLOSE(OpClose, Forums.number());
    return found;
}

bool MailDbDialog::save() {
    std::vector<std::string> alternatives;
    for (QLineEdit* e : alt_) {
        const std::string a = toTable(e->text().trimmed());
        if (!a.empty()) alternatives.push_back(a);
    }
    std::string error;
    if (adding_) {
        const uint32_t id = addMailDatabase(toTable(name_->text()), toTable(address_->text()), alternatives, &error);
        if (id == 0) {
            ui().message("Add New Mail Database", error, Icon::Exclamation);
            return false;
        }
        forumId_ = id;
        adding_ = false;
        return true;
    }
    if (!updateAltAddresses(forumId_, alternatives, &error)) {
        ui().message("Update alternative addresses", error, Icon::Exclamation);
        return false;
    }
    return true;
}

} // namespace qb

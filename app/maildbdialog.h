// The settings of a mail database: its name, the owner's default address and
// up to ten alternative addresses by which the owner's own mail is recognised.
#pragma once
#include <QDialog>
#include <array>
#include <cstdint>

#include "import/maildb.h"

class QLineEdit;
class QPushButton;

namespace qb {

class MailDbDialog : public QDialog {
    Q_OBJECT
public:
    // forumId 0: a new mail database; otherwise the alternative addresses of that one.
    explicit MailDbDialog(uint32_t forumId = 0, QWidget* parent = nullptr);

    // The ID of the database added or updated by the last accept, 0 before.
    uint32_t forumId() const { return forumId_; }

    QLineEdit* nameEdit() const { return name_; }
    QLineEdit* addressEdit() const { return address_; }
    QLineEdit* altEdit(int i) const { return alt_[static_cast<size_t>(i)]; }
    QPushButton* acceptButton() const { return accept_; }

    // Accepts the dialog as the button does; false (dialog stays open) after a message.
    bool save();

private:
    bool load();

    uint32_t forumId_;
    bool adding_;
    QLineEdit* name_;
    QLineEdit* address_;
    std::array<QLineEdit*, MaxAltAddresses> alt_{};
    QPushButton* accept_;
};

} // namespace qb

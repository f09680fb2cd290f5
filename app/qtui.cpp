#include "app/qtui.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

#include "core/text.h"

namespace qb {

namespace {

QMessageBox::Icon qtIcon(Icon icon) {
    switch (icon) {
    case Icon::Information: return QMessageBox::Information;
    case Icon::Exclamation: return QMessageBox::Warning;
    case Icon::Question: return QMessageBox::Question;
    case Icon::Hand: return QMessageBox::Critical;
    case Icon::None: break;
    }
    return QMessageBox::NoIcon;
}

struct ButtonMap {
    unsigned ours;
    QMessageBox::StandardButton qt;
};
constexpr ButtonMap kButtons[] = {
    {BtnOk, QMessageBox::Ok},         {BtnYes, QMessageBox::Yes},     {BtnNo, QMessageBox::No},
    {BtnCancel, QMessageBox::Cancel}, {BtnAbort, QMessageBox::Abort}, {BtnRetry, QMessageBox::Retry},
    {BtnIgnore, QMessageBox::Ignore},
};

} // namespace

QString QtUi::displayText(const std::string& text) {
    // Only the system's own '|' separates lines; a '|' of a name or path
    // placed into the text (marked by verbatim) is shown as it is.
    std::string lines;
    lines.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == kVerbatimMark && i + 1 < text.size() && text[i + 1] == '|') {
            lines += '|';
            ++i;
        } else if (text[i] == '|') {
            lines += '\n';
        } else {
            lines += text[i];
        }
    }
    QString s = QString::fromStdString(toUtf8(lines));
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

QString QtUi::displayTitle(const std::string& title) {
    QString s = QString::fromStdString(toUtf8(unmarked(title))).trimmed();
    return s.isEmpty() ? QStringLiteral("Quillbox") : s;
}

QWidget* QtUi::parentWindow() const {
    QWidget* w = QApplication::activeWindow();
    return w && w->isVisible() ? w : nullptr;
}

void QtUi::message(const std::string& title, const std::string& text, Icon icon) {
    QMessageBox box(qtIcon(icon), displayTitle(title), displayText(text), QMessageBox::Ok, parentWindow());
    box.exec();
}

unsigned QtUi::ask(const std::string& title, const std::string& text, unsigned buttons, unsigned defaultButton,
                   Icon icon) {
    QMessageBox box(qtIcon(icon), displayTitle(title), displayText(text), QMessageBox::NoButton, parentWindow());
    unsigned shown = 0;
    for (const ButtonMap& b : kButtons)
        if (buttons & b.ours) {
            box.addButton(b.qt);
            shown |= b.ours;
        }
    if (!shown) {
        box.addButton(QMessageBox::Ok);
        shown = BtnOk;
    }
    for (const ButtonMap& b : kButtons)
        if (b.ours == defaultButton && (shown & b.ours)) box.setDefaultButton(b.qt);
    const int chosen = box.exec();
    for (const ButtonMap& b : kButtons)
        if (chosen == b.qt) return b.ours;
    // Closed without a button (Escape): the cancelling answer the box offers.
    for (unsigned c : {unsigned(BtnCancel), unsigned(BtnNo), unsigned(BtnAbort), unsigned(BtnOk)})
        if (shown & c) return c;
    return defaultButton;
}

void QtUi::beep() { QApplication::beep(); }

} // namespace qb

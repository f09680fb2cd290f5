// The library's message boxes and questions shown as Qt message boxes.
#pragma once
#include <QString>
#include <string>

#include "core/ui.h"

class QWidget;

namespace qb {

class QtUi : public Ui {
public:
    void message(const std::string& title, const std::string& text, Icon icon) override;
    unsigned ask(const std::string& title, const std::string& text, unsigned buttons, unsigned defaultButton,
                 Icon icon) override;
    void beep() override;

    // The text of a box as shown: single-byte text to Unicode, CR LF and the
    // line separator "|" of the system's messages as line breaks.
    static QString displayText(const std::string& text);
    static QString displayTitle(const std::string& title);

private:
    QWidget* parentWindow() const;
};

} // namespace qb

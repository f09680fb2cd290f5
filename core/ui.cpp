#include "core/ui.h"
#include "core/text.h"
#include <cstdio>

namespace qb {

void HeadlessUi::message(const std::string& title, const std::string& text, Icon icon) {
    shown.push_back({title, text, icon, false});
    if (echo) std::fprintf(stderr, "[%s] %s\n", toUtf8(title).c_str(), toUtf8(text).c_str());
}

unsigned HeadlessUi::ask(const std::string& title, const std::string& text, unsigned, unsigned defaultButton,
                         Icon icon) {
    shown.push_back({title, text, icon, true});
    unsigned a = defaultButton;
    if (!answers.empty()) { a = answers.front(); answers.pop_front(); }
    if (echo) std::fprintf(stderr, "[%s] %s\n", toUtf8(title).c_str(), toUtf8(text).c_str());
    return a;
}

namespace {
HeadlessUi builtin;
Ui* current = &builtin;
}

Ui& ui() { return *current; }
void setUi(Ui* u) { current = u ? u : &builtin; }

} // namespace qb

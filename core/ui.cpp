#include "core/ui.h"
#include "core/text.h"
#include <cstdio>

namespace qb {

namespace {
void echoBox(const std::string& title, const std::string& text) {
    std::string t;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        t += text[i];
    }
    while (!t.empty() && (t.back() == '\n' || t.back() == ' ')) t.pop_back();
    std::string head(title);
    while (!head.empty() && head.front() == ' ') head.erase(0, 1);
    while (!head.empty() && head.back() == ' ') head.pop_back();
    std::fprintf(stderr, "[%s] %s\n", toUtf8(head).c_str(), toUtf8(t).c_str());
}
} // namespace

void HeadlessUi::message(const std::string& title, const std::string& text, Icon icon) {
    shown.push_back({unmarked(title), unmarked(text), icon, false});
    if (echo) echoBox(unmarked(title), unmarked(text));
}

unsigned HeadlessUi::ask(const std::string& title, const std::string& text, unsigned, unsigned defaultButton,
                         Icon icon) {
    shown.push_back({unmarked(title), unmarked(text), icon, true});
    unsigned a = defaultButton;
    if (!answers.empty()) { a = answers.front(); answers.pop_front(); }
    if (echo) echoBox(unmarked(title), unmarked(text));
    return a;
}

namespace {
HeadlessUi builtin;
Ui* current = &builtin;
}

Ui& ui() { return *current; }
void setUi(Ui* u) { current = u ? u : &builtin; }

} // namespace qb

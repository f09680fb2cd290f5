// The library's window onto the user: message boxes, questions and progress.
// The program installs its Qt implementation; the command line and the tests use
// HeadlessUi, which records every box and answers questions as scripted.
#pragma once
#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

namespace qb {

enum class Icon { None, Information, Exclamation, Question, Hand };

// Buttons of a question, as a bit set; ask() returns the one chosen.
enum Button : unsigned { BtnOk = 1, BtnYes = 2, BtnNo = 4, BtnCancel = 8, BtnAbort = 16, BtnRetry = 32, BtnIgnore = 64 };

class Ui {
public:
    virtual ~Ui() = default;
    virtual void message(const std::string& title, const std::string& text, Icon icon = Icon::Exclamation) = 0;
    virtual unsigned ask(const std::string& title, const std::string& text, unsigned buttons, unsigned defaultButton,
                         Icon icon = Icon::Question) = 0;
    // Progress of long work: done of total (total 0 = unknown), with a text.
    virtual void progress(const std::string& /*text*/, long long /*done*/, long long /*total*/) {}
    // The system's exclamation sound (nothing where there is no screen).
    virtual void beep() {}
};

struct ShownBox {
    std::string title, text;
    Icon icon;
    bool question;
};

class HeadlessUi : public Ui {
public:
    std::vector<ShownBox> shown;
    std::deque<unsigned> answers;  // scripted answers; when empty, the default button
    bool echo = false;             // also print boxes on stderr (command line)
    int beeps = 0;                 // sounds asked for
    void beep() override { ++beeps; }
    void message(const std::string& title, const std::string& text, Icon icon) override;
    unsigned ask(const std::string& title, const std::string& text, unsigned buttons, unsigned defaultButton,
                 Icon icon) override;
};

Ui& ui();
void setUi(Ui* u);  // nullptr restores the built-in headless one

// "Stop": the program shows its message and ends. The library throws this; the
// program's top level catches it, shows the halt text and exits.
struct ProgramStop : std::runtime_error {
    std::string haltText;
    explicit ProgramStop(std::string what, std::string halt = {})
        : std::runtime_error(std::move(what)), haltText(std::move(halt)) {}
};

} // namespace qb

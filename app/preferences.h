// The preferences window (UserPanel): every setting of the settings table,
// one page a group of related settings. "Save" checks every changed value,
// writes each settings group in a transaction of its own and takes the new
// values into the running program.
#pragma once
#include <QDialog>
#include <map>
#include <string>

class QWidget;
class QTabWidget;

namespace qb {

struct SettingDef;

class PreferencesWindow : public QDialog {
    Q_OBJECT
public:
    explicit PreferencesWindow(QWidget* parent = nullptr);

    // The editor of a setting by its name (for tests and the keyboard).
    QWidget* editor(const std::string& name) const;
    // The editor's value as the setting's text, and setting it.
    std::string editorValue(const std::string& name) const;
    void setEditorValue(const std::string& name, const std::string& value);
    QTabWidget* pages() const { return pages_; }

    // Checks and saves; false (the window stays open) after a message.
    bool save();
    // Puts every editor back to the factory default (nothing saved).
    void resetToDefaults();

private:
    QWidget* makeEditor(const SettingDef& d);
    void load();

    QTabWidget* pages_;
    std::map<std::string, QWidget*> editors_;
};

} // namespace qb

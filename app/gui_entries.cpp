// The entries of the window library (see app/gui.h), set when it is loaded.
#include <QGuiApplication>

#include <cstdlib>
#include <memory>

#include "app/gui.h"
#include "app/mainframe.h"
#include "app/reportprinter.h"

namespace qb {
namespace {

long long printPdfOffscreen(const std::string& path, const PrintRequest& r) {
    // The report is drawn with the fonts of the GUI library, without a screen.
    std::unique_ptr<QGuiApplication> app;
    if (!QGuiApplication::instance()) {
        if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "qbox";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QGuiApplication>(argc, argv);
    }
    return printToPdf(path, r);
}

const bool registered = [] {
    GuiEntries& e = guiEntries();
    e.runMainWindow = &runMainWindow;
    e.printPdf = &printPdfOffscreen;
    return true;
}();

} // namespace
} // namespace qb

// Helpers of the reading tests: the offscreen application of the window
// tests, and the qbox runner.
#pragma once
#include <QApplication>
#include "tests/qboxrun.h"

namespace qb::testing {

inline void ensureApp() {
    static int argc = 1;
    static char name[] = "qbtests";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        new QApplication(argc, argv);
    }
}

} // namespace qb::testing

#include "app/layout.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QWidget>
#include <algorithm>
#include <vector>

#include "core/settings.h"

namespace qb {

namespace {

int16_t toShort(int v) { return static_cast<int16_t>(std::clamp(v, -32768, 32767)); }

int windowPos(int set, int mode, int window, int16_t& x, int16_t& y, int16_t& w, int16_t& h) {
    return set == 2 ? WindowPos2(mode, window, x, y, w, h) : WindowPos(mode, window, x, y, w, h);
}

} // namespace

bool restoreWindowPos(int set, int window, QWidget* w) {
    if (!w || window < 1 || window > 25) return false;
    int16_t x = 0, y = 0, width = 0, height = 0;
    windowPos(set, 3, window, x, y, width, height);
    if (width <= 0 || height <= 0) return true;
    w->resize(width, height);
    w->move(x, y);
    return true;
}

bool storeWindowPos(int set, int window, const QWidget* w) {
    if (!w || window < 1 || window > 25) return false;
    const QRect g = w->isMaximized() || w->isFullScreen() ? w->normalGeometry() : w->geometry();
    int16_t x = toShort(g.x()), y = toShort(g.y()), width = toShort(g.width()), height = toShort(g.height());
    return windowPos(set, 2, window, x, y, width, height) == 1;
}

bool restoreListColumns(int list, QHeaderView* header) {
    if (!header || list < 1 || list > 20) return false;
    std::vector<int16_t> widths;
    ListCol(3, list, widths);
    for (int c = 0; c < static_cast<int>(widths.size()) && c < header->count(); ++c)
        if (widths[static_cast<size_t>(c)] > 0) header->resizeSection(c, widths[static_cast<size_t>(c)]);
    return true;
}

bool storeListColumns(int list, const QHeaderView* header) {
    if (!header || list < 1 || list > 20) return false;
    std::vector<int16_t> widths;
    ListCol(3, list, widths);  // columns the list does not have keep their widths
    for (int c = 0; c < static_cast<int>(widths.size()) && c < header->count(); ++c)
        widths[static_cast<size_t>(c)] = toShort(header->sectionSize(c));
    return ListCol(2, list, widths) == 1;
}

int locatorKey(const QKeyEvent* event) {
    if (!event) return 0;
    const int key = event->key();
    const Qt::KeyboardModifiers mods = event->modifiers();
    const bool keypad = mods & Qt::KeypadModifier;
    const bool shift = mods & Qt::ShiftModifier;
    if (mods & (Qt::ControlModifier | Qt::MetaModifier)) return 0;
    if (key == Qt::Key_Space) return 32;
    if (keypad && key == Qt::Key_Asterisk) return 362;
    if (keypad && key == Qt::Key_Slash) return 367;
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return keypad ? 96 + (key - Qt::Key_0) : key;
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return shift ? key + 256 : key;
    return 0;
}

} // namespace qb

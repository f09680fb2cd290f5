// The stored window positions and list column widths applied to Qt widgets.
// Windows are numbered 1 to 25 in each of two sets (set 1: WindowPos, set 2:
// WindowPos2); lists 1 to 20, up to five columns each. Window 1 of set 1 is
// the main frame.
#pragma once

class QHeaderView;
class QKeyEvent;
class QWidget;

namespace qb {

// Moves and sizes the window as stored; a stored width or height of 0 leaves
// it as it is. False for a window number outside 1-25.
bool restoreWindowPos(int set, int window, QWidget* w);
// Notes the window's position and size (saved when the frame closes). A
// maximized window notes its normal geometry.
bool storeWindowPos(int set, int window, const QWidget* w);

// Column widths of list n; a stored width of 0 keeps the list's own width.
bool restoreListColumns(int list, QHeaderView* header);
bool storeListColumns(int list, const QHeaderView* header);

// The key code of a key press for the list locator (qb::IncrementStep), or 0
// for keys the locator does not take.
int locatorKey(const QKeyEvent* event);

} // namespace qb

// Record access: opening and closing tables by number, writing rows with the
// user-facing error reports, holding rows, the edit-form save check, queue and
// transaction error reports and file removal.
//
// Every message box here has the exclamation icon. While a task runs unattended
// (qb::unattended()) no box is shown, except those of the open procedure that
// stop the program; a stop shows its box (and the halt text box, when there is
// one) and throws qb::ProgramStop.
#pragma once
#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/storage.h"

namespace qb {

// ---- OP_CLOSE -------------------------------------------------------------
// Actions: 0 close (count down, close at 0), 1 open shared, 2 open exclusive,
// 3 empty, 4 close at once, 5 pack, 6 close and delete the file, 7 test the
// stored layout (sets layoutDiffers). 8 and above do nothing.
enum OpAction : int {
    OpClose = 0,
    OpOpenShared = 1,
    OpOpenExclusive = 2,
    OpEmpty = 3,
    OpForceClose = 4,
    OpPack = 5,
    OpDelete = 6,
    OpTest = 7,
};

void OP_CLOSE(int action, std::initializer_list<int> tableNumbers);

template <class... More>
void OP_CLOSE(int action, int tableNumber, More... more) {
    static_assert(sizeof...(More) <= 9, "OP_CLOSE takes at most ten table numbers");
    OP_CLOSE(action, {tableNumber, static_cast<int>(more)...});
}

// The open count of a table number (0 for numbers never opened).
int openCount(int tableNumber);

// Set by action 7 when a table's stored layout differs from its declaration;
// cleared by whoever reads it.
extern bool layoutDiffers;

// Tables opened by actions 1 and 2, whose fields the run-time expression
// evaluator may name in filters given as text. In order of opening.
const std::vector<Table*>& boundTables();
// The table whose field has this name ("COD:INDEX", letter case ignored), or nullptr.
Table* boundTableOfField(const std::string& fieldName, int* fieldIndex = nullptr);

// ---- Writing rows -----------------------------------------------------------
enum UppOp : int { UppAdd = 1, UppPut = 2, UppDelete = 3, UppAppend = 4 };
enum ReportMode : int { ModeReport = 7, ModeReportRollback = 8 };

// 1 on success, 0 on failure. Mode 7 reports, mode 8 reports and rolls back the
// open transaction, any other mode only returns the result.
int UppDat(Table& table, int operation, int mode);

// Hold and read a row: byKey 1 by the given key from the buffer's values,
// byKey 0 at the saved position (a Position as a decimal string).
// 1 when read and held, 0 otherwise (after a message).
int HoldRec(Table& table, int key, int byKey, const std::string& position);

// ---- Edit form save check ---------------------------------------------------
// 1 insert, 2 change, 3 delete: the request of the edit form running now.
extern int GlobalRequest;

// The form's two record images (1: the row as read at opening, 2: the user's
// values), its save buffer and the saved position of the row.
struct EditSave {
    std::vector<std::string> images;
    std::string save;
    std::string position;
};

// Opening (opening true): "" for an insert, else the row's position (also kept
// in save.position). Accepting: "OK" saved, "0" the write failed, "" nothing
// written (row gone, locked, or changed by another user; the form stays open).
std::string SaveRec(Table& table, int request, bool opening, EditSave& save);

// ---- Queue errors -----------------------------------------------------------
// Error number of the last in-memory queue operation (0, 8, 30, 75 or other).
extern int queueError;

// 1 when the last queue operation failed, 0 when it succeeded or only did not
// find its entry (30). Modes as for UppDat.
int QError(int mode);

// ---- Transactions -----------------------------------------------------------
// Called at once after beginTransaction: 1 (after a message and a rollback)
// when beginning it failed, else 0.
int transactionCheck();

// ---- Files ----------------------------------------------------------------
// 3: remove the file named by second (1 removed or not there, 0 not removed);
// 4: remove every file in directory first that matches the mask second
//    (1 when all were removed);
// 5: 1 when at least one file matches the name or mask second.
// Other operations return 0. Masks use '*' and '?' and ignore letter case.
int DOSFunc(int operation, const std::string& first, const std::string& second);

// The mask matcher of DOSFunc: '*' any run of characters, '?' one character,
// letter case ignored; "name.*" also matches "name" without an extension,
// and a mask that ends in "." ("*.") matches only names without one.
bool fileMaskMatches(const std::string& mask, const std::string& name);

} // namespace qb

#include "core/settings.h"

#include "core/access.h"
#include "core/globals.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"

namespace qb {

uint32_t NextNr() {
    if (!Control.isOpen()) {
        OP_CLOSE(OpOpenShared, Control.number());
        if (!Control.isOpen()) return 0;
    }
    auto fail = [] {
        if (!unattended())
            ui().message("Control File Error", errorText() + "\r\n" + "Next ID cannot be generated!",
                         Icon::Exclamation);
        return 0u;
    };
    Control.clearBuffer();
    CTL.ID = 1;
    if (!Control.get(CTL_IdKey)) {
        Control.clearBuffer();
        CTL.ID = 1;
        CTL.NEXTNUMBER = 1;
        if (!Control.add()) return fail();
    }
    if (CTL.NEXTNUMBER == 0) CTL.NEXTNUMBER = 1;
    uint32_t id = CTL.NEXTNUMBER;
    CTL.NEXTNUMBER = id + 1;
    if (!Control.put()) return fail();
    return id;
}

} // namespace qb

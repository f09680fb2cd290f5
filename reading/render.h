// Rendering a stored message as text: the header block in the layout of a
// target reader, the body (wrapped or not) and the frame of a clipboard copy.
//
// Everything here works on Windows-1252 text with CR LF line ends; the caller
// converts to UTF-8 for the screen or the terminal.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "core/tables.h"

namespace qb {

// Target readers, as numbered in the export settings.
enum Target : int { TargetTapcis = 1, TargetEudora = 2, TargetUnix = 3, TargetOzWin = 4 };

enum class MessageKind { Mail, Forum, Newsgroup };

// The settings that shape a rendering. An item of 0 counts as its default.
struct RenderSettings {
    int mailTarget = 0;      // export item 61, default 1
    int forumTarget = 0;     // export item 62, default 1
    int newsTarget = 0;      // export item 63, default 3
    int wrap = 0;            // export item 60: 1 wraps long body lines
    int width = 0;           // export item 58: wrap width, default 78
    std::string cisDomain = "compuserve.com";  // Internet mail domain of the CompuServe service

    int target(MessageKind kind) const;
    int wrapWidth() const { return width > 0 ? width : 78; }
};

// The settings in force for the program's renderings (clipboard copies, the
// command line). Start-up fills them from the export settings; until then
// they hold the defaults.
RenderSettings& renderSettings();

// Everything at hand while one message is rendered.
struct RenderInput {
    MessageKind kind = MessageKind::Mail;
    MailRec mail{};            // kind Mail
    MsgNmbrRec msg{};          // kinds Forum and Newsgroup
    std::string text;          // the body, empty when there is no text row
    PersonRec from{}, to{};    // missing persons are empty rows
    SectionsRec section{};
    std::string heading;       // thread heading (forum and newsgroup), without trailing blanks
    std::string idString;      // newsgroup: the message's own identifier
    std::string parentIdString;// newsgroup: the identifier of the answered message
    std::string databaseName;
    uint32_t ownerId = 0;      // owner person of a mail database

    bool mailSent() const { return mail.MAILID != 0 && mail.FROMID == ownerId && ownerId != 0; }
};

// ---- pieces ---------------------------------------------------------------
extern const char* const kWeekdays[7];
extern const char* const kMonths[12];
std::string shortDate(int32_t day);       // 05-Jan-97
std::string longDate(int32_t day);        // 05-Jan-1997
std::string clockText(int32_t time);      // hh:mm:ss, 00:00:00 for no time

// N: first and last name, the last name alone, or empty when there is no last name.
std::string personName(const PersonRec& p);

// Where a person form is used.
enum class PersonUse {
    Forum,               // forum messages, every target
    Internet,            // newsgroup messages; mail with targets 2 and 3
    MailTapcis,          // mail, target 1
    OzWinReceiverOfSent, // mail, target 4
    OzWinSenderOfReceived,
    OzWinBare,           // target 4: receiver of received, sender of sent mail
};
std::string personForm(const PersonRec& p, PersonUse use, const std::string& cisDomain);

// ---- layouts --------------------------------------------------------------
// The header lines (each ended by CR LF) of the message in the layout of the
// target; plain asks for the plain layouts of forum and newsgroup messages.
std::string renderHeader(const RenderInput& in, int target, bool plain, const std::string& cisDomain);
// The body with long lines wrapped at width when wrap is on.
std::string wrapBody(std::string_view body, bool wrap, int width);
// Header and body.
std::string renderMessage(const RenderInput& in, const RenderSettings& s, bool plain = false);
// The framed text of a single-message copy.
std::string clipboardText(const RenderInput& in, const RenderSettings& s);

// ---- loading --------------------------------------------------------------
// Fills in from the active database's tables: the mail by its MAI:MAILID, or
// the forum or newsgroup message by its MSG:MSGNUMBER (kind from Mem.ForumType).
// The tables are opened and closed around the reads and the record buffers
// are left as they were. False when the header row is not there.
bool loadRenderInput(uint32_t id, RenderInput& in);

} // namespace qb

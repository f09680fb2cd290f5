// The tables of the system: one record buffer and one table object each.
//
// Every table is declared here once, with its fields in stored order and its
// keys. The record buffer of a table is named after its record prefix (FOR,
// MSG, ...), the table object after the table (Forums, MsgNmbr, ...). Record
// members carry the field names without the prefix: FOR:DESCRIPTION is
// FOR.DESCRIPTION. Arrays (DIM) are C arrays indexed from 0, so element 1 of a
// DIM is index 0.
//
// Key indexes are named constants PREFIX_KeyName (MSG_IdKey, MAI_PairKey,
// WD_BY_SETNAME, ...), the position of the key in Table::keys().
//
// The reader files (table numbers 11, 12, 20, 21, 31, 40) belong to other
// programs; they have numbers and file names here but no table object.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "core/fixedstr.h"
#include "core/storage.h"

namespace qb {

// ---------------------------------------------------------------- table 1
struct CodesRec {
    uint8_t TYPE;          // 1 key word, 2 topic
    Str<40> INDEX;
    uint32_t ID;
    uint32_t COUNT;
    int32_t DATE;
    int32_t TIME;
    uint8_t CHARCASE;
    uint8_t WORDONLY;
};
extern CodesRec COD;
extern Table Codes;
constexpr int COD_ClassKey = 0;

// ---------------------------------------------------------------- table 2
struct ForumsRec {
    uint32_t ID;
    Str<100> DESCRIPTION;
    uint32_t DIRNUMBER;
    uint8_t TYPE;          // 1 forum, 2 mail, 3 newsgroup
    uint8_t NOIMPORT;
    uint32_t MSGCOUNT;
    uint8_t COUNTFLAG;
    uint8_t DUMMY;         // 0 normal, 1 keep, 2 delete
    int32_t CREATED;
    int32_t LOWDATE;
    Str<60> MAILADDRESS;
    uint32_t PERSONID;
    Str<60> ALTADDRESS[10];
    uint32_t LASTMSGID;
    uint32_t RECSLASTTIME;
    int32_t WORDLISTINDEXNEEDSUPDATE;
    uint8_t INDEXTYPE;
};
extern ForumsRec FOR;
extern Table Forums;
constexpr int FOR_ForumKey = 0;
constexpr int FOR_AlphaKey = 1;
constexpr int FOR_DirKey = 2;
constexpr int FOR_TypeKey = 3;

// ---------------------------------------------------------------- table 3
struct MsgNmbrRec {
    uint32_t MSGNUMBER;
    uint32_t SECSYSID;
    uint32_t REFNUMBER;
    uint32_t THREADNUMBER;
    Str<10> THREADALPHA;
    uint32_t FROMID;
    Str<10> FROMALPHA;
    uint32_t TOID;
    Str<10> TOALPHA;
    int32_t DATE;
    uint8_t DUMMY;
    uint8_t FG;
};
extern MsgNmbrRec MSG;
extern Table MsgNmbr;
constexpr int MSG_IdKey = 0;
constexpr int MSG_Threadkey = 1;
constexpr int MSG_SECkey = 2;
constexpr int MSG_FromKey = 3;
constexpr int MSG_ToKey = 4;
constexpr int MSG_DateKey = 5;
constexpr int MSG_StatusKey = 6;

// ---------------------------------------------------------------- table 4
struct MsgTextRec {
    uint32_t MSGNUMBER;
    int32_t DATE;
    int32_t TIME;
};
extern MsgTextRec TXT;
extern std::string TXT_MsgText;        // memo TXT:MsgText
constexpr uint32_t TXT_MsgTextMax = 64000;
extern Table MsgText;
constexpr int TXT_IdKey = 0;
constexpr int TXT_DateKey = 1;

// ---------------------------------------------------------------- table 5
struct PersonRec {
    uint32_t PERSONID;
    Str<100> PERSONSTRING;
    Str<25> LASTNAME;
    Str<25> FIRSTNAME;
    Str<60> ADDRESS;
    uint32_t FROMCOUNT;
    uint32_t TOCOUNT;
    int32_t LASTDATE;
    uint8_t DUMMY;
};
extern PersonRec PER;
extern Table Person;
constexpr int PER_PersonKey = 0;
constexpr int PER_StringKey = 1;
constexpr int PER_AddressKey = 2;
constexpr int PER_NameKey = 3;

// ---------------------------------------------------------------- table 6
struct SectionsRec {
    uint8_t SECTIONNUMBER;
    uint32_t SECSYSID;
    Str<30> DESCRIPTION;
    uint32_t MSGCOUNT;
    uint8_t DUMMY;
};
extern SectionsRec SEC;
extern Table Sections;
constexpr int SEC_SysIdKey = 0;
constexpr int SEC_SectionKey = 1;

// ---------------------------------------------------------------- table 7
struct ThreadsRec {
    static constexpr size_t HeadingLength = 50;

    uint32_t THREADNUMBER;
    uint32_t SECSYSID;
    Str<10> ALPHA;         // THR:HEADING characters 1-10
    Str<40> BETA;          // THR:HEADING characters 11-50
    uint32_t MSGCOUNT;
    uint8_t DUMMY;

    // THR:HEADING: ALPHA and BETA together, 50 characters padded with blanks.
    std::string heading() const {
        std::string h(ALPHA.c, sizeof ALPHA.c);
        h.append(BETA.c, sizeof BETA.c);
        return h;
    }
    // Characters 1-10 go to ALPHA, 11-50 to BETA; anything after 50 is lost.
    void setHeading(std::string_view h) {
        ALPHA.set(h.substr(0, h.size() < 10 ? h.size() : 10));
        BETA.set(h.size() > 10 ? h.substr(10) : std::string_view{});
    }
};
extern ThreadsRec THR;
extern Table Threads;
constexpr int THR_ThreadKey = 0;
constexpr int THR_SecKey = 1;
constexpr int THR_AlphaKey = 2;
constexpr int THR_StatusKey = 3;

// ---------------------------------------------------------------- table 8
struct ControlRec {
    static constexpr size_t GroupSize = 200;

    uint8_t ID;
    uint32_t NEXTNUMBER;
    uint8_t CTLFIELD[GroupSize];   // CTL:CTLGROUP, the settings area of the row

    // The settings area read as (or written from) the record laid over it by
    // the row's owner.
    template <class T>
    T group() const {
        static_assert(std::is_trivially_copyable_v<T> && sizeof(T) <= GroupSize);
        T v;
        std::memcpy(static_cast<void*>(&v), CTLFIELD, sizeof(T));
        return v;
    }
    template <class T>
    void setGroup(const T& v) {
        static_assert(std::is_trivially_copyable_v<T> && sizeof(T) <= GroupSize);
        std::memcpy(CTLFIELD, static_cast<const void*>(&v), sizeof(T));
    }
    void clearGroup() { std::memset(CTLFIELD, 0, GroupSize); }
};
extern ControlRec CTL;
extern Table Control;
constexpr int CTL_IdKey = 0;

// ---------------------------------------------------------------- table 9
struct SIndexRec {
    uint32_t ID;
    uint32_t MSGNUMBER;
};
extern SIndexRec SIN;
extern Table SIndex;
constexpr int SIN_IdKey = 0;
constexpr int SIN_MsgKey = 1;

// --------------------------------------------------------------- table 10
struct NewHRRec {
    uint32_t INTERNAL;
    uint32_t MSGNUMBER;
    uint32_t REFNUMBER;
    Str<100> FOR_DESCRIPTION;
    uint8_t SECTIONNUMBER;
    Str<30> SEC_DESCRIPTION;
    Str<50> HEADING;
    Str<60> S_CISADRESS;
    Str<40> S_NAME;
    Str<60> R_CISADRESS;
    Str<40> R_NAME;
    uint8_t DUMMY;
    int32_t DATE;
    int32_t TIME;
    uint8_t MAILTYPE;      // 1 INBOX, 2 OUTBOX
    Str<2> RECIPTYPE;
    int32_t IMPDATE;
    int32_t IMPTIME;
};
extern NewHRRec NHR;
extern std::string NHR_MSGTEXT;        // memo NHR:MSGTEXT
constexpr uint32_t NHR_MSGTEXTMax = 64000;
extern Table NewHR;
constexpr int NHR_MSGKEY = 0;

// --------------------------------------------------------------- table 13
struct MailRec {
    int32_t DATE;
    int32_t TIME;
    Str<50> SUBJECT;
    uint32_t MAILID;
    uint32_t FROMID;
    Str<10> FROMALPHA;
    uint32_t TOID;
    Str<10> TOALPHA;
    uint32_t PAIRID;
    Str<25> PAIRALPHA;
    Str<2> RECIPTYPE;
    uint8_t CCR;
    uint8_t DUMMY;
    uint8_t FG;
};
extern MailRec MAI;
extern Table Mail;
constexpr int MAI_IdKey = 0;
constexpr int MAI_DateKey = 1;
constexpr int MAI_PairKey = 2;
constexpr int MAI_FromKey = 3;
constexpr int MAI_ToKey = 4;
constexpr int MAI_SubjectKey = 5;
constexpr int MAI_StatusKey = 6;

// --------------------------------------------------------------- table 17
// The buffer is CCR (as its prefix); the table object is CCRTable, since the
// table and its prefix share the name.
struct CCRRec {
    uint32_t MAILID;
    Str<40> R_NAME;
    Str<60> R_CISADRESS;
    Str<2> RECIPTYPE;
};
extern CCRRec CCR;
extern Table CCRTable;
constexpr int CCR_IdKey = 0;

// --------------------------------------------------------------- table 18
// The saved-message table: (database, message number) of every forum message stored.
struct SavedMsgRec {
    uint32_t FORUMNUMBER;
    uint32_t MSGNUMBER;
};
extern SavedMsgRec IMP;
extern Table SavedMsg;
constexpr int IMP_IDKEY = 0;

// --------------------------------------------------------------- table 19
// The temporary carbon-copy table of the mail being imported.
struct TempCCRec {
    uint32_t MAILID;
    Str<40> R_NAME;
    Str<60> R_CISADRESS;
    Str<2> RECIPTYPE;
};
extern TempCCRec CCT;
extern Table TempCC;
constexpr int CCT_IDKEY = 0;

// --------------------------------------------------------------- table 22
struct ForumRefRec {
    uint8_t TYPE;
    Str<100> DESCRIPTION;
    int32_t PERSONID;
    Str<60> MAILADDRESS;
    Str<60> ALTADDRESS[10];
};
extern ForumRefRec REF;
extern Table ForumRef;

// --------------------------------------------------------------- table 23
struct PLINKRec {
    Str<100> PERSONSTRING;
    uint32_t PERSONID;
};
extern PLINKRec PLI;
extern Table PLINK;
constexpr int PLI_StringKey = 0;
constexpr int PLI_PersonKey = 1;

// --------------------------------------------------------------- table 24
struct TempIDRec {
    Str<60> IDSTRING;
    uint32_t MSGNUMBER;
};
extern TempIDRec TID;
extern Table TempID;
constexpr int TID_IDKEY = 0;

// --------------------------------------------------------------- table 25
struct MessageIdsRec {
    Str<60> IDSTRING;
    uint32_t MSGNUMBER;
};
extern MessageIdsRec MST;
extern Table MessageIds;
constexpr int MST_IDSTRINGKEY = 0;
constexpr int MST_IDKEY = 1;

// --------------------------------------------------------------- table 26
struct TasksRec {
    uint32_t ID;
    Str<50> DESCRIPTION;
    int32_t RUNNOWDATE;
    int32_t RUNNOWTIME;
    int32_t RUNNEXTDATE;
    int32_t RUNNEXTTIME;
    int32_t LASTRUNDATE;
    int32_t LASTRUNTIME;
    uint8_t DAYS[7];       // TAS:DAILYREPEAT
    uint8_t MONTHDAYS[5];  // TAS:MONTHLYREPEAT
    uint8_t DODUPELIM;
    uint8_t DOPURGE;
    uint8_t DOCOUNT;
    uint8_t DOINDEX;
    uint8_t RESULTCODE;
    uint8_t ACTIVE;

    // The groups over DAYS and MONTHDAYS.
    uint8_t* dailyRepeat() { return DAYS; }
    const uint8_t* dailyRepeat() const { return DAYS; }
    uint8_t* monthlyRepeat() { return MONTHDAYS; }
    const uint8_t* monthlyRepeat() const { return MONTHDAYS; }
};
extern TasksRec TAS;
extern Table Tasks;
constexpr int TAS_IDKEY = 0;

// --------------------------------------------------------------- table 27
struct FileListRec {
    uint32_t ID;
    Str<100> FILESPEC;
};
extern FileListRec FLI;
extern Table FileList;
constexpr int FLI_IDKEY = 0;

// --------------------------------------------------------------- table 28
struct WordListRec {
    int32_t WORDID;
    Str<40> THEWORD;
    int32_t WORDCOUNT;
};
extern WordListRec WOR;
extern Table WordList;
constexpr int WOR_by_WordId = 0;
constexpr int WOR_by_theWord = 1;
constexpr int WOR_by_WordCount = 2;

// --------------------------------------------------------------- table 29
struct MasIdxRec {
    uint32_t SYSID;
    uint32_t WORDID;
};
extern MasIdxRec MAS;
extern Table MasIdx;
constexpr int MAS_by_SysID = 0;
constexpr int MAS_by_WordId = 1;

// --------------------------------------------------------------- table 30
struct StopWordsRec {
    Str<40> THEWORD;
};
extern StopWordsRec STO;
extern Table StopWords;
constexpr int STO_BY_THEWORD = 0;

// --------------------------------------------------------------- table 32
struct SearchRec {
    uint32_t ID;
};
extern SearchRec SEA;
extern Table Search;
constexpr int SEA_IdKey = 0;

// --------------------------------------------------------------- table 33
struct WordPurgeRec {
    int32_t SYSID;
    int32_t WORDID;
};
extern WordPurgeRec PUR;
extern Table WordPurge;

// --------------------------------------------------------------- table 34
struct BatchRec {
    uint32_t ID;
    uint32_t TYPE;
    Str<50> DESCRIPTION;
    uint32_t DATABASE;
    uint8_t FILETYPE;
    Str<100> IMPPATH;
    uint8_t SELMETHOD;
    uint32_t MAILBOX;
    uint8_t MAILMSG;
    uint8_t FORUMMSG;
    uint8_t NEWSGROUPMSG;
    uint8_t MSGFILTER;
    uint8_t ALLOWREIMP;
    uint32_t MAILTOPIC;
};
extern BatchRec BAT;
extern Table Batch;
constexpr int BAT_IDKEY = 0;
constexpr int BAT_TYPEKEY = 1;

// --------------------------------------------------------------- table 35
struct TaskBatchRec {
    uint32_t TASKID;
    uint32_t BATCHID;
    int32_t EVENTTIME;
    uint8_t RESULTCODE;
};
extern TaskBatchRec TIM;
extern Table TaskBatch;
constexpr int TIM_TASKKEY = 0;
constexpr int TIM_BATCHKEY = 1;

// --------------------------------------------------------------- table 39
struct WordDefRec {
    Str<40> SETNAME;
    uint8_t ID;
    uint8_t STARTWORD;
    uint8_t INWORD;
    uint8_t ENDWORD;
};
extern WordDefRec WD;
extern Table WordDef;
constexpr int WD_BY_SETNAME = 0;

// --------------------------------------------------------------- table 41
struct TaskLogRec {
    uint32_t TASKLOGID;
    uint32_t TASKID;
    int32_t DATESTARTED;
    int32_t DATEFINISHED;
    int32_t TIMESTARTED;
    int32_t TIMEFINISHED;
    uint8_t RESULTCODE;
};
extern TaskLogRec TLO;
extern Table TaskLog;
constexpr int TLO_IDKEY = 0;
constexpr int TLO_BYTASK = 1;

// --------------------------------------------------------------- table 42
struct TaskLogItemRec {
    uint32_t TASKLOGID;
    uint32_t TYPE;
    uint32_t BATCHID;
    int32_t DATESTARTED;
    int32_t DATEFINISHED;
    int32_t TIMESTARTED;
    int32_t TIMEFINISHED;
    uint8_t RESULTCODE;
};
extern TaskLogItemRec TLI;
extern Table TaskLogItem;
constexpr int TLI_IDKEY = 0;

// ------------------------------------------------------------ by number

// Table numbers of the reader files (other programs' files, named by FileTmpName).
constexpr int ReaderHeaders = 11;   // HRE:
constexpr int ReaderMessages = 12;  // DOS:, also the address export file
constexpr int ReaderForum = 20;     // CCO:
constexpr int ReaderMail = 21;      // CMA:
constexpr int ReaderIndex = 31;     // TOC:
constexpr int ReaderOther = 40;     // OUI:

bool isReaderFile(int n);
// True for every table number of the system, the reader files included.
bool tableNumberDefined(int n);
// The table object of number n; nullptr for undefined numbers and reader files.
Table* tableByNumber(int n);
// Full file name of table n from the directory globals (Mem, MasIdxPath,
// FileTmpName) as they are now; empty for an undefined number. Naming a
// word-index table (28, 29, 33) while the word-index directory is not the data
// directory creates MasIdxPath/Dirnamn when it is missing.
std::string tableFileName(int n);
// Every table object, in table-number order.
std::vector<Table*> allTables();

} // namespace qb

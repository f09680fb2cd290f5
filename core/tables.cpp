#include "core/tables.h"

#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <stdexcept>
#include <system_error>

#include "core/globals.h"
#include "core/text.h"

namespace qb {

namespace {

// Key attributes.
enum : unsigned { Dup = 0, Unique = 1, NoCase = 2, Primary = 4, Optional = 8, OnDemand = 16 };

struct Comp {
    const char* field;
    bool descending = false;
};
constexpr bool Desc = true;

// A key whose components are given by field name, resolved against the table's fields.
KeyDef key(const std::vector<FieldDef>& fields, const char* name, std::initializer_list<Comp> comps, unsigned attr) {
    KeyDef k;
    k.name = name;
    for (const Comp& c : comps) {
        int index = -1;
        for (size_t i = 0; i < fields.size(); ++i)
            if (fields[i].name == c.field) { index = static_cast<int>(i); break; }
        if (index < 0) throw std::logic_error(std::string("key ") + name + ": unknown field " + c.field);
        k.comps.push_back(KeyComp{index, c.descending});
    }
    k.unique = (attr & Unique) != 0;
    k.nocase = (attr & NoCase) != 0;
    k.primary = (attr & Primary) != 0;
    k.optional = (attr & Optional) != 0;
    k.onDemand = (attr & OnDemand) != 0;
    return k;
}

constexpr unsigned PrimaryKey = Primary | Unique;

} // namespace

#define F(Rec, m, pfx, type, width) QB_FIELD(Rec, m, pfx, type, width)

// ---------------------------------------------------------------- Codes (1)
CodesRec COD;
static const std::vector<FieldDef> codFields = {
    F(CodesRec, TYPE, "COD", Byte, 0),      F(CodesRec, INDEX, "COD", String, 40),
    F(CodesRec, ID, "COD", ULong, 0),       F(CodesRec, COUNT, "COD", ULong, 0),
    F(CodesRec, DATE, "COD", Long, 0),      F(CodesRec, TIME, "COD", Long, 0),
    F(CodesRec, CHARCASE, "COD", Byte, 0),  F(CodesRec, WORDONLY, "COD", Byte, 0),
};
Table Codes(1, "Codes", "COD", StorageKind::Keyed, &COD, sizeof(CodesRec), codFields,
            {key(codFields, "COD:ClassKey", {{"COD:TYPE"}, {"COD:INDEX"}}, PrimaryKey | NoCase)});

// --------------------------------------------------------------- Forums (2)
ForumsRec FOR;
static const std::vector<FieldDef> forFields = {
    F(ForumsRec, ID, "FOR", ULong, 0),
    F(ForumsRec, DESCRIPTION, "FOR", String, 100),
    F(ForumsRec, DIRNUMBER, "FOR", ULong, 0),
    F(ForumsRec, TYPE, "FOR", Byte, 0),
    F(ForumsRec, NOIMPORT, "FOR", Byte, 0),
    F(ForumsRec, MSGCOUNT, "FOR", ULong, 0),
    F(ForumsRec, COUNTFLAG, "FOR", Byte, 0),
    F(ForumsRec, DUMMY, "FOR", Byte, 0),
    F(ForumsRec, CREATED, "FOR", Long, 0),
    F(ForumsRec, LOWDATE, "FOR", Long, 0),
    F(ForumsRec, MAILADDRESS, "FOR", String, 60),
    F(ForumsRec, PERSONID, "FOR", ULong, 0),
    F(ForumsRec, ALTADDRESS, "FOR", String, 60),
    F(ForumsRec, LASTMSGID, "FOR", ULong, 0),
    F(ForumsRec, RECSLASTTIME, "FOR", ULong, 0),
    F(ForumsRec, WORDLISTINDEXNEEDSUPDATE, "FOR", Long, 0),
    F(ForumsRec, INDEXTYPE, "FOR", Byte, 0),
};
Table Forums(2, "Forums", "FOR", StorageKind::Keyed, &FOR, sizeof(ForumsRec), forFields,
             {key(forFields, "FOR:ForumKey", {{"FOR:ID"}}, PrimaryKey),
              key(forFields, "FOR:AlphaKey", {{"FOR:DESCRIPTION"}}, Unique | NoCase),
              key(forFields, "FOR:DirKey", {{"FOR:DIRNUMBER"}}, Unique),
              key(forFields, "FOR:TypeKey", {{"FOR:TYPE"}}, Dup)});

// -------------------------------------------------------------- MsgNmbr (3)
MsgNmbrRec MSG;
static const std::vector<FieldDef> msgFields = {
    F(MsgNmbrRec, MSGNUMBER, "MSG", ULong, 0),
    F(MsgNmbrRec, SECSYSID, "MSG", ULong, 0),
    F(MsgNmbrRec, REFNUMBER, "MSG", ULong, 0),
    F(MsgNmbrRec, THREADNUMBER, "MSG", ULong, 0),
    F(MsgNmbrRec, THREADALPHA, "MSG", String, 10),
    F(MsgNmbrRec, FROMID, "MSG", ULong, 0),
    F(MsgNmbrRec, FROMALPHA, "MSG", String, 10),
    F(MsgNmbrRec, TOID, "MSG", ULong, 0),
    F(MsgNmbrRec, TOALPHA, "MSG", String, 10),
    F(MsgNmbrRec, DATE, "MSG", Long, 0),
    F(MsgNmbrRec, DUMMY, "MSG", Byte, 0),
    F(MsgNmbrRec, FG, "MSG", Byte, 0),
};
Table MsgNmbr(3, "MsgNmbr", "MSG", StorageKind::Keyed, &MSG, sizeof(MsgNmbrRec), msgFields,
              {key(msgFields, "MSG:IdKey", {{"MSG:MSGNUMBER", Desc}}, PrimaryKey),
               key(msgFields, "MSG:Threadkey", {{"MSG:THREADALPHA"}, {"MSG:THREADNUMBER"}, {"MSG:MSGNUMBER"}}, NoCase),
               key(msgFields, "MSG:SECkey",
                   {{"MSG:SECSYSID"}, {"MSG:THREADALPHA"}, {"MSG:THREADNUMBER"}, {"MSG:MSGNUMBER"}}, NoCase),
               key(msgFields, "MSG:FromKey", {{"MSG:FROMALPHA"}, {"MSG:FROMID"}, {"MSG:MSGNUMBER", Desc}}, NoCase),
               key(msgFields, "MSG:ToKey", {{"MSG:TOALPHA"}, {"MSG:TOID"}, {"MSG:MSGNUMBER", Desc}}, NoCase),
               key(msgFields, "MSG:DateKey", {{"MSG:DATE", Desc}, {"MSG:MSGNUMBER", Desc}}, Dup),
               key(msgFields, "MSG:StatusKey", {{"MSG:DUMMY"}}, Dup)});

// -------------------------------------------------------------- MsgText (4)
MsgTextRec TXT;
std::string TXT_MsgText;
static const std::vector<FieldDef> txtFields = {
    F(MsgTextRec, MSGNUMBER, "TXT", ULong, 0),
    F(MsgTextRec, DATE, "TXT", Long, 0),
    F(MsgTextRec, TIME, "TXT", Long, 0),
};
Table MsgText(4, "MsgText", "TXT", StorageKind::Keyed, &TXT, sizeof(MsgTextRec), txtFields,
              {key(txtFields, "TXT:IdKey", {{"TXT:MSGNUMBER"}}, PrimaryKey),
               key(txtFields, "TXT:DateKey", {{"TXT:DATE"}}, NoCase)},
              &TXT_MsgText, TXT_MsgTextMax, "TXT:MsgText");

// --------------------------------------------------------------- Person (5)
PersonRec PER;
static const std::vector<FieldDef> perFields = {
    F(PersonRec, PERSONID, "PER", ULong, 0),
    F(PersonRec, PERSONSTRING, "PER", String, 100),
    F(PersonRec, LASTNAME, "PER", String, 25),
    F(PersonRec, FIRSTNAME, "PER", String, 25),
    F(PersonRec, ADDRESS, "PER", String, 60),
    F(PersonRec, FROMCOUNT, "PER", ULong, 0),
    F(PersonRec, TOCOUNT, "PER", ULong, 0),
    F(PersonRec, LASTDATE, "PER", Long, 0),
    F(PersonRec, DUMMY, "PER", Byte, 0),
};
Table Person(5, "Person", "PER", StorageKind::Keyed, &PER, sizeof(PersonRec), perFields,
             {key(perFields, "PER:PersonKey", {{"PER:PERSONID"}}, PrimaryKey),
              key(perFields, "PER:StringKey", {{"PER:PERSONSTRING"}}, Unique | NoCase),
              key(perFields, "PER:AddressKey", {{"PER:ADDRESS"}}, NoCase),
              key(perFields, "PER:NameKey", {{"PER:LASTNAME"}, {"PER:FIRSTNAME"}}, NoCase)});

// ------------------------------------------------------------- Sections (6)
SectionsRec SEC;
static const std::vector<FieldDef> secFields = {
    F(SectionsRec, SECTIONNUMBER, "SEC", Byte, 0),
    F(SectionsRec, SECSYSID, "SEC", ULong, 0),
    F(SectionsRec, DESCRIPTION, "SEC", String, 30),
    F(SectionsRec, MSGCOUNT, "SEC", ULong, 0),
    F(SectionsRec, DUMMY, "SEC", Byte, 0),
};
Table Sections(6, "Sections", "SEC", StorageKind::Keyed, &SEC, sizeof(SectionsRec), secFields,
               {key(secFields, "SEC:SysIdKey", {{"SEC:SECSYSID"}}, PrimaryKey),
                key(secFields, "SEC:SectionKey", {{"SEC:SECTIONNUMBER"}}, Dup)});

// -------------------------------------------------------------- Threads (7)
ThreadsRec THR;
static const std::vector<FieldDef> thrFields = {
    F(ThreadsRec, THREADNUMBER, "THR", ULong, 0),
    F(ThreadsRec, SECSYSID, "THR", ULong, 0),
    F(ThreadsRec, ALPHA, "THR", String, 10),
    F(ThreadsRec, BETA, "THR", String, 40),
    F(ThreadsRec, MSGCOUNT, "THR", ULong, 0),
    F(ThreadsRec, DUMMY, "THR", Byte, 0),
};
Table Threads(7, "Threads", "THR", StorageKind::Keyed, &THR, sizeof(ThreadsRec), thrFields,
              {key(thrFields, "THR:ThreadKey", {{"THR:THREADNUMBER"}}, PrimaryKey),
               key(thrFields, "THR:SecKey", {{"THR:SECSYSID"}, {"THR:ALPHA"}}, NoCase),
               key(thrFields, "THR:AlphaKey", {{"THR:ALPHA"}}, NoCase),
               key(thrFields, "THR:StatusKey", {{"THR:DUMMY"}}, Dup)});

// -------------------------------------------------------------- Control (8)
ControlRec CTL;
static const std::vector<FieldDef> ctlFields = {
    F(ControlRec, ID, "CTL", Byte, 0),
    F(ControlRec, NEXTNUMBER, "CTL", ULong, 0),
    F(ControlRec, CTLFIELD, "CTL", Byte, 0),
};
Table Control(8, "Control", "CTL", StorageKind::Keyed, &CTL, sizeof(ControlRec), ctlFields,
              {key(ctlFields, "CTL:IdKey", {{"CTL:ID"}}, PrimaryKey)});

// --------------------------------------------------------------- SIndex (9)
SIndexRec SIN;
static const std::vector<FieldDef> sinFields = {
    F(SIndexRec, ID, "SIN", ULong, 0),
    F(SIndexRec, MSGNUMBER, "SIN", ULong, 0),
};
Table SIndex(9, "SIndex", "SIN", StorageKind::Keyed, &SIN, sizeof(SIndexRec), sinFields,
             {key(sinFields, "SIN:IdKey", {{"SIN:ID"}, {"SIN:MSGNUMBER", Desc}}, PrimaryKey | NoCase),
              key(sinFields, "SIN:MsgKey", {{"SIN:MSGNUMBER"}}, Dup)});

// ---------------------------------------------------------------- NewHR (10)
NewHRRec NHR;
std::string NHR_MSGTEXT;
static const std::vector<FieldDef> nhrFields = {
    F(NewHRRec, INTERNAL, "NHR", ULong, 0),
    F(NewHRRec, MSGNUMBER, "NHR", ULong, 0),
    F(NewHRRec, REFNUMBER, "NHR", ULong, 0),
    F(NewHRRec, FOR_DESCRIPTION, "NHR", String, 100),
    F(NewHRRec, SECTIONNUMBER, "NHR", Byte, 0),
    F(NewHRRec, SEC_DESCRIPTION, "NHR", String, 30),
    F(NewHRRec, HEADING, "NHR", String, 50),
    F(NewHRRec, S_CISADRESS, "NHR", String, 60),
    F(NewHRRec, S_NAME, "NHR", String, 40),
    F(NewHRRec, R_CISADRESS, "NHR", String, 60),
    F(NewHRRec, R_NAME, "NHR", String, 40),
    F(NewHRRec, DUMMY, "NHR", Byte, 0),
    F(NewHRRec, DATE, "NHR", Long, 0),
    F(NewHRRec, TIME, "NHR", Long, 0),
    F(NewHRRec, MAILTYPE, "NHR", Byte, 0),
    F(NewHRRec, RECIPTYPE, "NHR", String, 2),
    F(NewHRRec, IMPDATE, "NHR", Long, 0),
    F(NewHRRec, IMPTIME, "NHR", Long, 0),
};
Table NewHR(10, "NewHR", "NHR", StorageKind::Keyed, &NHR, sizeof(NewHRRec), nhrFields,
            {key(nhrFields, "NHR:MSGKEY", {{"NHR:INTERNAL"}, {"NHR:MSGNUMBER"}}, PrimaryKey)},
            &NHR_MSGTEXT, NHR_MSGTEXTMax, "NHR:MSGTEXT");

// ----------------------------------------------------------------- Mail (13)
MailRec MAI;
static const std::vector<FieldDef> maiFields = {
    F(MailRec, DATE, "MAI", Long, 0),
    F(MailRec, TIME, "MAI", Long, 0),
    F(MailRec, SUBJECT, "MAI", String, 50),
    F(MailRec, MAILID, "MAI", ULong, 0),
    F(MailRec, FROMID, "MAI", ULong, 0),
    F(MailRec, FROMALPHA, "MAI", String, 10),
    F(MailRec, TOID, "MAI", ULong, 0),
    F(MailRec, TOALPHA, "MAI", String, 10),
    F(MailRec, PAIRID, "MAI", ULong, 0),
    F(MailRec, PAIRALPHA, "MAI", String, 25),
    F(MailRec, RECIPTYPE, "MAI", String, 2),
    F(MailRec, CCR, "MAI", Byte, 0),
    F(MailRec, DUMMY, "MAI", Byte, 0),
    F(MailRec, FG, "MAI", Byte, 0),
};
Table Mail(13, "Mail", "MAI", StorageKind::Keyed, &MAI, sizeof(MailRec), maiFields,
           {key(maiFields, "MAI:IdKey", {{"MAI:MAILID", Desc}}, PrimaryKey),
            key(maiFields, "MAI:DateKey", {{"MAI:DATE", Desc}, {"MAI:TIME", Desc}, {"MAI:MAILID", Desc}}, NoCase),
            key(maiFields, "MAI:PairKey",
                {{"MAI:PAIRALPHA"}, {"MAI:PAIRID"}, {"MAI:DATE", Desc}, {"MAI:TIME", Desc}, {"MAI:MAILID", Desc}},
                NoCase),
            key(maiFields, "MAI:FromKey",
                {{"MAI:FROMALPHA"}, {"MAI:FROMID"}, {"MAI:DATE", Desc}, {"MAI:TIME", Desc}, {"MAI:MAILID", Desc}},
                NoCase),
            key(maiFields, "MAI:ToKey",
                {{"MAI:TOALPHA"}, {"MAI:TOID"}, {"MAI:DATE", Desc}, {"MAI:TIME", Desc}, {"MAI:MAILID", Desc}},
                NoCase),
            key(maiFields, "MAI:SubjectKey",
                {{"MAI:SUBJECT"}, {"MAI:DATE", Desc}, {"MAI:TIME", Desc}, {"MAI:MAILID", Desc}}, NoCase),
            key(maiFields, "MAI:StatusKey", {{"MAI:DUMMY"}}, Dup)});

// ------------------------------------------------------------------ CCR (17)
CCRRec CCR;
static const std::vector<FieldDef> ccrFields = {
    F(CCRRec, MAILID, "CCR", ULong, 0),
    F(CCRRec, R_NAME, "CCR", String, 40),
    F(CCRRec, R_CISADRESS, "CCR", String, 60),
    F(CCRRec, RECIPTYPE, "CCR", String, 2),
};
Table CCRTable(17, "CCR", "CCR", StorageKind::Keyed, &CCR, sizeof(CCRRec), ccrFields,
               {key(ccrFields, "CCR:IdKey", {{"CCR:MAILID"}, {"CCR:R_CISADRESS"}, {"CCR:R_NAME"}},
                    PrimaryKey | NoCase)});

// ------------------------------------------------- saved-message table (18)
SavedMsgRec IMP;
static const std::vector<FieldDef> impFields = {
    F(SavedMsgRec, FORUMNUMBER, "IMP", ULong, 0),
    F(SavedMsgRec, MSGNUMBER, "IMP", ULong, 0),
};
Table SavedMsg(18, "SavedMsg", "IMP", StorageKind::Keyed, &IMP, sizeof(SavedMsgRec), impFields,
               {key(impFields, "IMP:IDKEY", {{"IMP:FORUMNUMBER"}, {"IMP:MSGNUMBER"}}, PrimaryKey)});

// ------------------------------------------- temporary carbon copies (19)
TempCCRec CCT;
static const std::vector<FieldDef> cctFields = {
    F(TempCCRec, MAILID, "CCT", ULong, 0),
    F(TempCCRec, R_NAME, "CCT", String, 40),
    F(TempCCRec, R_CISADRESS, "CCT", String, 60),
    F(TempCCRec, RECIPTYPE, "CCT", String, 2),
};
Table TempCC(19, "TempCC", "CCT", StorageKind::Keyed, &CCT, sizeof(TempCCRec), cctFields,
             {key(cctFields, "CCT:IDKEY", {{"CCT:MAILID"}, {"CCT:R_CISADRESS"}, {"CCT:R_NAME"}}, PrimaryKey)});

// ------------------------------------------------------------- ForumRef (22)
ForumRefRec REF;
static const std::vector<FieldDef> refFields = {
    F(ForumRefRec, TYPE, "REF", Byte, 0),
    F(ForumRefRec, DESCRIPTION, "REF", String, 100),
    F(ForumRefRec, PERSONID, "REF", Long, 0),
    F(ForumRefRec, MAILADDRESS, "REF", String, 60),
    F(ForumRefRec, ALTADDRESS, "REF", String, 60),
};
Table ForumRef(22, "ForumRef", "REF", StorageKind::Flat, &REF, sizeof(ForumRefRec), refFields, {});

// ---------------------------------------------------------------- PLINK (23)
PLINKRec PLI;
static const std::vector<FieldDef> pliFields = {
    F(PLINKRec, PERSONSTRING, "PLI", String, 100),
    F(PLINKRec, PERSONID, "PLI", ULong, 0),
};
Table PLINK(23, "PLINK", "PLI", StorageKind::Keyed, &PLI, sizeof(PLINKRec), pliFields,
            {key(pliFields, "PLI:StringKey", {{"PLI:PERSONSTRING"}}, PrimaryKey | NoCase),
             key(pliFields, "PLI:PersonKey", {{"PLI:PERSONID"}}, Dup)});

// --------------------------------------------------------------- TempID (24)
TempIDRec TID;
static const std::vector<FieldDef> tidFields = {
    F(TempIDRec, IDSTRING, "TID", String, 60),
    F(TempIDRec, MSGNUMBER, "TID", ULong, 0),
};
Table TempID(24, "TempID", "TID", StorageKind::Keyed, &TID, sizeof(TempIDRec), tidFields,
             {key(tidFields, "TID:IDKEY", {{"TID:MSGNUMBER"}}, PrimaryKey)});

// ----------------------------------------------------------- MessageIds (25)
MessageIdsRec MST;
static const std::vector<FieldDef> mstFields = {
    F(MessageIdsRec, IDSTRING, "MST", String, 60),
    F(MessageIdsRec, MSGNUMBER, "MST", ULong, 0),
};
Table MessageIds(25, "MessageIds", "MST", StorageKind::Keyed, &MST, sizeof(MessageIdsRec), mstFields,
                 {key(mstFields, "MST:IDSTRINGKEY", {{"MST:IDSTRING"}}, PrimaryKey | NoCase),
                  key(mstFields, "MST:IDKEY", {{"MST:MSGNUMBER"}}, Unique | NoCase)});

// ---------------------------------------------------------------- Tasks (26)
TasksRec TAS;
static const std::vector<FieldDef> tasFields = {
    F(TasksRec, ID, "TAS", ULong, 0),
    F(TasksRec, DESCRIPTION, "TAS", String, 50),
    F(TasksRec, RUNNOWDATE, "TAS", Long, 0),
    F(TasksRec, RUNNOWTIME, "TAS", Long, 0),
    F(TasksRec, RUNNEXTDATE, "TAS", Long, 0),
    F(TasksRec, RUNNEXTTIME, "TAS", Long, 0),
    F(TasksRec, LASTRUNDATE, "TAS", Long, 0),
    F(TasksRec, LASTRUNTIME, "TAS", Long, 0),
    F(TasksRec, DAYS, "TAS", Byte, 0),
    F(TasksRec, MONTHDAYS, "TAS", Byte, 0),
    F(TasksRec, DODUPELIM, "TAS", Byte, 0),
    F(TasksRec, DOPURGE, "TAS", Byte, 0),
    F(TasksRec, DOCOUNT, "TAS", Byte, 0),
    F(TasksRec, DOINDEX, "TAS", Byte, 0),
    F(TasksRec, RESULTCODE, "TAS", Byte, 0),
    F(TasksRec, ACTIVE, "TAS", Byte, 0),
};
Table Tasks(26, "Tasks", "TAS", StorageKind::Keyed, &TAS, sizeof(TasksRec), tasFields,
            {key(tasFields, "TAS:IDKEY", {{"TAS:ID"}}, PrimaryKey)});

// ------------------------------------------------------------- FileList (27)
FileListRec FLI;
static const std::vector<FieldDef> fliFields = {
    F(FileListRec, ID, "FLI", ULong, 0),
    F(FileListRec, FILESPEC, "FLI", String, 100),
};
Table FileList(27, "FileList", "FLI", StorageKind::Keyed, &FLI, sizeof(FileListRec), fliFields,
               {key(fliFields, "FLI:IDKEY", {{"FLI:ID"}, {"FLI:FILESPEC"}}, PrimaryKey)});

// ------------------------------------------------------------- WordList (28)
// A flat file that still carries keys.
WordListRec WOR;
static const std::vector<FieldDef> worFields = {
    F(WordListRec, WORDID, "WOR", Long, 0),
    F(WordListRec, THEWORD, "WOR", String, 40),
    F(WordListRec, WORDCOUNT, "WOR", Long, 0),
};
Table WordList(28, "WordList", "WOR", StorageKind::Flat, &WOR, sizeof(WordListRec), worFields,
               {key(worFields, "WOR:by_WordId", {{"WOR:WORDID"}}, PrimaryKey | Optional),
                key(worFields, "WOR:by_theWord", {{"WOR:THEWORD"}}, Unique | NoCase | Optional),
                key(worFields, "WOR:by_WordCount", {{"WOR:WORDCOUNT"}}, Optional | OnDemand)});

// --------------------------------------------------------------- MasIdx (29)
MasIdxRec MAS;
static const std::vector<FieldDef> masFields = {
    F(MasIdxRec, SYSID, "MAS", ULong, 0),
    F(MasIdxRec, WORDID, "MAS", ULong, 0),
};
Table MasIdx(29, "MasIdx", "MAS", StorageKind::Keyed, &MAS, sizeof(MasIdxRec), masFields,
             {key(masFields, "MAS:by_SysID", {{"MAS:SYSID"}, {"MAS:WORDID"}}, PrimaryKey | Optional),
              key(masFields, "MAS:by_WordId", {{"MAS:WORDID"}}, Optional)});

// ------------------------------------------------------------ StopWords (30)
StopWordsRec STO;
static const std::vector<FieldDef> stoFields = {
    F(StopWordsRec, THEWORD, "STO", String, 40),
};
Table StopWords(30, "StopWords", "STO", StorageKind::Keyed, &STO, sizeof(StopWordsRec), stoFields,
                {key(stoFields, "STO:BY_THEWORD", {{"STO:THEWORD"}}, PrimaryKey | NoCase | Optional)});

// --------------------------------------------------------------- Search (32)
SearchRec SEA;
static const std::vector<FieldDef> seaFields = {
    F(SearchRec, ID, "SEA", ULong, 0),
};
Table Search(32, "Search", "SEA", StorageKind::Keyed, &SEA, sizeof(SearchRec), seaFields,
             {key(seaFields, "SEA:IdKey", {{"SEA:ID", Desc}}, PrimaryKey)});

// ------------------------------------------------------------ WordPurge (33)
WordPurgeRec PUR;
static const std::vector<FieldDef> purFields = {
    F(WordPurgeRec, SYSID, "PUR", Long, 0),
    F(WordPurgeRec, WORDID, "PUR", Long, 0),
};
Table WordPurge(33, "WordPurge", "PUR", StorageKind::Flat, &PUR, sizeof(WordPurgeRec), purFields, {});

// ---------------------------------------------------------------- Batch (34)
BatchRec BAT;
static const std::vector<FieldDef> batFields = {
    F(BatchRec, ID, "BAT", ULong, 0),
    F(BatchRec, TYPE, "BAT", ULong, 0),
    F(BatchRec, DESCRIPTION, "BAT", String, 50),
    F(BatchRec, DATABASE, "BAT", ULong, 0),
    F(BatchRec, FILETYPE, "BAT", Byte, 0),
    F(BatchRec, IMPPATH, "BAT", String, 100),
    F(BatchRec, SELMETHOD, "BAT", Byte, 0),
    F(BatchRec, MAILBOX, "BAT", ULong, 0),
    F(BatchRec, MAILMSG, "BAT", Byte, 0),
    F(BatchRec, FORUMMSG, "BAT", Byte, 0),
    F(BatchRec, NEWSGROUPMSG, "BAT", Byte, 0),
    F(BatchRec, MSGFILTER, "BAT", Byte, 0),
    F(BatchRec, ALLOWREIMP, "BAT", Byte, 0),
    F(BatchRec, MAILTOPIC, "BAT", ULong, 0),
};
Table Batch(34, "Batch", "BAT", StorageKind::Keyed, &BAT, sizeof(BatchRec), batFields,
            {key(batFields, "BAT:IDKEY", {{"BAT:ID"}}, PrimaryKey),
             key(batFields, "BAT:TYPEKEY", {{"BAT:TYPE"}}, NoCase)});

// ------------------------------------------------------------ TaskBatch (35)
TaskBatchRec TIM;
static const std::vector<FieldDef> timFields = {
    F(TaskBatchRec, TASKID, "TIM", ULong, 0),
    F(TaskBatchRec, BATCHID, "TIM", ULong, 0),
    F(TaskBatchRec, EVENTTIME, "TIM", Long, 0),
    F(TaskBatchRec, RESULTCODE, "TIM", Byte, 0),
};
Table TaskBatch(35, "TaskBatch", "TIM", StorageKind::Keyed, &TIM, sizeof(TaskBatchRec), timFields,
                {key(timFields, "TIM:TASKKEY", {{"TIM:TASKID"}, {"TIM:BATCHID"}}, PrimaryKey),
                 key(timFields, "TIM:BATCHKEY", {{"TIM:BATCHID"}}, NoCase)});

// -------------------------------------------------------------- WordDef (39)
WordDefRec WD;
static const std::vector<FieldDef> wdFields = {
    F(WordDefRec, SETNAME, "WD", String, 40),
    F(WordDefRec, ID, "WD", Byte, 0),
    F(WordDefRec, STARTWORD, "WD", Byte, 0),
    F(WordDefRec, INWORD, "WD", Byte, 0),
    F(WordDefRec, ENDWORD, "WD", Byte, 0),
};
Table WordDef(39, "WordDef", "WD", StorageKind::Keyed, &WD, sizeof(WordDefRec), wdFields,
              {key(wdFields, "WD:BY_SETNAME", {{"WD:SETNAME"}, {"WD:ID"}}, PrimaryKey | NoCase)});

// -------------------------------------------------------------- TaskLog (41)
TaskLogRec TLO;
static const std::vector<FieldDef> tloFields = {
    F(TaskLogRec, TASKLOGID, "TLO", ULong, 0),
    F(TaskLogRec, TASKID, "TLO", ULong, 0),
    F(TaskLogRec, DATESTARTED, "TLO", Long, 0),
    F(TaskLogRec, DATEFINISHED, "TLO", Long, 0),
    F(TaskLogRec, TIMESTARTED, "TLO", Long, 0),
    F(TaskLogRec, TIMEFINISHED, "TLO", Long, 0),
    F(TaskLogRec, RESULTCODE, "TLO", Byte, 0),
};
Table TaskLog(41, "TaskLog", "TLO", StorageKind::Keyed, &TLO, sizeof(TaskLogRec), tloFields,
              {key(tloFields, "TLO:IDKEY", {{"TLO:TASKLOGID"}}, PrimaryKey),
               key(tloFields, "TLO:BYTASK", {{"TLO:TASKID"}, {"TLO:TASKLOGID"}}, Unique | NoCase)});

// ---------------------------------------------------------- TaskLogItem (42)
TaskLogItemRec TLI;
static const std::vector<FieldDef> tliFields = {
    F(TaskLogItemRec, TASKLOGID, "TLI", ULong, 0),
    F(TaskLogItemRec, TYPE, "TLI", ULong, 0),
    F(TaskLogItemRec, BATCHID, "TLI", ULong, 0),
    F(TaskLogItemRec, DATESTARTED, "TLI", Long, 0),
    F(TaskLogItemRec, DATEFINISHED, "TLI", Long, 0),
    F(TaskLogItemRec, TIMESTARTED, "TLI", Long, 0),
    F(TaskLogItemRec, TIMEFINISHED, "TLI", Long, 0),
    F(TaskLogItemRec, RESULTCODE, "TLI", Byte, 0),
};
Table TaskLogItem(42, "TaskLogItem", "TLI", StorageKind::Keyed, &TLI, sizeof(TaskLogItemRec), tliFields,
                  {key(tliFields, "TLI:IDKEY",
                       {{"TLI:TASKLOGID"}, {"TLI:TYPE"}, {"TLI:DATESTARTED"}, {"TLI:TIMESTARTED"}}, PrimaryKey)});

#undef F

// ------------------------------------------------------------ by number

namespace {

enum class Dir { None, Config, Temp, Database, WordIndex, Caller };

Dir directoryOf(int n) {
    switch (n) {
    case 2: case 8: case 18: case 26: case 27: case 30: case 34: case 35: case 41: case 42:
        return Dir::Config;
    case 10: case 19: case 24: case 32:
        return Dir::Temp;
    case 1: case 3: case 4: case 5: case 6: case 7: case 9: case 13: case 17: case 22: case 23: case 25:
        return Dir::Database;
    case 28: case 29: case 33: case 39:
        return Dir::WordIndex;
    case 11: case 12: case 20: case 21: case 31: case 40:
        return Dir::Caller;
    default:
        return Dir::None;
    }
}

bool flatFile(int n) { return n == 22 || n == 28 || n == 33; }

// A directory global without trailing blanks and slashes; "/" stays "/".
std::string dirPart(std::string_view d) {
    d = rtrim(d);
    size_t n = d.size();
    while (n > 0 && d[n - 1] == '/') --n;
    if (n == 0 && !d.empty()) return "/";
    return std::string(d.substr(0, n));
}

// Parts joined by single slashes; empty parts are left out.
std::string joinPath(std::initializer_list<std::string> parts) {
    std::string out;
    for (const std::string& p : parts) {
        if (p.empty()) continue;
        if (!out.empty() && out.back() != '/') out += '/';
        out += p;
    }
    return out;
}

// Word-index and data directories compared without trailing blanks and slashes, in capitals.
bool sameDirectory(const std::string& a, const std::string& b) { return upper(dirPart(a)) == upper(dirPart(b)); }

} // namespace

bool isReaderFile(int n) { return directoryOf(n) == Dir::Caller; }

bool tableNumberDefined(int n) { return directoryOf(n) != Dir::None; }

std::vector<Table*> allTables() {
    return {&Codes,  &Forums,   &MsgNmbr,  &MsgText,    &Person,   &Sections,  &Threads,   &Control,
            &SIndex, &NewHR,    &Mail,     &CCRTable,   &SavedMsg, &TempCC,    &ForumRef,  &PLINK,
            &TempID, &MessageIds, &Tasks,  &FileList,   &WordList, &MasIdx,    &StopWords, &Search,
            &WordPurge, &Batch, &TaskBatch, &WordDef,   &TaskLog,  &TaskLogItem};
}

Table* tableByNumber(int n) {
    if (!tableNumberDefined(n) || isReaderFile(n)) return nullptr;
    for (Table* t : allTables())
        if (t->number() == n) return t;
    return nullptr;
}

std::string tableFileName(int n) {
    Dir d = directoryOf(n);
    if (d == Dir::None) return {};
    if (d == Dir::Caller) return FileTmpName;

    char file[16];
    std::snprintf(file, sizeof file, "IDX%03d.%s", n, flatFile(n) ? "DAT" : "TPS");
    const std::string dirnamn(rtrim(Mem.Dirnamn));

    switch (d) {
    case Dir::Config:
        return joinPath({dirPart(Mem.Net), "CFG", file});
    case Dir::Temp:
        return joinPath({dirPart(Mem.TempDir), file});
    case Dir::Database:
        return joinPath({dirPart(Mem.FileDir), dirnamn, file});
    case Dir::WordIndex: {
        if ((n == 28 || n == 29 || n == 33) && !sameDirectory(MasIdxPath, Mem.FileDir)) {
            std::string dir = joinPath({dirPart(MasIdxPath), dirnamn});
            std::error_code ec;
            if (!dir.empty() && !std::filesystem::is_directory(dir, ec)) std::filesystem::create_directories(dir, ec);
        }
        return joinPath({dirPart(MasIdxPath), dirnamn, file});
    }
    default:
        return {};
    }
}

} // namespace qb

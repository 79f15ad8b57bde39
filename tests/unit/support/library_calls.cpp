// Calls of the library's built-in functions for generated scripts. Each
// family that is on main lists its functions here; the argument count and
// types come from the keyword table, the values from pools chosen to hurt:
// wrong types, huge and negative sizes, empty and huge strings, handles that
// are no handles. Where a function needs a live object to get past its first
// checks (a binary buffer, a registry key, a tag structure), the prologue's
// object is passed most of the time.
//
// Functions that would leave the sandbox (another registry hive, remote
// machines, files outside the current folder), wait for a person
// (single-step window) or for a moment chosen by the script, start programs,
// type keys or act on other programs' windows get fixed, harmless arguments
// or are excluded, with the reason. In particular:
// - file names are relative names without "..", drawn from literals only
//   (never a variable: a generated line may have put any path into it), so
//   every file a script touches is in the scratch folder;
// - window titles are the empty title (the host's window: the test host has
//   none) or ids of no window, the two forms that are looked up once without
//   the window wait; a text title would be retried for seconds, and one that
//   matched would act on a real window;
// - key strings are sent only to windows that do not exist, or given a delay
//   that is refused before anything is sent;
// - process names are names of no process, and every time-out is 0.
#include "support/script_gen.h"
#include "keywords.h"
#include "dispatch.h"
#include <cstring>
#include <algorithm>
#include <map>
#include <vector>

namespace {

struct Family {
    const char* name;
    const char* const* functions;   // ends with nullptr
};

const char* const kCore[] = {"arrdimension", "arrinfo", "decimals", "drop", "dropwild", "isdefined", "vartype",
                             "intcontrol", "errormode", "lasterror", "errorevent", nullptr};
const char* const kStrings[] = {
    "strlen", "strcharcount", "strbytecount", "strcat", "strcmp", "stricmp", "strupper", "strlower", "strindex",
    "strindexnc", "strscan", "strcnt", "strsub", "strreplace", "strfill", "strfix", "strfixchars", "strfixleft",
    "strfixcharsl", "strfixbytes", "strfixbytesl", "strtrim", "strtrimchar", "strclean", "strinsert", "stroverlay",
    "strindexwild", "strlenwild", "strsubwild", "strtypeinfo", "char2num", "num2char", "chrgetcodepage",
    "chrsetcodepage", "chrhextostring", "chrhextounicode", "chrstringtohex", "chrunicodetohex",
    "chrstringtounicode", "chrunicodetostring", nullptr};
const char* const kTime[] = {"datetime", "getexacttime", "gettickcount", "gettickcount64", "timeadd", "timedate",
                             "timediff", "timediffdays", "timediffsecs", "timeformat", "timejulianday",
                             "timejultoymd", "timesubtract", "timeymdhms", "timezoneconvert", "timezonelist",
                             "delay", "timedelay", "timewait", nullptr};
const char* const kRegistry[] = {
    "regclosekey", "regcreatekey", "regcreatekeyex", "regdeletekey", "regdeletelink", "regdelvalue",
    "regentrytype", "regexistkey", "regexistvalue", "regopenflags", "regopenkey", "regopenkeyex", "regquerybin",
    "regquerydword", "regqueryex", "regqueryexpsz", "regqueryitem", "regquerykey", "regquerykeylastwritetime",
    "regquerykeys", "regquerymulsz", "regqueryqword", "regquerystr", "regqueryvalue", "regsetbin", "regsetdword",
    "regsetex", "regsetexpsz", "regsetmulsz", "regsetqword", "regsetvalue", nullptr};
const char* const kBinary[] = {
    "binaryalloc", "binaryallocarray", "binaryand", "binarybufinfo", "binarychecksum", "binaryclipget",
    "binaryclipput", "binarycomp", "binarycompare", "binaryconvert", "binarycopy", "binaryeodget", "binaryeodset",
    "binaryfree", "binaryhashrec", "binaryincr", "binaryincr2", "binaryincr4", "binaryincrflt", "binaryindex",
    "binaryindexbin", "binaryindexex", "binaryindexnc", "binaryoletype", "binaryor", "binarypeek", "binarypeek2",
    "binarypeek4", "binarypeek8", "binarypeekflt", "binarypeekhex", "binarypeekstr", "binarypeekstrw",
    "binarypoke", "binarypoke2", "binarypoke4", "binarypoke8", "binarypokeflt", "binarypokehex", "binarypokestr",
    "binarypokestrw", "binaryread", "binaryreadex", "binaryreplace", "binarysort", "binarystrcnt",
    "binarytagextr", "binarytagfind", "binarytagindex", "binarytaginit", "binarytaglen", "binarytagrepl",
    "binaryuncomp", "binarywrite", "binarywriteex", "binaryxlate", "binaryxor", nullptr};
const char* const kTrace[] = {"debugtrace", "debugdata", nullptr};
const char* const kFiles[] = {
    "dirattrget", "dirattrgetex", "dirattrset", "dirattrsetex", "dirchange", "direxist", "dirget", "dirhome",
    "dirinfotoarray", "diritemize", "dirmake", "dirremove", "dirrename", "dirsize", "dirwindows", "diskexist",
    "diskfree", "diskinfo", "diskscan", "disksize", "diskvolinfo", "fileappend", "fileattrget", "fileattrgetex",
    "fileattrset", "fileattrsetex", "filebasename", "fileclose", "filecompare", "filecopy", "filecopyattr",
    "filedelete", "filedigest", "fileencoding", "fileexist", "fileextension", "filefullname", "fileget",
    "filegetw", "fileinfotoarray", "fileitemize", "fileitempath", "filelocate", "filelockitemize", "filemapname",
    "filemove", "filemoveattr", "filenameeval1", "filenameeval2", "filenamelong", "filenameshort", "fileopen",
    "filepath", "filepurge", "fileput", "fileputw", "fileread", "filerename", "fileroot", "filesize",
    "filesizeex", "filetimecode", "filetimeget", "filetimegetex", "filetimeset", "filetimesetex",
    "filetimetouch", "fileverinfo", "filewrite", "fileymdhms", nullptr};
const char* const kWindows[] = {
    "winactivate", "winactivchild", "winactivechild", "winclose", "windowontop", "winexename", "winexist",
    "winexistchild", "wingetactive", "winhide", "winiconize", "winidconvert", "winidget", "winisdos",
    "winisruntimeapp", "winitemchild", "winitemize", "winitemizeex", "winitemnameid", "winitemprocid",
    "winmetrics", "winname", "winparmget", "winplace", "winplacechild", "winplaceget", "winplaceset",
    "winposition", "winpositionchild", "winresources", "winshow", "winstate", "winsysinfo", "wintitle",
    "winversion", "winwaitchild", "winwaitexist", "winwaitready", "winzoom", "winconfig", nullptr};
const char* const kProcesses[] = {"appexist", "appprocid", "appwaitclose", "terminateapp", "terminate", nullptr};
const char* const kKeys[] = {"sendkey", "sendkeyw", "sendkeysto", "sendkeystow", "sendkeyschild", nullptr};

const Family kFamilies[] = {{"core", kCore},         {"strings", kStrings}, {"time", kTime},
                            {"registry", kRegistry}, {"binary", kBinary},   {"trace", kTrace},
                            {"files", kFiles},       {"windows", kWindows}, {"processes", kProcesses},
                            {"keys", kKeys}};

// Implemented but never generated, and why.
const char* const kExcluded[] = {
    "debug",          // opens the single-step window and waits for a click
    "regapp",         // writes the machine-wide App Paths key
    "regconnect",     // asks the network for a remote registry
    "regloadhive",    // loads and unloads hives of the machine
    "regunloadhive",
    "call",           // generated by the grammar itself (file names)
    "filecreatetemp", // makes a file in the system's temporary folder, outside the scratch folder
    "winarrange",     // moves every window of the desktop
    "winclosenot",    // closes every window but the ones named
    "winparmset",     // changes settings of the whole system
    "winhelp",        // starts the help viewer
    "winwaitclose",   // waits 1.5 seconds before it first looks
    "run", "runwait", "runhide", "runhidewait", "runicon", "runiconwait", "runzoom", "runzoomwait", "runshell",
    "runenviron", "runwithlogon", "runapp", "runexit", "shellexecute", "shellexecutewait",   // start programs
    nullptr};

// Missing windows that are looked up at once (see above).
#define KEL_NO_WINDOW "\"\"", "\"#WIN$ID#00000000\"", "\"#WIN$ID#00000001\"", "\"#WIN$ID#7FFFFFF0\"", \
                      "ChrStringToUnicode(\"#WIN$ID#ABCDEF12\")", "ArrDimension(1)"
// Key strings meant to hurt the reader; never sent anywhere.
#define KEL_KEY_STRINGS "\"abc\"", "\"{\"", "\"{ENTER 99999999}\"", "\"{*LSHIFT}\"", "\"+^!\"", "\"{NOSUCH}\"", \
                        "StrFill(\"{\", 5000)", "\"\"", "ChrHexToUnicode(\"fc00ac20\")", "\"{a -1}\"", "1"
#define KEL_NO_PROCESS "\"kelfuzz_no_such_program\"", "\"\"", "\"kelfuzz_none.exe\"", "StrFill(\"p\", 3000)", \
                       "\"C:\\nowhere\\none.exe\"", "ArrDimension(1)"

// Functions whose arguments come from fixed lists, one per position (the
// last list serves the positions after it). With more than one list every
// position is given: leaving one out would fall back to a default that waits
// or sends.
using Lists = std::vector<std::vector<const char*>>;
const std::map<std::string, Lists> kFixedArgs = {
    {"delay", {{"0", "-1", "\"x\"", "0.01", "1e-300"}}},
    {"timedelay", {{"0", "-1", "\"x\"", "0.01", "-1e300"}}},
    {"timewait", {{"\"1990:01:01:00:00:00\"", "\"x\"", "\"\"", "\"2000:13:01\"", "1"}}},
    // The current folder moves only within the scratch folder.
    {"dirchange", {{"\"sub\"", "\".\"", "\"nosuch\"", "\"sub\\sub\"", "\"\"", "1"}}},
    {"winwaitexist", {{KEL_NO_WINDOW}, {"0", "-2", "\"x\"", "0.0"}}},
    {"winwaitready", {{KEL_NO_WINDOW}, {"0", "-2", "\"x\"", "0.0"}}},
    {"winwaitchild", {{KEL_NO_WINDOW}, {KEL_NO_WINDOW}, {"0", "-2", "\"x\""}}},
    {"appexist", {{KEL_NO_PROCESS}, {"0", "1", "2", "-1", "\"x\""}, {"0", "\"x\"", "0.0"}}},
    {"appprocid", {{KEL_NO_PROCESS}, {"0", "1", "2", "-1", "\"x\""}, {"0", "\"x\"", "0.0"}}},
    {"appwaitclose", {{KEL_NO_PROCESS}, {"0", "1", "2", "-1", "\"x\""}, {"0", "\"x\"", "0.0"}}},
    // Kind 2 would take the name as a process id: never given.
    {"terminateapp", {{KEL_NO_PROCESS}, {"1", "0", "3", "-1", "\"x\""}, {"0", "1", "2", "-1"}}},
    // A delay out of range is refused before anything is sent.
    {"sendkey", {{KEL_KEY_STRINGS}, {"-0.001", "86400.5", "\"x\"", "-1e300", "ArrDimension(1)"}}},
    {"sendkeyw", {{KEL_KEY_STRINGS}, {"-0.001", "86400.5", "\"x\"", "-1e300", "ArrDimension(1)"}}},
    {"sendkeysto", {{KEL_NO_WINDOW}, {KEL_KEY_STRINGS}, {"0", "-1", "1e300", "\"x\"", "0.5"}}},
    {"sendkeystow", {{KEL_NO_WINDOW}, {KEL_KEY_STRINGS}, {"0", "-1", "1e300", "\"x\"", "0.5"}}},
    {"sendkeyschild", {{KEL_NO_WINDOW}, {KEL_NO_WINDOW}, {KEL_KEY_STRINGS}, {"0", "-1", "1e300", "\"x\""}}},
};

// Relative names in the scratch folder, and texts that are no names (modes,
// attribute letters, times, digest names) that any argument may get.
const char* const kFileArgs[] = {
    "\"f.txt\"", "\"g.log\"", "\"*.txt\"", "\"*.*\"", "\"*\"", "\"sub\"", "\"sub\\f.txt\"", "\"sub\\*\"",
    "\"nosuch\\x.txt\"", "\"f.txt|g.log\"", "\"f.txt\" : @tab : \"sub\"", "\"\"", "\"a?.t*\"", "\"fz.txt\"",
    "StrFill(\"n\", 300)", "StrFill(\"d\\\", 150)", "StrFill(\"x\", 40000)", "ChrHexToUnicode(\"41004200ac20\")",
    "\"READ\"", "\"WRITE\"", "\"APPEND\"", "\"r\"", "\"RSHA\"", "\"+r-a\"", "\"1999:12:31:23:59:59\"", "\"2024:02:30\"",
    "\"MD5\"", "\"SHA256\"", "\"x[y]\"", "\"%%s%%d\"", "ArrDimension(2)"};
const char* const kFileNumbers[] = {"0", "1", "-1", "2", "3", "7", "64", "255", "65535", "2147483647",
                                    "-2147483648", "9223372036854775807", "1.5", "-0.5", "1e300", "@true",
                                    "\"12\"", "\"abc\""};
const char* const kNoWindow[] = {KEL_NO_WINDOW};

const char* const kNumbers[] = {"0", "1", "-1", "2", "3", "7", "64", "255", "256", "65535", "2147483647",
                                "-2147483648", "4294967296", "9223372036854775807", "-9223372036854775808",
                                "1.5", "-0.5", "1e300", "-1e300", "@true", "\"\"", "\"12\"", "\"abc\"", "big",
                                "arr", "w", "bb", "m"};
const char* const kStringsPool[] = {"\"\"", "\"a\"", "\"abc\"", "\"A b C\"", "\"*\"", "\"?a*\"", "\"%%s%%d\"",
                                    "big", "w", "StrFill(\"ab\", 5000)", "\"<a>\"", "\"0102ff\"", "\"FFFE\"",
                                    "\"1999:12:31:23:59:59\"", "\"2024:02:29\"", "\"0000:00:00\"", "\"x[y]\"",
                                    "\"a\\b\"", "\"\\\"", "\"  pad  \"", "12", "-1", "1.5", "arr", "tg", "\"%%\""};
const char* const kFloats[] = {"0.0", "1.5", "-1e308", "1e308", "3", "\"x\"", "-0.0", "1e-310"};
const char* const kArrays[] = {"arr", "m", "1", "\"x\"", "bb", "ArrDimension(0)", "ArrDimension(2, 2)"};
const char* const kRegNames[] = {"\"a\"", "\"a\\b\"", "\"a[v]\"", "\"[v]\"", "\"\"", "\"a\\b[v]\"", "\"[]\"",
                                 "\"a\\\\\\b\"", "big", "StrFill(\"k\", 300)", "w", "1", "\"sub[\"",
                                 "\"a[v]\" : @tab : \"x\""};
const char* const kBadHandles[] = {"0", "-1", "2147483647", "\"x\"", "1.5", "987658", "987787", "arr"};

const KeywordRec* record_of(const char* name) {
    for (uint32_t i = 0; i < NKEYTOKENS; ++i)
        if (g_keywords[i].cls == KC_FUNCTION && strcmp(g_keywords[i].name, name) == 0) return &g_keywords[i];
    return nullptr;
}

// Spelling with capitals the way scripts write it does not matter; the
// lower-case record name is used as it is.
bool listed(const char* name) {
    for (const Family& f : kFamilies)
        for (const char* const* p = f.functions; *p; ++p)
            if (strcmp(*p, name) == 0) return true;
    for (const char* const* p = kExcluded; *p; ++p)
        if (strcmp(*p, name) == 0) return true;
    return false;
}

}  // namespace

std::string Generator::library_prologue() {
    return "bb = BinaryAlloc(" + std::string(any({"64", "1", "4096"})) +
           ")\r\n"
           "BinaryPokeStr(bb, 0, \"<a>text</a> <b>more</b>\")\r\n"
           "tg = BinaryTagInit(bb, \"<a>\", \"</a>\")\r\n"
           "hk = RegCreateKey(@RegCurrent, \"" + std::string("Software\\KelFuzz") + "\")\r\n"
           "big = StrFill(\"big \", " + std::string(any({"3000", "70000", "1000000"})) +
           ")\r\n"
           "w = ChrHexToUnicode(\"41004200ac20\")\r\n"
           "arr = ArrDimension(3)\r\n"
           "arr[0] = 1\r\n"
           "arr[1] = \"two\"\r\n"
           "fh = FileOpen(\"fz.txt\", \"" + std::string(any({"WRITE", "APPEND", "READ"})) + "\")\r\n";
}

std::string Generator::library_arg(int code, const std::string& family, int position) {
    const bool text = code == AT_ANSI || code == AT_WIDE || code == AT_STRW6 || code == AT_STRNT ||
                      code == AT_STRW8 || (code == AT_ANY && chance(50));
    if (family == "files") return text ? any(kFileArgs) : any(kFileNumbers);
    if (family == "windows" || family == "keys" || family == "processes")
        return text ? any(kNoWindow) : any(kFileNumbers);
    if (position == 1 && family == "registry" && code != 1) return chance(85) ? "hk" : any(kBadHandles);
    if (position == 1 && family == "binary" && code != 1 && code != 3 && chance(80)) return "bb";
    if (family == "registry" && (code == 1 || code == 6 || code == 7 || code == 8) && chance(80))
        return any(kRegNames);
    switch (code) {
    case AT_ANSI: case AT_WIDE: case AT_STRW6: case AT_STRNT: case AT_STRW8: return any(kStringsPool);
    case AT_FLOAT: return any(kFloats);
    case AT_ARRAY: return any(kArrays);
    case AT_ANY: return chance(50) ? any(kNumbers) : any(kStringsPool);
    default: return any(kNumbers);
    }
}

std::string Generator::library_call() {
    const Family& f = kFamilies[pick(sizeof kFamilies / sizeof kFamilies[0])];
    int count = 0;
    while (f.functions[count]) ++count;
    const char* name = f.functions[pick(count)];
    std::string c = std::string(name) + "(";
    auto fixed = kFixedArgs.find(name);
    const KeywordRec* k = record_of(name);
    if (!k) return c + ")";
    const int required = static_cast<int>(k->value & 0xFF), optional = static_cast<int>((k->value >> 8) & 0xFF);
    int n = required == 255 ? pick(6) : required + pick(optional + 1);
    if (fixed != kFixedArgs.end() && fixed->second.size() > 1) n = static_cast<int>(fixed->second.size());
    if (fixed == kFixedArgs.end() && chance(8)) n += chance(50) ? 1 : -1;   // a wrong count
    // A file handle: the prologue's file mostly.
    const bool handle = strcmp(name, "fileread") == 0 || strcmp(name, "filewrite") == 0 ||
                        strcmp(name, "fileclose") == 0;
    for (int i = 1; i <= n; ++i) {
        const int code = static_cast<int>((k->argTypes >> (4 * (i - 1))) & 15);
        std::string a;
        if (fixed != kFixedArgs.end()) {
            const std::vector<const char*>& list = fixed->second[std::min<size_t>(i - 1, fixed->second.size() - 1)];
            a = list[pick(static_cast<int>(list.size()))];
        } else if (handle && i == 1 && chance(80)) {
            a = "fh";
        } else {
            a = library_arg(i > 16 ? AT_ANY : code, f.name, i);
        }
        c += (i > 1 ? ", " : "") + a;
    }
    return c + ")";
}

std::vector<std::string> unlisted_builtins() {
    std::vector<std::string> out;
    for (uint32_t i = 0; i < NKEYTOKENS; ++i) {
        const KeywordRec& k = g_keywords[i];
        if (k.cls != KC_FUNCTION || !builtin_lookup(i) || listed(k.name)) continue;
        out.push_back(k.name);
    }
    return out;
}

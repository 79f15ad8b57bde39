// Message lookup: the text of a numbered message comes from the library's
// string table, or from a language file that replaces it.
//
// The language is decided once per process (and again on a call with id 0):
// the setting Language of section MAIN in the registry, else sLanguage of the
// INTL section of the system profile, else "enu". The language file is
// TLVDLANG.<language> in the library's directory, else the bare name TLVDLANG
// on the search path. A translated text is the value of key "X<id>" in its
// section MAIN; the default "XXX" means "not translated".
#include "errors.h"
#include <cstdio>
#include <cstring>

namespace {

struct Language {
    bool decided = false;
    bool fileMode = false;          // a language file was found
    char file[MAX_PATH] = "";
};
Language g_lang;
SRWLOCK  g_langLock = SRWLOCK_INIT;

const char kSettingsKey[] = "Software\\Talvorn\\Settings\\CORVEXRC\\MAIN";

void read_language(char* lang, DWORD size) {
    lang[0] = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD type = 0, bytes = size - 1;
        if (RegQueryValueExA(key, "Language", nullptr, &type, reinterpret_cast<BYTE*>(lang), &bytes) ==
                ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ))
            lang[bytes < size ? bytes : size - 1] = 0;
        else
            lang[0] = 0;
        RegCloseKey(key);
    }
    if (!lang[0]) GetProfileStringA("INTL", "sLanguage", "enu", lang, size);
}

// Called with the lock held.
void decide_language() {
    char lang[64];
    read_language(lang, sizeof lang);
    g_lang.decided = true;
    g_lang.fileMode = false;
    g_lang.file[0] = 0;

    char dir[MAX_PATH];
    DWORD n = GetModuleFileNameA(g_hInst, dir, sizeof dir);
    if (n && n < sizeof dir) {
        char* slash = strrchr(dir, '\\');
        if (slash) slash[1] = 0; else dir[0] = 0;
        char path[MAX_PATH];
        if (snprintf(path, sizeof path, "%sTLVDLANG.%s", dir, lang) < static_cast<int>(sizeof path) &&
            GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) {
            strcpy(g_lang.file, path);
            g_lang.fileMode = true;
            return;
        }
    }
    char found[MAX_PATH];
    DWORD len = SearchPathA(nullptr, "TLVDLANG", nullptr, sizeof found, found, nullptr);
    if (len && len < sizeof found) {
        strcpy(g_lang.file, found);
        g_lang.fileMode = true;
    }
}

void translate_marks(char* s) {
    for (; *s; ++s) {
        if (*s == '~') *s = '\n';
        else if (*s == '|') *s = '\t';
    }
}

} // namespace

extern "C" int LoadMyString(State* st, HMODULE module, uint32_t id, char* buf, int size) {
    (void)st;   // the language is process-wide; the state is part of the exported signature
    if (!buf || size <= 0) return 0;
    buf[0] = 0;

    bool fileMode;
    char file[MAX_PATH];
    AcquireSRWLockExclusive(&g_langLock);
    if (!g_lang.decided || id == 0) decide_language();
    fileMode = g_lang.fileMode;
    strcpy(file, g_lang.file);
    ReleaseSRWLockExclusive(&g_langLock);
    if (id == 0) return 0;

    if (fileMode && id >= 100) {
        char key[16];
        snprintf(key, sizeof key, "X%u", id);
        GetPrivateProfileStringA("MAIN", key, "XXX", buf, size, file);
        if (strcmp(buf, "XXX") != 0) {
            translate_marks(buf);
            return static_cast<int>(strlen(buf));
        }
        buf[0] = 0;
    }
    if (!LoadStringA(module ? module : g_hInst, id, buf, size)) buf[0] = 0;
    translate_marks(buf);
    return static_cast<int>(strlen(buf));
}

const char* msg_text(State* st, uint32_t id, char* buf, int size) {
    LoadMyString(st, g_hInst, id, buf, size);
    return buf;
}

// The conversions are rebuilt from checked pieces (flags, at most two digits
// of width and of precision, one conversion letter), so the text itself never
// reaches printf as a format.
void msg_format(char* out, size_t size, const char* fmt, const MsgArg* args, int nargs) {
    if (!out || size == 0) return;
    size_t len = 0;
    auto put = [&](const char* s, size_t n) {
        if (n > size - 1 - len) n = size - 1 - len;
        memcpy(out + len, s, n);
        len += n;
    };
    int next = 0;
    const char* p = fmt ? fmt : "";
    while (*p && len < size - 1) {
        if (*p != '%') {
            put(p++, 1);
            continue;
        }
        if (p[1] == '%') {
            put("%", 1);
            p += 2;
            continue;
        }
        const char* start = p++;
        char flags[8];
        size_t nf = 0;
        while (*p && strchr("-+ #0", *p) && nf < sizeof flags - 1) flags[nf++] = *p++;
        flags[nf] = 0;
        int width = -1, prec = -1, digits = 0;
        while (*p >= '0' && *p <= '9' && digits < 2) width = (width < 0 ? 0 : width * 10) + (*p++ - '0'), ++digits;
        if (*p == '.') {
            ++p;
            prec = 0;
            digits = 0;
            while (*p >= '0' && *p <= '9' && digits < 2) prec = prec * 10 + (*p++ - '0'), ++digits;
        }
        while (*p == 'l' || *p == 'h') ++p;
        const char conv = *p;
        const bool numeric = conv && strchr("diuxXc", conv);
        const bool textual = conv == 's';
        if ((!numeric && !textual) || next >= nargs || args[next].isText != textual) {
            put(start, static_cast<size_t>(p - start));   // not a conversion we fill: literal text
            continue;
        }
        ++p;
        char conversion[32];
        int n = snprintf(conversion, sizeof conversion, "%%%s", flags);
        if (width >= 0) n += snprintf(conversion + n, sizeof conversion - n, "%d", width);
        if (prec >= 0) n += snprintf(conversion + n, sizeof conversion - n, ".%d", prec);
        char piece[512];
        const MsgArg& a = args[next++];
        if (textual) {
            snprintf(conversion + n, sizeof conversion - n, "s");
            snprintf(piece, sizeof piece, conversion, a.s);
        } else if (conv == 'c') {
            snprintf(conversion + n, sizeof conversion - n, "c");
            snprintf(piece, sizeof piece, conversion, static_cast<int>(static_cast<unsigned char>(a.n)));
        } else {
            snprintf(conversion + n, sizeof conversion - n, "ll%c", conv == 'i' ? 'd' : conv);
            snprintf(piece, sizeof piece, conversion, a.n);
        }
        put(piece, strlen(piece));
    }
    out[len] = 0;
}

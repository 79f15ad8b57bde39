// Script buffer preparation and reading.
//
// A host hands us 8-bit text (or UTF-16 with a byte-order mark) in a global
// memory block. Before it runs we convert it to ANSI, turn every line end into
// a single line feed, expand #include lines (recursively, up to 16 levels)
// and insert source-location marker lines so that positions in the expanded
// text can be traced back to a file and line. Then the whole text, its zero
// terminator included, is scrambled in place: byte c at position p is stored
// as T[c] ^ (p & 255). Every reader decodes by position.
//
// The text steps work on a std::string; allocation failures surface as
// std::bad_alloc inside this file only and become message 216.
#include "loader.h"
#include "errors.h"
#include <cstring>
#include <mutex>
#include <new>

uint8_t g_scramble[256];
uint8_t g_unscramble[256];

// ---------------------------------------------------------------- scrambling

void scramble_seed(uint64_t seed) {
    // splitmix64: small, good enough to pick a permutation, and private, so the
    // script's own random functions never disturb (or reveal) it.
    auto next = [&seed]() {
        uint64_t z = (seed += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    };
    // Each step picks one of the byte values not used yet.
    uint8_t pool[256];
    for (int i = 0; i < 256; ++i) pool[i] = static_cast<uint8_t>(i);
    int left = 256;
    for (int c = 0; c < 256; ++c) {
        int k = static_cast<int>(next() % static_cast<uint64_t>(left));
        g_scramble[c] = pool[k];
        pool[k] = pool[--left];
    }
    for (int c = 0; c < 256; ++c) g_unscramble[g_scramble[c]] = static_cast<uint8_t>(c);
}

void scramble_init() {
    static std::once_flag once;
    std::call_once(once, [] {
        LARGE_INTEGER q;
        QueryPerformanceCounter(&q);
        uint64_t seed = static_cast<uint64_t>(q.QuadPart) ^ (static_cast<uint64_t>(GetCurrentProcessId()) << 32) ^
                        GetTickCount64();
        scramble_seed(seed);
    });
}

void scramble_bytes(uint8_t* p, size_t n, uint32_t pos) {
    for (size_t i = 0; i < n; ++i) p[i] = scr_enc(p[i], pos + static_cast<uint32_t>(i));
}

void unscramble_bytes(const uint8_t* src, size_t n, uint32_t pos, char* dst) {
    for (size_t i = 0; i < n; ++i) dst[i] = static_cast<char>(scr_dec(src[i], pos + static_cast<uint32_t>(i)));
}

// ------------------------------------------------------------- marker lines

std::string marker_line(uint32_t line, const std::string& file, int flag) {
    std::string m;
    m.reserve(9 + file.size());
    m += MARKER0;
    m += MARKER1;
    m += static_cast<char>(64 + (flag & 63));
    m += '@';
    for (int shift = 18; shift >= 0; shift -= 6) m += static_cast<char>(64 + ((line >> shift) & 63));
    m += file;
    m += '\n';
    return m;
}

bool marker_parse(const char* p, size_t n, uint32_t* line, std::string* file, size_t* len) {
    if (n < 8 || p[0] != MARKER0 || p[1] != MARKER1 || p[3] != '@') return false;
    uint32_t v = 0;
    for (int i = 4; i < 8; ++i) {
        uint8_t g = static_cast<uint8_t>(p[i]);
        if (g < 64 || g > 127) return false;
        v = (v << 6) | (g - 64u);
    }
    size_t e = 8;
    while (e < n && p[e] != '\n' && p[e] != 0) ++e;
    if (line) *line = v;
    if (file) file->assign(p + 8, e - 8);
    if (len) *len = (e < n && p[e] == '\n') ? e + 1 : e;
    return true;
}

// ------------------------------------------------------------ text helpers

bool prep_utf16(State* st, const uint8_t* p, size_t bytes, std::string& out) {
    size_t units = (bytes - 2) / 2;
    std::wstring w;
    w.reserve(units);
    bool bigEndian = p[0] == 0xFE && p[1] == 0xFF;   // read little-endian this is 0xFFFE
    for (size_t i = 0; i < units; ++i) {
        const uint8_t* q = p + 2 + 2 * i;
        wchar_t c = bigEndian ? static_cast<wchar_t>((q[0] << 8) | q[1]) : static_cast<wchar_t>(q[0] | (q[1] << 8));
        w += c;
    }
    // The text runs to its last character; zeros inside it become blanks
    // (see script_text below).
    while (!w.empty() && w.back() == 0) w.pop_back();
    for (wchar_t& c : w)
        if (c == 0) c = L' ';
    out.clear();
    if (w.empty()) return true;
    UINT cp = st && st->codePage ? st->codePage : CP_ACP;
    int n = WideCharToMultiByte(cp, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return false;
    out.resize(static_cast<size_t>(n));
    WideCharToMultiByte(cp, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr, nullptr);
    // The text must fit where the UTF-16 text was (it always does for single- and
    // double-byte code pages; a multi-byte code page might not).
    return out.size() + 1 <= bytes;
}

namespace {

// The script text of a host buffer: everything up to its last non-zero byte.
// A zero byte inside the text (a damaged file, a binary byte pasted into a
// script) becomes a blank, so a line that held only a zero reads as an empty
// line and the rest of the script still runs; nothing after it is dropped.
std::string script_text(const uint8_t* p, size_t cap) {
    size_t n = cap;
    while (n && p[n - 1] == 0) --n;
    std::string text(reinterpret_cast<const char*>(p), n);
    for (char& c : text)
        if (c == 0) c = ' ';
    return text;
}

}  // namespace

void prep_line_ends(std::string& text) {
    size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        if (text[i] != '\r') continue;
        text[i] = (i + 1 < n && text[i + 1] == '\n') ? ' ' : '\n';
    }
}

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Case-insensitive test that `word` starts the text at p (p..end).
bool starts_word(const char* p, const char* end, const char* word) {
    size_t n = strlen(word);
    if (static_cast<size_t>(end - p) < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (static_cast<char>(tolower(static_cast<unsigned char>(p[i]))) != word[i]) return false;
    return true;
}

// The first non-blank character of a line and whether it opens an #include
// line (the word followed by a blank or tab).
bool is_include_line(const char* p, const char* end) {
    while (p < end && is_blank(*p)) ++p;
    return starts_word(p, end, "#include") && p + 8 < end && is_blank(p[8]);
}

// Lines after which a marker restores the numbering: an #include (its text is
// replaced by the included file) and the definition headers (a function body
// is copied out of the buffer and must still know its file and line).
bool needs_marker_after(const char* p, const char* end) {
    if (is_include_line(p, end)) return true;
    while (p < end && is_blank(*p)) ++p;
    return starts_word(p, end, "#definefunction") || starts_word(p, end, "#definesubroutine") ||
           starts_word(p, end, "#definecommand");
}

bool file_exists(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool is_absolute(const std::string& n) {
    return (n.size() >= 3 && isalpha(static_cast<unsigned char>(n[0])) && n[1] == ':' && n[2] == '\\') ||
           (n.size() >= 2 && n[0] == '\\' && n[1] == '\\');
}

std::string full_path(const std::string& path) {
    char buf[MAX_PATH];
    DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, buf, nullptr);
    return (n > 0 && n < MAX_PATH) ? std::string(buf, n) : path;
}

std::string in_dir(const std::string& dir, const std::string& name) {
    std::string p = dir;
    if (!p.empty() && p.back() != '\\' && p.back() != '/') p += '\\';
    return p + name;
}

// Finds an #include file: the including file's directory, the directory of
// the script being run, the current directory, then the search path. Empty
// when not found.
std::string locate_include(const std::string& name, const std::string& incDir, const char* dir) {
    if (is_absolute(name)) return file_exists(name) ? name : std::string();
    if (!incDir.empty() && file_exists(in_dir(incDir, name))) return full_path(in_dir(incDir, name));
    if (dir && *dir && file_exists(in_dir(dir, name))) return full_path(in_dir(dir, name));
    if (file_exists(name)) return full_path(name);
    char buf[MAX_PATH];
    DWORD n = SearchPathA(nullptr, name.c_str(), nullptr, MAX_PATH, buf, nullptr);
    if (n > 0 && n < MAX_PATH && file_exists(buf)) return std::string(buf, n);
    return std::string();
}

bool read_whole_file(const std::string& path, std::string& out) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(h, &size) && size.QuadPart < 0x7FFFFFFF;
    if (ok) {
        out.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        ok = out.empty() || (ReadFile(h, out.data(), static_cast<DWORD>(out.size()), &got, nullptr) &&
                             got == out.size());
    }
    CloseHandle(h);
    return ok;
}

constexpr int MAX_INCLUDE_LEVEL = 16;
constexpr size_t MAX_INCLUDE_NAME = 260;

struct Expander {
    State*      st;
    const char* dir;
    bool        includes;
    std::string failName;

    // Returns 0 or the failure message number. `incDir` is the directory in
    // which relative #include names are tried first.
    int expand(std::string& text, int level, const std::string& file, const std::string& incDir);

private:
    int  include_line(const char* p, const char* end, int level, const std::string& incDir, std::string& out);
};

// Adds markers: one for line 1 at the start and one after every line that
// needs it (see needs_marker_after), carrying the number of the next line.
std::string with_markers(const std::string& text, const std::string& file, int flag) {
    std::string out = marker_line(1, file, flag);
    out.reserve(text.size() + out.size() * 2);
    const char* p = text.data();
    const char* end = p + text.size();
    uint32_t line = 1;
    while (p < end) {
        const char* eol = static_cast<const char*>(memchr(p, '\n', static_cast<size_t>(end - p)));
        const char* next = eol ? eol + 1 : end;
        out.append(p, next);
        ++line;
        if (needs_marker_after(p, eol ? eol : end)) {
            if (!eol) out += '\n';
            out += marker_line(line, file, flag);
        }
        p = next;
    }
    return out;
}

int Expander::expand(std::string& text, int level, const std::string& file, const std::string& incDir) {
    if (level >= MAX_INCLUDE_LEVEL) {
        failName = file;
        return 218;
    }
    // Already prepared text (it carries markers, or a ";" 12 header other
    // than the one we number with flag 0) is left as it is.
    size_t s = (!text.empty() && text[0] == ' ') ? 1 : 0;
    if (text.size() >= s + 2 && text[s] == ';' && text[s + 1] == MARKER1) return 0;
    if (text.size() >= s + 3 && text[s] == ';' && text[s + 1] == 12 && text[s + 2] != '@') return 0;
    int flag = (text.size() >= 3 && text[0] == ';' && text[1] == 12 && text[2] == '@') ? 0 : 1;

    prep_line_ends(text);
    std::string marked = with_markers(text, file, flag);
    if (!includes) {
        text.swap(marked);
        return 0;
    }
    std::string out;
    out.reserve(marked.size());
    const char* p = marked.data();
    const char* end = p + marked.size();
    while (p < end) {
        const char* eol = static_cast<const char*>(memchr(p, '\n', static_cast<size_t>(end - p)));
        const char* next = eol ? eol + 1 : end;
        if (p[0] != MARKER0 && is_include_line(p, eol ? eol : end)) {
            int rc = include_line(p, eol ? eol : end, level, incDir, out);
            if (rc) return rc;
        } else {
            out.append(p, next);
        }
        p = next;
    }
    text.swap(out);
    return 0;
}

// Replaces one #include line by the expanded text of the named file.
int Expander::include_line(const char* p, const char* end, int level, const std::string& incDir,
                           std::string& out) {
    while (p < end && is_blank(*p)) ++p;
    p += 8;   // "#include"
    while (p < end && is_blank(*p)) ++p;
    std::string name;
    if (p < end && (*p == '"' || *p == '\'' || *p == '`')) {
        char q = *p++;
        const char* close = static_cast<const char*>(memchr(p, q, static_cast<size_t>(end - p)));
        if (!close) {
            failName.assign(p, end);
            return 217;
        }
        name.assign(p, std::min<size_t>(static_cast<size_t>(close - p), MAX_INCLUDE_NAME));
    } else {
        const char* e = p;
        while (e < end && !is_blank(*e) && static_cast<size_t>(e - p) < MAX_INCLUDE_NAME) ++e;
        name.assign(p, e);
        const char* rest = e;
        while (rest < end && is_blank(*rest)) ++rest;
        if (rest < end || name.empty()) {   // text after an unquoted name
            failName.assign(p, end);
            while (!failName.empty() && is_blank(failName.back())) failName.pop_back();
            return 217;
        }
    }
    std::string path = locate_include(name, incDir, dir);
    std::string body;
    if (path.empty() || !read_whole_file(path, body)) {
        failName = name;
        return 217;
    }
    if (body.size() >= 2 && ((static_cast<uint8_t>(body[0]) == 0xFF && static_cast<uint8_t>(body[1]) == 0xFE) ||
                             (static_cast<uint8_t>(body[0]) == 0xFE && static_cast<uint8_t>(body[1]) == 0xFF))) {
        std::string conv;
        if (!prep_utf16(st, reinterpret_cast<const uint8_t*>(body.data()), body.size(), conv)) {
            failName = name;
            return 217;
        }
        body.swap(conv);
    } else {
        body = script_text(reinterpret_cast<const uint8_t*>(body.data()), body.size());
    }
    if (body.empty()) return 0;
    // Names inside an included file are tried first next to that file.
    size_t slash = path.find_last_of("\\/");
    std::string sub = slash == std::string::npos ? std::string() : path.substr(0, slash);
    int rc = expand(body, level + 1, path, sub);
    if (rc) return rc;
    out += body;
    if (body.back() != '\n') out += '\n';
    return 0;
}

bool buffer_is_prepared(const uint8_t* p, size_t size) {
    if (size < 4) return false;
    char c[4];
    unscramble_bytes(p, 4, 0, c);
    return c[0] == MARKER0 && c[1] == MARKER1 && (c[2] == 'A' || c[2] == '@') && c[3] == '@';
}

}  // namespace

int prep_expand(State* st, std::string& text, const char* file, const char* dir, bool includes,
                std::string* failName) {
    Expander ex{st, dir, includes, {}};
    int rc;
    try {
        rc = ex.expand(text, 0, file ? file : "", dir ? dir : "");
    } catch (const std::bad_alloc&) {
        rc = 216;
    }
    if (failName) *failName = ex.failName;
    return rc;
}

bool loader_fail(State* st, uint16_t num, const char* detail) {
    if (detail && *detail) err_detail(st, detail);
    st->runErr = num;
    err_report(st, st->hostWnd, 1, num, SEV_FATAL);
    st->err = 0;
    return false;
}

bool prepare_buffer(State* st, HGLOBAL* buf, const char* file, const char* dir) {
    scramble_init();
    GMemLock lock(*buf);
    if (!lock) return loader_fail(st, 204, nullptr);
    uint8_t* p = lock.get<uint8_t>();
    size_t cap = GlobalSize(*buf);
    if (buffer_is_prepared(p, cap)) return true;

    std::string text, failName;
    int rc = 0;
    try {
        if (cap >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) {
            if (!prep_utf16(st, p, cap, text)) rc = 216;
        } else {
            text = script_text(p, cap);
        }
        if (!rc) {
            prep_line_ends(text);
            // Markers are added even when #include processing is off: error
            // reports keep their file and line, and a buffer run a second time
            // is recognised as prepared.
            if (!text.empty()) rc = prep_expand(st, text, file, dir, (st->options & 1) != 0, &failName);
        }
    } catch (const std::bad_alloc&) {
        rc = 216;
    }
    if (rc) return loader_fail(st, static_cast<uint16_t>(rc), rc == 217 || rc == 218 ? failName.c_str() : nullptr);

    size_t need = text.size() + 1;
    if (need > cap) {
        bool fixed = static_cast<void*>(*buf) == static_cast<void*>(p);
        lock.release();
        HGLOBAL h = fixed ? GlobalReAlloc(*buf, need, 0) : GlobalReAlloc(*buf, need, GMEM_MOVEABLE);
        if (!h && fixed) h = GlobalAlloc(GMEM_MOVEABLE, need);   // private copy, freed by the caller
        if (!h) return loader_fail(st, 216, nullptr);
        *buf = h;
        p = static_cast<uint8_t*>(GlobalLock(h));
        if (!p) return loader_fail(st, 204, nullptr);
    }
    memcpy(p, text.c_str(), need);
    scramble_bytes(p, need, 0);
    if (!lock) GlobalUnlock(*buf);
    return true;
}

// ------------------------------------------------------------------ reader

int read_line_mem(State* st, const uint8_t* mem, size_t size, uint32_t* pos, char* out, uint32_t* stmtPos,
                  uint32_t keyBase) {
    constexpr uint32_t MAXLINE = LINE_BUF - 2;   // 2048 characters
    uint32_t i = *pos;
    out[0] = 0;
    if (i >= size || scr_dec(mem[i], keyBase + i) == 0) return 0;
    uint8_t c = scr_dec(mem[i], keyBase + i);
    while (c == ' ' || c == '\t') {
        ++i;
        c = i < size ? scr_dec(mem[i], keyBase + i) : 0;
    }
    if (stmtPos) *stmtPos = i;
    uint32_t n = 0;
    while (i < size && c != 0) {
        if (c == '\n' || c == 26) {
            ++i;
            break;
        }
        if (n == MAXLINE) {
            // The 2049th character cuts the line. The blank left by a CR LF line
            // end is not text, so it alone does not make the line too long.
            uint8_t after = i + 1 < size ? scr_dec(mem[i + 1], keyBase + i + 1) : 0;
            if (!(c == ' ' && after == '\n')) st->pendingLineTooLong = 1;
            while (i < size && c != 0 && c != '\n' && c != 26) {
                ++i;
                c = i < size ? scr_dec(mem[i], keyBase + i) : 0;
            }
            if (i < size && c != 0) ++i;
            break;
        }
        out[n++] = static_cast<char>(c);
        ++i;
        c = i < size ? scr_dec(mem[i], keyBase + i) : 0;
    }
    out[n] = 0;
    *pos = i;
    return 1;
}

int read_line(State* st, HGLOBAL buf, uint32_t* pos, char* out, uint32_t* stmtPos, uint32_t keyBase) {
    GMemLock lock(buf);
    if (!lock) {
        out[0] = 0;
        char text[256], title[128];
        MessageBoxA(st->hostWnd, msg_text(st, 204, text, sizeof text), msg_text(st, 111, title, sizeof title),
                    MB_OK | MB_ICONSTOP | MB_TASKMODAL);
        return -1;
    }
    return read_line_mem(st, lock.get<uint8_t>(), GlobalSize(buf), pos, out, stmtPos, keyBase);
}

void path_dir(const char* path, char* out, size_t size) {
    const char* s = strrchr(path, '\\');
    const char* f = strrchr(path, '/');
    if (f > s) s = f;
    snprintf(out, size, "%.*s", s ? static_cast<int>(s - path) : 0, path);
}

bool source_location(State* st, HGLOBAL buf, uint32_t pos, char* file, size_t fileSize, uint32_t* line,
                     uint32_t keyBase) {
    (void)st;
    GMemLock lock(buf);
    if (!lock) return false;
    const uint8_t* mem = lock.get<uint8_t>();
    size_t size = GlobalSize(buf);
    // Only the start of a line matters (a marker and its file name), so the
    // lines are read into fixed buffers: an error report needs no memory.
    char text[MAX_PATH + 16], cur[MAX_PATH] = "";
    uint32_t ln = 1, markerLine = 0;
    for (uint32_t i = 0; i < size && i <= pos;) {
        // Decode one line; j ends up on its line feed (or the terminator).
        size_t n = 0;
        uint32_t j = i;
        uint8_t c = 0;
        while (j < size && (c = scr_dec(mem[j], keyBase + j)) != '\n' && c != 0) {
            if (n < sizeof text - 1) text[n++] = static_cast<char>(c);
            ++j;
        }
        text[n] = 0;
        if (marker_parse(text, n, &markerLine, nullptr, nullptr)) {
            ln = markerLine;   // the number of the next line
            snprintf(cur, sizeof cur, "%s", text + 8);
        } else {
            if (pos <= j) break;
            ++ln;
        }
        if (j >= size || c == 0) break;
        i = j + 1;
    }
    if (file && fileSize) snprintf(file, fileSize, "%s", cur);
    if (line) *line = ln;
    return true;
}

// --------------------------------------------------------------- messages

void pump_messages(State* st) {
    (void)st;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {   // leave it for the host's own loop
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void pump_messages_for(State* st, DWORD ms) {
    (void)st;
    ULONGLONG until = GetTickCount64() + ms;
    MSG msg;
    while (GetTickCount64() < until && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

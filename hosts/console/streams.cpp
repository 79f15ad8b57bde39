#include "streams.h"

std::wstring from_utf8(const char* s, size_t len)
{
    if (len == 0) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s, (int)len, nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s, (int)len, w.data(), n);
    return w;
}

std::string to_utf8(const wchar_t* s, size_t len)
{
    if (len == 0) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, s, (int)len, nullptr, 0, nullptr, nullptr);
    std::string u(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, s, (int)len, u.data(), n, nullptr, nullptr);
    return u;
}

std::wstring from_ansi(const char* s)
{
    if (!s || !*s) return {};
    int n = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
    std::wstring w(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) MultiByteToWideChar(CP_ACP, 0, s, -1, w.data(), n);
    return w;
}

// A handle is a console when the console API accepts it; a redirected stream
// (pipe, file, null device) is not.
static bool is_console(HANDLE h)
{
    DWORD mode;
    return h && h != INVALID_HANDLE_VALUE && GetFileType(h) == FILE_TYPE_CHAR && GetConsoleMode(h, &mode);
}

OutStream::OutStream(DWORD which) : h_(GetStdHandle(which)), console_(is_console(h_)) {}

bool OutStream::write(const wchar_t* text, size_t len)
{
    if (!h_ || h_ == INVALID_HANDLE_VALUE) return false;
    if (console_) {
        while (len > 0) {                           // the console takes bounded chunks
            DWORD chunk = len > 16384 ? 16384 : (DWORD)len, done = 0;
            if (!WriteConsoleW(h_, text, chunk, &done, nullptr) || done == 0) return false;
            text += done;
            len -= done;
        }
        return true;
    }
    std::string bytes = to_utf8(text, len);
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        DWORD done = 0;
        if (!WriteFile(h_, p, left > 0x40000000 ? 0x40000000 : (DWORD)left, &done, nullptr) || done == 0)
            return false;
        p += done;
        left -= done;
    }
    return true;
}

bool OutStream::write_line(const std::wstring& s)
{
    std::wstring line = s;
    line += L"\r\n";
    return write(line);
}

bool OutStream::write_text(const std::wstring& s)
{
    std::wstring t;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == L'\n' && (i == 0 || s[i - 1] != L'\r')) t += L'\r';
        t += s[i];
    }
    return write(t);
}

InStream::InStream() : h_(GetStdHandle(STD_INPUT_HANDLE)), console_(is_console(h_)) {}

bool InStream::fill()
{
    if (eof_ || !h_ || h_ == INVALID_HANDLE_VALUE) return false;
    if (pos_ > 0) { buf_.erase(0, pos_); pos_ = 0; }
    char chunk[4096];
    DWORD got = 0;
    if (!ReadFile(h_, chunk, sizeof chunk, &got, nullptr) || got == 0) { eof_ = true; return false; }
    buf_.append(chunk, got);
    if (!started_) {                             // a UTF-8 byte-order mark is not input
        if (buf_.size() < 3 && got > 0) return true;
        if (buf_.compare(0, 3, "\xEF\xBB\xBF") == 0) pos_ = 3;
        started_ = true;
    }
    return true;
}

bool InStream::read_line(std::wstring& line)
{
    line.clear();
    if (console_) {
        // ReadConsoleW returns whole typed lines; keep reading until the line end.
        for (;;) {
            wchar_t chunk[1024];
            DWORD got = 0;
            if (!ReadConsoleW(h_, chunk, 1024, &got, nullptr) || got == 0) return !line.empty();
            line.append(chunk, got);
            size_t nl = line.find(L'\n');
            if (nl != std::wstring::npos) {
                line.resize(nl);
                if (!line.empty() && line.back() == L'\r') line.pop_back();
                if (line.size() == 1 && line[0] == 26) { line.clear(); return false; }   // Ctrl+Z: end of input
                return true;
            }
        }
    }
    for (;;) {
        size_t nl = buf_.find('\n', pos_);
        if (nl != std::string::npos) {
            size_t end = nl;
            if (end > pos_ && buf_[end - 1] == '\r') --end;
            line = from_utf8(buf_.data() + pos_, end - pos_);
            pos_ = nl + 1;
            return true;
        }
        if (!fill()) {
            if (pos_ >= buf_.size()) return false;
            size_t end = buf_.size();
            if (buf_[end - 1] == '\r') --end;
            line = from_utf8(buf_.data() + pos_, end - pos_);
            pos_ = buf_.size();
            return true;
        }
    }
}

OutStream& std_out() { static OutStream s(STD_OUTPUT_HANDLE); return s; }
OutStream& std_err() { static OutStream s(STD_ERROR_HANDLE); return s; }
InStream&  std_in()  { static InStream s; return s; }

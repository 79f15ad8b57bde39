// The standard streams of kel.exe. A console gets UTF-16 through the console
// API; a pipe or a file gets UTF-8 bytes. Line ends are CR LF.
#pragma once
#include <windows.h>
#include <string>

class OutStream {
public:
    explicit OutStream(DWORD which);     // STD_OUTPUT_HANDLE or STD_ERROR_HANDLE
    bool write(const wchar_t* text, size_t len);
    bool write(const std::wstring& s) { return write(s.data(), s.size()); }
    bool write_line(const std::wstring& s);
    bool write_text(const std::wstring& s);   // lone LFs become CR LF
private:
    HANDLE h_;
    bool console_;
};

class InStream {
public:
    InStream();
    // One line without its line end; false at the end of input with nothing read.
    bool read_line(std::wstring& line);
private:
    bool fill();                         // more bytes from a pipe or file
    HANDLE h_;
    bool console_;
    std::string buf_;                    // pipe/file: bytes not yet returned
    size_t pos_ = 0;
    bool eof_ = false;
    bool started_ = false;               // the byte-order-mark check was done
};

OutStream& std_out();
OutStream& std_err();
InStream&  std_in();

// Text conversions used by the host.
std::wstring from_utf8(const char* s, size_t len);
std::string  to_utf8(const wchar_t* s, size_t len);
std::wstring from_ansi(const char* s);

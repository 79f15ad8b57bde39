// The line reader and writer of the array and map file functions (textfile.h).
#include "library/items/textfile.h"
#include "library/files/linefile.h"
#include "library/files/settings.h"
#include "errors.h"
#include "value.h"
#include <algorithm>
#include <vector>

namespace items {
namespace {

constexpr size_t kFlushAt = 65536;

// A file handle closed on every path.
class FileHandle {
public:
    explicit FileHandle(HANDLE h) : h_(h) {}
    ~FileHandle() {
        if (ok()) CloseHandle(h_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

// Opens a file without the system's "insert a disk" or "drive not ready" boxes.
HANDLE open_file(const wchar_t* path, DWORD access, DWORD share, DWORD disposition) {
    DWORD oldMode = 0;
    const BOOL changed = SetThreadErrorMode(SEM_FAILCRITICALERRORS, &oldMode);
    HANDLE h = CreateFileW(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (changed) SetThreadErrorMode(oldMode, nullptr);
    return h;
}

int fail(State* st, const char* call, uint16_t err) {
    platform_error(st, call, GetLastError());
    st->err = err;
    return err;
}

}  // namespace

int read_lines(State* st, const wchar_t* path, std::string_view nul,
               const std::function<bool(const char* p, size_t n)>& line) {
    FileHandle f(open_file(path, GENERIC_READ, file_settings(st).readShare, OPEN_EXISTING));
    if (!f.ok()) return fail(st, "CreateFile", 1800);
    LARGE_INTEGER size;
    if (!GetFileSizeEx(f.get(), &size)) size.QuadPart = 0;
    // The line-length setting when positive, else the file's size clamped.
    const size_t block = file_block_size(st, size.QuadPart);
    std::vector<char> buf;
    std::string text;
    try {
        buf.resize(block);
        text.reserve(block);
    } catch (const std::bad_alloc&) {
        return st->err = 1588;
    }
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(f.get(), buf.data(), static_cast<DWORD>(block), &got, nullptr)) return fail(st, "ReadFile", 1801);
        if (got == 0) break;
        for (DWORD i = 0; i < got; ++i) {
            const char c = buf[i];
            if (c == '\n') {
                if (!line(text.data(), text.size())) return st->err;
                text.clear();
                continue;
            }
            if (c == '\r') continue;
            if (c == 0) text.append(nul);
            else text.push_back(c);
            if (text.size() >= block) return st->err = 1591;
        }
    }
    if (!text.empty() && !line(text.data(), text.size())) return st->err;
    return 0;
}

int write_lines(State* st, const wchar_t* path, const std::function<int(std::string* line)>& next,
                uint64_t* bytes) {
    *bytes = 0;
    FileHandle f(open_file(path, GENERIC_WRITE, file_settings(st).writeShare, CREATE_ALWAYS));
    if (!f.ok()) return fail(st, "CreateFile", 1800);
    size_t termLen;
    const char* term = file_terminator(st, &termLen);
    std::string out, one;
    auto flush = [&]() {
        DWORD put = 0;
        if (!out.empty() && (!WriteFile(f.get(), out.data(), static_cast<DWORD>(out.size()), &put, nullptr) ||
                             put != out.size()))
            return false;
        *bytes += out.size();
        out.clear();
        return true;
    };
    try {
        for (int r; (r = next(&one)) != 0;) {
            if (r < 0) return flush(), st->err;
            out += one;
            out.append(term, termLen);
            if (out.size() >= kFlushAt && !flush()) return fail(st, "WriteFile", 1802);
        }
    } catch (const std::bad_alloc&) {
        flush();
        return st->err = 1588;
    }
    if (!flush()) return fail(st, "WriteFile", 1802);
    return 0;
}

void bytes_result(State* st, Cell* result, uint64_t bytes) {
    if (bytes <= 0x7FFFFFFF) cell_set_int(st, result, static_cast<int32_t>(bytes));
    else cell_set_int64(st, result, static_cast<int64_t>(bytes));
}

}  // namespace items

// The clipboard as bytes: BinaryClipGet, BinaryClipPut.
#include "interop/binary/binary.h"
#include "interop/binary/functions.h"
#include <cstring>

using namespace bin;

namespace {

// Formats whose data is a global memory block (not a bitmap, palette,
// metafile or owner-drawn handle) can be moved as bytes.
bool byte_format(int64_t f) {
    switch (f) {
    case CF_BITMAP: case CF_METAFILEPICT: case CF_PALETTE: case CF_ENHMETAFILE:
    case CF_OWNERDISPLAY: case CF_DSPBITMAP: case CF_DSPMETAFILEPICT: case CF_DSPENHMETAFILE:
        return false;
    default:
        return f > 0 && f <= 0xFFFF;
    }
}

// Bytes of the terminator of a text format (its data stops there).
size_t terminator(UINT f) { return f == CF_UNICODETEXT ? 2 : (f == CF_TEXT || f == CF_OEMTEXT) ? 1 : 0; }

// The clipboard, opened for the lifetime of the object (a few tries: another
// program may hold it for a moment). It is opened by a window of its own: a
// clipboard emptied while opened without a window has no owner, and the
// system may then refuse new data.
class Clipboard {
public:
    Clipboard() {
        wnd_ = CreateWindowExW(0, L"STATIC", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        for (int tries = 0; tries < 10 && !open_; ++tries) {
            open_ = OpenClipboard(wnd_) != 0;
            if (!open_) Sleep(20);
        }
    }
    ~Clipboard() {
        if (open_) CloseClipboard();
        if (wnd_) DestroyWindow(wnd_);
    }
    Clipboard(const Clipboard&) = delete;
    Clipboard& operator=(const Clipboard&) = delete;
    explicit operator bool() const { return open_; }
private:
    HWND wnd_ = nullptr;
    bool open_ = false;
};

// Length of text data up to its terminator (all of it when there is none).
size_t text_length(const uint8_t* p, size_t n, size_t unit) {
    for (size_t k = 0; k + unit <= n; k += unit)
        if (p[k] == 0 && (unit == 1 || p[k + 1] == 0)) return k;
    return n;
}

}  // namespace

// BinaryClipGet(handle, format): the clipboard's data in that format, to
// offset 0 (text formats without their terminator); the end of data becomes
// its length, which is the result.
void fn_binaryclipget(State* st, int, Cell* result, Cell* args, bool) {
    BinSlot* b = buffer(st, args[1]);
    if (!b) return;
    const int64_t format = arg64(args[2]);
    if (!byte_format(format)) return void(st->err = 1559);
    const UINT f = static_cast<UINT>(format);
    Clipboard clip;
    if (!clip) return void(st->err = 1560);
    if (!IsClipboardFormatAvailable(f)) return void(st->err = 1561);
    HANDLE data = GetClipboardData(f);
    const uint8_t* p = data ? static_cast<const uint8_t*>(GlobalLock(data)) : nullptr;
    if (!p) return void(st->err = 1562);
    size_t n = GlobalSize(data);
    if (const size_t unit = terminator(f)) n = text_length(p, n, unit);
    if (static_cast<uint64_t>(n) > static_cast<uint64_t>(b->size)) {
        GlobalUnlock(data);
        return void(st->err = 1564);
    }
    memcpy(b->addr, p, n);
    GlobalUnlock(data);
    b->eod = static_cast<int64_t>(n);
    set64(st, result, b->eod);
}

// BinaryClipPut(handle, format [, add]): puts the data on the clipboard in
// that format (text formats get a terminator). The clipboard is emptied
// first unless `add` is non-zero, which keeps the other formats there.
// Returns the byte count.
void fn_binaryclipput(State* st, int nargs, Cell* result, Cell* args, bool) {
    const BinSlot* b = buffer(st, args[1]);
    if (!b) return;
    const int64_t format = arg64(args[2]);
    if (!byte_format(format)) return void(st->err = 1559);
    const UINT f = static_cast<UINT>(format);
    const bool add = nargs >= 3 && args[3].i != 0;
    const size_t n = static_cast<size_t>(b->eod);
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, n + terminator(f) + (n == 0));
    void* p = mem ? GlobalLock(mem) : nullptr;
    if (!p) {
        if (mem) GlobalFree(mem);
        return void(st->err = 1565);
    }
    memcpy(p, b->addr, n);
    GlobalUnlock(mem);
    Clipboard clip;
    if (!clip) {
        GlobalFree(mem);
        return void(st->err = 1560);
    }
    if ((!add && !EmptyClipboard()) || !SetClipboardData(f, mem)) {
        GlobalFree(mem);   // the clipboard did not take it
        return void(st->err = 1563);
    }
    set64(st, result, b->eod);
}

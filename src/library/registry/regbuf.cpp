// Work buffers and text arguments of the registry functions. Buffers come
// from the global heap (running out is 1455); results go to the string heap.
#include "library/registry/reg_internal.h"
#include "errors.h"
#include "eval.h"
#include <cstring>
#include <cwchar>

namespace reg {

Buffer::~Buffer() { free_block(); }

void Buffer::free_block() {
    if (!h_) return;
    GlobalUnlock(h_);
    GlobalFree(h_);
    h_ = nullptr;
}

bool Buffer::reserve(State* st, size_t bytes) {
    if (bytes <= cap_) return true;
    size_t cap = cap_ ? cap_ : 256;
    while (cap < bytes) {
        if (cap > SIZE_MAX / 4) {
            st->err = 1455;
            return false;
        }
        cap *= 2;
    }
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, cap);
    void* p = h ? GlobalLock(h) : nullptr;
    if (!p) {
        if (h) GlobalFree(h);
        st->err = 1455;
        return false;
    }
    if (p_) memcpy(p, p_, cap_);
    free_block();
    h_ = h;
    p_ = p;
    cap_ = cap;
    return true;
}

bool WText::append(State* st, const wchar_t* s, size_t n) {
    if (!buf_.reserve(st, (len_ + n + 1) * sizeof(wchar_t))) return false;
    wchar_t* p = static_cast<wchar_t*>(buf_.data());
    wmemcpy(p + len_, s, n);
    len_ += n;
    p[len_] = 0;
    return true;
}

bool WText::result(State* st, Cell* out) const { return cell_set_wstr(st, out, str(), len_); }

WideArg::WideArg(State* st, const Cell* c) : st_(st) {
    if (c->type & TW_UNICODE) {
        text_ = cell_wstr(st, c);
        return;
    }
    if (!cell_copy(st, &tmp_, c, CM_BARE | CC_DUPSTRINGS)) return;
    owned_ = true;
    if (conv_to_wide(st, &tmp_)) text_ = cell_wstr(st, &tmp_);
    else if (!st->err) st->err = 3820;
}

WideArg::~WideArg() {
    if (owned_) cell_release(st_, &tmp_, CM_BARE);
}

size_t WideArg::size() const { return wcslen(get()); }

bool delimiter_arg(State* st, const Cell* c, wchar_t* out) {
    WideArg d(st, c);
    if (!d.ok()) return false;
    const size_t n = d.size();
    if (n > 1) {
        st->err = 1487;
        return false;
    }
    *out = n ? d.get()[0] : L'\t';
    return true;
}

}  // namespace reg

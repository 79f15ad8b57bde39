// Pieces shared by the registry functions: key handles and the state's key
// table, the "subkey[value]" parser, the view selector, work buffers, text
// arguments and the value reader. Private to src/library/registry.
#pragma once
#include "state.h"
#include "value.h"
#include <cstddef>
#include <cstdint>

namespace reg {

// ---- key handles (regkeys.cpp) -----------------------------------------------

// What kind of system a key lives on: a local key, or a key of a remote
// system that RegConnect was told is 32-bit (one view only: no view flags are
// sent) or 64-bit.
enum : uint8_t { SYS_LOCAL = 0, SYS_REMOTE32 = 1, SYS_REMOTE64 = 2 };

// A key argument resolved: a predefined root, or a key the script holds open
// (it is in the state's key table). Any other number gives h == nullptr, which
// every registry call refuses as an invalid handle, so a stale or foreign
// number never reaches a handle that someone else owns.
struct KeyArg {
    HKEY    h;
    uint8_t sys;
    bool    root;    // one of the predefined roots
};
KeyArg key_arg(State* st, const Cell* c);

// Enters a key the script now holds (closed at tear-down). On failure the key
// is closed and 1455 is set.
bool keys_add(State* st, HKEY h, uint8_t sys);
// Hands a fresh key to the script: enters it and stores the handle as the
// result (INT, or INT64 when it does not fit in 32 bits).
bool give_key(State* st, Cell* result, HKEY h, uint8_t sys);

// ---- views (regpath.cpp) -------------------------------------------------------

// The view argument args[index] (0 or absent: the state's default view
// setting) for a subkey: the access bits to add (KEY_WOW64_32KEY, KEY_WOW64_64KEY
// or none). 1822 for an argument other than 0, 32 and 64; 1458 when a view is
// selected and the subkey contains "WOW6432Node" in any case. Keys of a remote
// 32-bit system get no view bits.
bool select_view(State* st, int nargs, const Cell* args, int index, const wchar_t* subkey, uint8_t sys,
                 REGSAM* bits);
// The default view setting: 0 none, 1 the 32-bit view, 2 the 64-bit view.
int default_view(const State* st);
void set_default_view(State* st, int setting);

// ---- buffers and text -------------------------------------------------------

// A growable buffer from the global heap; running out sets 1455.
class Buffer {
public:
    Buffer() = default;
    ~Buffer();
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    // Room for at least `bytes` bytes (contents kept). False with 1455 set.
    bool reserve(State* st, size_t bytes);
    void* data() const { return p_; }
    size_t capacity() const { return cap_; }

private:
    void free_block();
    HGLOBAL h_ = nullptr;
    void*   p_ = nullptr;
    size_t  cap_ = 0;
};

// Wide text built piece by piece (always NUL-terminated while non-empty).
class WText {
public:
    bool append(State* st, const wchar_t* s, size_t n);
    bool append(State* st, wchar_t c) { return append(st, &c, 1); }
    const wchar_t* str() const { return len_ ? static_cast<const wchar_t*>(buf_.data()) : L""; }
    size_t size() const { return len_; }
    // Stores the text as the wide-string result.
    bool result(State* st, Cell* out) const;

private:
    Buffer buf_;
    size_t len_ = 0;
};

// A string argument in wide form: UNICODE cells are used in place, ANSI ones
// are converted with the state's code page into a temporary cell.
class WideArg {
public:
    WideArg(State* st, const Cell* c);
    ~WideArg();
    WideArg(const WideArg&) = delete;
    WideArg& operator=(const WideArg&) = delete;
    bool ok() const { return text_ != nullptr; }   // false: the error is set
    const wchar_t* get() const { return text_ ? text_ : L""; }
    size_t size() const;

private:
    State*         st_;
    Cell           tmp_;
    bool           owned_ = false;
    const wchar_t* text_ = nullptr;
};

// The delimiter argument of the multi-string members: one character; an
// empty text stands for a tab. 1487 otherwise.
bool delimiter_arg(State* st, const Cell* c, wchar_t* out);

// ---- subkey[value] strings (regpath.cpp) ----------------------------------------

// A "subkey[value]" argument split into its parts (copied, NUL-terminated).
class ItemPath {
public:
    // 1402 for a "[" without the final "]"; 1460 for a subkey part over 2049
    // characters when a value part is present.
    bool parse(State* st, const wchar_t* text);
    const wchar_t* subkey() const { return subkey_; }
    const wchar_t* value() const { return value_; }     // "" = the default value
    bool has_subkey() const { return *subkey_ != 0; }
    bool has_value() const { return hasValue_; }

private:
    Buffer         buf_;
    const wchar_t* subkey_ = L"";
    const wchar_t* value_ = L"";
    bool           hasValue_ = false;
};

// A key opened for the length of one call (closed by the destructor), or the
// caller's key itself when no subkey was named.
class TempKey {
public:
    TempKey() = default;
    ~TempKey();
    TempKey(const TempKey&) = delete;
    TempKey& operator=(const TempKey&) = delete;
    HKEY get() const { return h_; }
    // Opens (or creates) `subkey` under `key` with `access`; an empty subkey
    // uses `key` as it is. Returns the system's code.
    LSTATUS open(const KeyArg& key, const wchar_t* subkey, REGSAM access, DWORD options, bool create);

private:
    HKEY h_ = nullptr;
    bool owned_ = false;
};

// The key and value that a key argument and a "subkey[value]" argument name,
// opened for `access`: the subkey (created when `create`) in the view of
// args[viewIndex], else the key itself. On failure the error is set: the
// parser's and view's errors, or `openErr` with the system's code (openErr 0:
// no error for a failed open, the caller looks at rc).
struct ValueTarget {
    ItemPath path;
    TempKey  key;
    LSTATUS  rc = 0;        // the system's answer to the open
};
bool open_target(State* st, int nargs, Cell* args, int viewIndex, REGSAM access, bool create, uint16_t openErr,
                 ValueTarget* t);

// ---- values (regvalue.cpp) ----------------------------------------------------

// A value's type and data. Values up to 2562 bytes are read into the fixed
// buffer, larger ones into a global-heap buffer. Four zero bytes follow the
// data, so string data is always terminated.
class ValueData {
public:
    // Asks for the type and size, then reads. 1233 with the system's code when
    // a read fails; 1455 when no buffer can be had.
    bool read(State* st, HKEY key, const wchar_t* name);
    DWORD type() const { return type_; }
    DWORD size() const { return size_; }
    const BYTE* bytes() const { return data_; }
    // The data as text: up to the first NUL of REG_SZ-like data.
    const wchar_t* text(size_t* len) const;
    // The 32-bit value of REG_DWORD and REG_DWORD_BIG_ENDIAN data.
    int32_t dword() const;
    int64_t qword() const;

private:
    static constexpr DWORD FIXED = 2562;
    alignas(8) BYTE fixed_[FIXED + 8];
    Buffer  heap_;
    BYTE*   data_ = fixed_;
    DWORD   type_ = 0;
    DWORD   size_ = 0;
};

// Result forms shared by the query members.
bool hex_result(State* st, Cell* out, const BYTE* p, size_t n);                       // "01 A0 FF"
bool multi_result(State* st, Cell* out, const ValueData& v, wchar_t delimiter);       // items joined
bool expanded_result(State* st, Cell* out, const wchar_t* s, size_t n);              // REG_EXPAND_SZ expanded

// Writes value `name` of `key`; 1232 or 1743 (the data was refused) with the
// system's code on failure.
bool write_value(State* st, HKEY key, const wchar_t* name, DWORD type, const void* data, size_t bytes);

// Hex text into bytes: pairs of hex digits, with blanks, tabs or commas
// between bytes where wanted ("01 a0 FF", "01A0FF"; a lone digit between
// separators is one byte). Returns 1 with the bytes in `out` and their count
// in `n`, 0 when the text is not such a list, -1 when no buffer (1455 set).
int parse_hex(State* st, const wchar_t* s, Buffer* out, size_t* n);

// ---- small helpers ----------------------------------------------------------------

// An integer argument that may be absent (then `def`).
inline int64_t int_arg(int nargs, const Cell* args, int index, int64_t def = 0) {
    if (index > nargs) return def;
    const Cell& c = args[index];
    return (c.type & TW_INT64) ? c.i64 : c.i;
}
// Case-insensitive comparison of ASCII words.
bool same_word(const wchar_t* a, const wchar_t* b, size_t n);

// ---- the members (one table in registry.cpp) ------------------------------------

#define KEL_REG_MEMBER(name) void fn_##name(State* st, int nargs, Cell* result, Cell* args, bool wide)
KEL_REG_MEMBER(regopenkey);       // regkeys.cpp
KEL_REG_MEMBER(regcreatekey);
KEL_REG_MEMBER(regopenkeyex);
KEL_REG_MEMBER(regcreatekeyex);
KEL_REG_MEMBER(regclosekey);
KEL_REG_MEMBER(regopenflags);
KEL_REG_MEMBER(regqueryvalue);    // regquery.cpp
KEL_REG_MEMBER(regquerystr);
KEL_REG_MEMBER(regqueryexpsz);
KEL_REG_MEMBER(regquerymulsz);
KEL_REG_MEMBER(regquerydword);
KEL_REG_MEMBER(regqueryqword);
KEL_REG_MEMBER(regquerybin);
KEL_REG_MEMBER(regqueryex);
KEL_REG_MEMBER(regentrytype);
KEL_REG_MEMBER(regexistvalue);
KEL_REG_MEMBER(regsetvalue);      // regset.cpp
KEL_REG_MEMBER(regsetexpsz);
KEL_REG_MEMBER(regsetmulsz);
KEL_REG_MEMBER(regsetdword);
KEL_REG_MEMBER(regsetqword);
KEL_REG_MEMBER(regsetbin);
KEL_REG_MEMBER(regsetex);
KEL_REG_MEMBER(regquerykeys);     // regenum.cpp
KEL_REG_MEMBER(regquerykey);
KEL_REG_MEMBER(regqueryitem);
KEL_REG_MEMBER(regquerykeylastwritetime);
KEL_REG_MEMBER(regexistkey);
KEL_REG_MEMBER(regdeletekey);     // regdelete.cpp
KEL_REG_MEMBER(regdeletelink);
KEL_REG_MEMBER(regdelvalue);
KEL_REG_MEMBER(regconnect);       // regremote.cpp
KEL_REG_MEMBER(regloadhive);
KEL_REG_MEMBER(regunloadhive);
KEL_REG_MEMBER(regapp);
#undef KEL_REG_MEMBER

}  // namespace reg

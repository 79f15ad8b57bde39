// The file settings and their IntControl requests.
#include "library/files/settings.h"
#include "library/core/intcontrol.h"
#include "value.h"
#include "eval.h"

FileSettings& file_settings(State* st) {
    FileSettings& s = st->fileSet;
    if (!s.ready) {
        s.ready = 1;
        s.terminator = 1;
        s.listDelim = L'\t';
        s.readShare = FILE_SHARE_READ;
        s.writeShare = 0;
        s.lineLength = -2;
    }
    return s;
}

const char* file_terminator(State* st, size_t* len) {
    static const struct {
        const char* text;
        size_t      len;
    } kEnds[] = {{"", 0}, {"\r\n", 2}, {"\n", 1}, {"\r", 1}, {"\t", 1}};
    unsigned t = file_settings(st).terminator;
    if (t > 4) t = 1;
    *len = kEnds[t].len;
    return kEnds[t].text;
}

namespace {

// A numeric setting request: sets the value when `lo <= v <= hi`, always
// answers the previous value.
template <class T>
void int_setting(State* st, Cell* result, Cell* p, T& field, int lo, int hi) {
    const int64_t previous = static_cast<int64_t>(field);
    const int v = ic_int(st, &p[0]);
    if (v >= lo && v <= hi) field = static_cast<T>(v);
    ic_previous(st, result, previous);
}

}  // namespace

void ic_file_read_share(State* st, Cell* r, Cell* p) { int_setting(st, r, p, file_settings(st).readShare, 0, 7); }
void ic_file_write_share(State* st, Cell* r, Cell* p) { int_setting(st, r, p, file_settings(st).writeShare, 0, 7); }
void ic_file_line_length(State* st, Cell* r, Cell* p) {
    int_setting(st, r, p, file_settings(st).lineLength, -2, 0x7FFFFFFF);
}
void ic_file_terminator(State* st, Cell* r, Cell* p) { int_setting(st, r, p, file_settings(st).terminator, 0, 4); }
void ic_file_hidden(State* st, Cell* r, Cell* p) { int_setting(st, r, p, file_settings(st).hidden, 0, 1); }
void ic_file_utc(State* st, Cell* r, Cell* p) { int_setting(st, r, p, file_settings(st).utc, 0, 1); }
void ic_file_recheck(State* st, Cell* r, Cell* p) { int_setting(st, r, p, file_settings(st).noRecheck, 0, 1); }
void ic_file_background(State* st, Cell* r, Cell* p) { int_setting(st, r, p, file_settings(st).background, 0, 1); }

// 104: the delimiter is a one-character string; the answer is the previous
// delimiter as a one-character string.
void ic_file_list_delim(State* st, Cell* result, Cell* p) {
    FileSettings& s = file_settings(st);
    const wchar_t previous = static_cast<wchar_t>(s.listDelim);
    Cell tmp;
    if (cell_copy(st, &tmp, &p[0], CM_BARE | CC_DUPSTRINGS)) {
        if (conv_to_wide(st, &tmp)) {
            const wchar_t* w = cell_wstr(st, &tmp);
            if (w[0] && !w[1]) s.listDelim = w[0];
        }
        cell_release(st, &tmp, CM_BARE);
    }
    // Anything but a one-character text is ignored; text that could not be
    // copied for want of memory is an error, not a value to ignore.
    if (st->err == 3096) return;
    st->err = 0;
    cell_set_wstr(st, result, &previous, 1);
}

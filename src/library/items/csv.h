// Comma-separated values: the one reader and writer of CSV fields, used by
// ItemCountCsv, ItemExtractCsv, ArrayFileGetCsv, ArrayFilePutCsv,
// MapFileGetCsv, MapFilePutCsv and MapCreate.
//
// Field syntax:
// - outside quotes the delimiter ends a field; blanks (space, and tab unless
//   tab is a delimiter) around the text are ignored;
// - a double quote opens a quoted section only as the first non-blank
//   character of a field; a quote after other text is an error;
// - inside quotes the delimiter is ordinary text and two quotes stand for one;
// - after the closing quote only blanks may follow before the delimiter;
// - a text that ends inside quotes is not complete (OPEN): a file reader
//   continues it with the next line.
// Characters are stepped whole, so no part of a double-byte character is
// ever taken for a delimiter or a quote.
#pragma once
#include "library/items/items.h"
#include <functional>
#include <string_view>

namespace items::csv {

// The delimiters of a CSV text. Fields end at `field`; when `hasRecord` is
// set, records end at `record` too (MapCreate's pair delimiter).
template <class C>
struct Delims {
    Delim<C> field;
    bool     hasRecord = false;
    Delim<C> record;

    bool blank(C c) const {
        if (c == C(' ')) return true;
        if (c != C('\t')) return false;
        auto isTab = [](const Delim<C>& d) { return d.len == 1 && d.unit[0] == C('\t'); };
        return !isTab(field) && !(hasRecord && isTab(record));
    }
};

// A CSV delimiter argument (nullptr: absent, the default ","): exactly one
// character that is not a space, a double quote, a carriage return or a line
// feed; false with `err` otherwise.
template <class C>
bool read_delim(const Env<C>& env, const Cell* arg, Delim<C>* d, uint16_t err) {
    d->unit[0] = C(',');
    d->len = 1;
    if (!arg) return true;
    const Text<C> t = env.text(*arg);
    if (t.empty() || !items::read_delim(env, *arg, d, err)) return env.st->err = err, false;
    const C c = d->unit[0];
    if (d->len == 1 && (c == C(' ') || c == C('"') || c == C('\r') || c == C('\n'))) return env.st->err = err, false;
    return true;
}

enum Status { FIELD, END, BAD, OPEN };

template <class C>
class Scanner {
public:
    Scanner(const Text<C>& t, const Delims<C>& d) : t_(t), d_(d), pending_(t.len > 0) {}

    // The raw units [*b, *e) of the next field, and whether a record ends
    // after it (at the record delimiter or the end of the text). END after
    // the last field; BAD for a syntax error; OPEN when the text ends inside
    // quotes.
    Status next(size_t* b, size_t* e, bool* recordEnd) {
        if (!pending_) return END;
        enum { START, PLAIN, QUOTED, AFTER } state = START;
        *b = pos_;
        for (size_t i = pos_; i < t_.len;) {
            const size_t w = t_.width(i);
            const C c = t_.p[i];
            if (state != QUOTED) {
                const bool atField = w == d_.field.len && d_.field.at(t_, i);
                const bool atRecord = !atField && d_.hasRecord && w == d_.record.len && d_.record.at(t_, i);
                if (atField || atRecord) {
                    *e = i;
                    pos_ = i + w;
                    *recordEnd = atRecord;
                    return FIELD;
                }
            }
            const bool quote = w == 1 && c == C('"'), blank = w == 1 && d_.blank(c);
            switch (state) {
            case START:
                if (quote) state = QUOTED;
                else if (!blank) state = PLAIN;
                break;
            case PLAIN:
                if (quote) return BAD;
                break;
            case QUOTED:
                if (quote) {
                    if (i + 1 < t_.len && t_.p[i + 1] == C('"')) {
                        i += 2;
                        continue;
                    }
                    state = AFTER;
                }
                break;
            case AFTER:
                if (!blank) return BAD;
                break;
            }
            i += w;
        }
        if (state == QUOTED) return OPEN;
        *e = t_.len;
        pos_ = t_.len;
        pending_ = false;
        *recordEnd = true;
        return FIELD;
    }

private:
    const Text<C>& t_;
    const Delims<C>& d_;
    size_t pos_ = 0;
    bool   pending_;
};

// Appends the value of the raw field [b, e) to `out`: a quoted section's
// text with doubled quotes made single (anything before the quote dropped,
// copying stops at the closing quote); otherwise the text, without the
// blanks around it unless keepBlanks.
template <class C>
void append_value(std::basic_string<C>& out, const Text<C>& t, size_t b, size_t e, const Delims<C>& d,
                  bool keepBlanks) {
    size_t q = b;
    while (q < e && !(t.width(q) == 1 && t.p[q] == C('"'))) q = t.next(q);
    if (q < e) {
        for (size_t i = q + 1; i < e; ++i) {
            if (t.p[i] == C('"')) {
                if (i + 1 < e && t.p[i + 1] == C('"')) ++i;
                else break;
            }
            out.push_back(t.p[i]);
        }
        return;
    }
    if (!keepBlanks) {
        // Blanks are single-byte characters and no trail byte is a blank.
        while (b < e && d.blank(t.p[b])) ++b;
        while (e > b && d.blank(t.p[e - 1])) --e;
    }
    out.append(t.p + b, e - b);
}

// Appends a field for writing: enclosed in double quotes with every quote
// inside doubled, or as it is when `plain`.
template <class C>
void append_field(std::basic_string<C>& out, const C* p, size_t n, bool plain) {
    if (plain) return void(out.append(p, n));
    out.push_back(C('"'));
    for (size_t i = 0; i < n; ++i) {
        if (p[i] == C('"')) out.push_back(C('"'));
        out.push_back(p[i]);
    }
    out.push_back(C('"'));
}

}  // namespace items::csv

namespace items::csv {

// Reads a CSV file (ANSI text) record by record through the array files'
// line reader: `record` receives the values of each record's fields (none
// for an empty line). A line that ends inside quotes continues on the next
// line, the line end (a carriage return and a line feed) becoming part of
// the field. Returns 0 or the error number: the reader's, or 1801 with a
// detail naming the line for a line that breaks the field rules.
int read_records(State* st, const wchar_t* path, const Delim<char>& delim, std::string_view nul, bool keepBlanks,
                 const std::function<bool(std::vector<std::string>& fields)>& record);

// The CSV delimiter argument of a file function (args[argNo], "," when
// absent), in ANSI form; 1807 when it breaks the delimiter rules.
bool file_delim(State* st, int nargs, int argNo, Cell* args, Delim<char>* d);

// Writes fields as one CSV line: joined by the delimiter, each in quotes
// with its quotes doubled unless `plain`.
void append_line(std::string& out, const std::vector<std::string>& fields, const Delim<char>& d, bool plain);

}  // namespace items::csv

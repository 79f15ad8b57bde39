// ItemCountCsv and ItemExtractCsv: fields of one CSV line (csv.h). The whole
// line is checked, so a line is either valid for every field or refused.
#include "library/items/csv.h"

using namespace strings;

namespace items {
namespace {

struct Span {
    size_t b, e;
};

// The raw fields of a line; false with `badLine` set for a syntax error.
template <class C>
bool fields_of(State* st, const Text<C>& line, const csv::Delims<C>& d, std::vector<Span>* out,
               uint16_t badLine) {
    csv::Scanner<C> scan(line, d);
    Span s;
    bool recordEnd;
    for (;;) {
        switch (scan.next(&s.b, &s.e, &recordEnd)) {
        case csv::FIELD:
            out->push_back(s);
            continue;
        case csv::END:
            return true;
        default:
            st->err = badLine;
            return false;
        }
    }
}

// ItemCountCsv(line, flags [, delimiter]): flags are accepted and ignored.
template <class C>
void item_count_csv(State* st, int nargs, Cell* result, Cell* args) {
    Env<C> env(st);
    csv::Delims<C> d;
    if (!csv::read_delim(env, nargs >= 3 ? &args[3] : nullptr, &d.field, 1712)) return;
    std::vector<Span> fields;
    if (!fields_of(st, env.text(args[1]), d, &fields, 1706)) return;
    cell_set_int(st, result, static_cast<int32_t>(fields.size()));
}

// ItemExtractCsv(index, line, flags [, delimiter]): field index (-1 the
// last); flags 1 keeps the blanks around an unquoted field.
template <class C>
void item_extract_csv(State* st, int nargs, Cell* result, Cell* args) {
    Env<C> env(st);
    csv::Delims<C> d;
    if (!csv::read_delim(env, nargs >= 4 ? &args[4] : nullptr, &d.field, 1713)) return;
    const Text<C> line = env.text(args[2]);
    std::vector<Span> fields;
    if (!fields_of(st, line, d, &fields, 1707)) return;
    int64_t index = args[1].i;
    if (index == -1) index = static_cast<int64_t>(fields.size());
    if (index < 1 || index > static_cast<int64_t>(fields.size())) return void(result_empty<C>(st, result));
    std::basic_string<C> value;
    const Span& f = fields[static_cast<size_t>(index - 1)];
    csv::append_value(value, line, f.b, f.e, d, (args[3].i & 1) != 0);
    result_copy<C>(st, result, value.data(), value.size());
}

}  // namespace

void fn_itemcountcsv(State* st, int nargs, Cell* result, Cell* args, bool wide) {
    both_forms(wide, [&](auto unit) { item_count_csv<decltype(unit)>(st, nargs, result, args); });
}

void fn_itemextractcsv(State* st, int nargs, Cell* result, Cell* args, bool wide) {
    both_forms(wide, [&](auto unit) { item_extract_csv<decltype(unit)>(st, nargs, result, args); });
}

}  // namespace items

// Maps and files: MapFileGetCsv and MapFilePutCsv, one pair per line (the
// key, the delimiter, the value) under the CSV rules (csv.h).
#include "library/items/csv.h"
#include "library/items/maptable.h"
#include "library/items/textfile.h"
#include "errors.h"
#include <cstdio>

using namespace strings;

namespace items {

// MapFileGetCsv(filename [, delimiter]): a new map of the file's pairs; the
// values are strings. Empty lines are passed over; a line that is not one
// key and one value is 1801 with a detail naming it. A key met again takes
// the later value.
void fn_mapfilegetcsv(State* st, int nargs, Cell* result, Cell* args, bool) {
    Delim<char> d;
    if (!csv::file_delim(st, nargs, 2, args, &d)) return;
    std::vector<std::string> pairs;   // key, value, key, value, ...
    uint32_t lineNo = 0;
    int r;
    try {
        r = csv::read_records(st, cell_wstr(st, &args[1]), d, "", false, [&](std::vector<std::string>& fields) {
            ++lineNo;
            if (fields.empty() || (fields.size() == 1 && fields[0].empty())) return true;
            if (fields.size() != 2) {
                char text[96];
                snprintf(text, sizeof text, "Line %u is not one key and one value", lineNo);
                err_detail(st, text);
                st->err = 1801;
                return false;
            }
            pairs.push_back(std::move(fields[0]));
            pairs.push_back(std::move(fields[1]));
            return true;
        });
    } catch (const std::bad_alloc&) {
        return void(st->err = 1588);
    }
    if (r) return;
    Cell out;
    if (!map_new(st, &out, pairs.size() / 2)) return;
    for (size_t i = 0; i < pairs.size(); i += 2) {
        Cell* v = map_insert(st, out.arr, pairs[i].data(), pairs[i].size());
        if (!v) return drop_result(st, &out);
        cell_release(st, v, CM_ELEMENT);
        memset(v, 0, ELEMENT_SIZE);
        if (!set_element_text(st, v, pairs[i + 1].data(), pairs[i + 1].size())) return drop_result(st, &out);
    }
    *result = out;
}

// MapFilePutCsv(filename, m [, delimiter [, flags [, unused]]]): one line per
// pair, in the order the keys were added; both fields quoted unless flags
// has 2. (A fifth argument is accepted and has no meaning.)
void fn_mapfileputcsv(State* st, int nargs, Cell* result, Cell* args, bool) {
    Delim<char> d;
    if (!csv::file_delim(st, nargs, 3, args, &d)) return;
    ArrayHdr* m = map_arg(st, args[2]);
    if (!m) return;
    const bool plain = nargs >= 4 && (args[4].i & 2);
    uint32_t pos = 0;
    std::vector<std::string> fields(2);
    uint64_t bytes;
    const int r = write_lines(st, cell_wstr(st, &args[1]), [&](std::string* line) {
        Cell *k, *v;
        if (!map_next(m, &pos, &k, &v)) return 0;
        fields[0].assign(cell_str(st, k));
        if (!value_text(st, v, &fields[1])) return -1;
        line->clear();
        csv::append_line(*line, fields, d, plain);
        return 1;
    }, &bytes);
    if (!r) bytes_result(st, result, bytes);
}

}  // namespace items

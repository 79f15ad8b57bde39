// Arrays and files: ArrayFileGet, ArrayFileGetCsv, ArrayFilePut and
// ArrayFilePutCsv, through the line reader and writer of textfile.h. File
// text is ANSI; elements read from a file are ANSI strings.
#include "library/items/csv.h"
#include "library/items/textfile.h"

using namespace strings;

namespace items {
namespace {

// The null-char argument: empty (NUL bytes are dropped) or one character
// (it replaces them); 1803 otherwise.
bool null_char(State* st, int nargs, int argNo, Cell* args, std::string* out) {
    out->clear();
    if (nargs < argNo) return true;
    Env<char> env(st);
    const Text<char> t = env.text(args[argNo]);
    if (!t.empty() && t.width(0) != t.len) return st->err = 1803, false;
    out->assign(t.p, t.len);
    return true;
}

int extra_arg(int nargs, int argNo, Cell* args) { return nargs >= argNo ? std::max(args[argNo].i, 0) : 0; }

// The array argument of a Put function (the dispatcher made sure it is an
// array): not a map, with storage, of `maxDims` dimensions at most.
ArrayHdr* put_array(State* st, const Cell& arg, int maxDims) {
    ArrayHdr* a = plain_array(st, arg);
    if (a && (a->ndims == 0 || a->ndims > maxDims)) return st->err = 1805, nullptr;
    return a;
}

}  // namespace

// ArrayFileGet(filename [, null-char [, extra]]): one element per line, plus
// `extra` elements without a value.
void fn_arrayfileget(State* st, int nargs, Cell* result, Cell* args, bool) {
    std::string nul;
    if (!null_char(st, nargs, 2, args, &nul)) return;
    std::string pool;
    std::vector<size_t> ends;
    int r;
    try {
        r = read_lines(st, cell_wstr(st, &args[1]), nul, [&](const char* p, size_t n) {
            pool.append(p, n);
            ends.push_back(pool.size());
            return true;
        });
    } catch (const std::bad_alloc&) {
        return void(st->err = 1588);
    }
    if (r) return;
    Cell out;
    if (!new_list_array(st, &out, ends.size() + uint64_t(extra_arg(nargs, 3, args)))) return;
    for (size_t i = 0, from = 0; i < ends.size(); from = ends[i++])
        if (!set_element_text(st, arr_elem(out.arr, static_cast<uint32_t>(i)), pool.data() + from, ends[i] - from))
            return drop_result(st, &out);
    *result = out;
}

// ArrayFileGetCsv(filename, flags [, delimiter [, null-char [, extra]]]): a
// two-dimensional array, one row per record and as many columns as the
// record with the most fields; shorter records are padded with empty
// strings, and `extra` rows without values follow. flags 1 keeps the blanks
// around unquoted fields, as in ItemExtractCsv.
void fn_arrayfilegetcsv(State* st, int nargs, Cell* result, Cell* args, bool) {
    Delim<char> d;
    std::string nul;
    if (!csv::file_delim(st, nargs, 3, args, &d) || !null_char(st, nargs, 4, args, &nul)) return;
    std::vector<std::vector<std::string>> rows;
    size_t cols = 1;
    int r;
    try {
        r = csv::read_records(st, cell_wstr(st, &args[1]), d, nul, (args[2].i & 1) != 0,
                              [&](std::vector<std::string>& fields) {
                                  cols = std::max(cols, fields.size());
                                  rows.push_back(std::move(fields));
                                  return true;
                              });
    } catch (const std::bad_alloc&) {
        return void(st->err = 1588);
    }
    if (r) return;
    const uint64_t n = rows.size() + uint64_t(extra_arg(nargs, 5, args));
    if (n >= 0x80000000u || cols >= 0x80000000u) return void(st->err = 1644);
    Cell out;
    cell_init(&out, 0);
    if (CreateMyArray(st, &out, static_cast<uint32_t>(n), n ? static_cast<uint32_t>(cols) : 0, 0, 0, 0, 0, 2) ==
        0xFFFFFFFF)
        return;
    const std::string none;
    for (size_t i = 0; i < rows.size(); ++i) {
        for (size_t k = 0; k < cols; ++k) {
            const std::string& f = k < rows[i].size() ? rows[i][k] : none;
            if (!set_element_text(st, arr_elem(out.arr, static_cast<uint32_t>(i * cols + k)), f.data(), f.size()))
                return drop_result(st, &out);
        }
    }
    *result = out;
}

// ArrayFilePut(filename, a [, write-empty]): one line per element of a
// one-dimensional array; elements without a value are passed over unless
// write-empty, which writes them as empty lines.
void fn_arrayfileput(State* st, int nargs, Cell* result, Cell* args, bool) {
    ArrayHdr* a = put_array(st, args[2], 1);
    if (!a) return;
    const bool writeEmpty = nargs >= 3 && args[3].i != 0;
    uint32_t i = 0;
    uint64_t bytes;
    const int r = write_lines(st, cell_wstr(st, &args[1]), [&](std::string* line) {
        for (; i < a->count; ++i) {
            const Cell* e = arr_elem(a, i);
            if (has_value(e)) return value_text(st, e, line) ? (++i, 1) : -1;
            if (writeEmpty) {
                line->clear();
                return ++i, 1;
            }
        }
        return 0;
    }, &bytes);
    if (!r) bytes_result(st, result, bytes);
}

// ArrayFilePutCsv(filename, a [, delimiter [, write-empty [, flags]]]): one
// line per row (per element of a one-dimensional array); a row whose
// elements all lack a value is passed over unless write-empty. Every field
// is quoted unless flags has 2.
void fn_arrayfileputcsv(State* st, int nargs, Cell* result, Cell* args, bool) {
    Delim<char> d;
    if (!csv::file_delim(st, nargs, 3, args, &d)) return;
    ArrayHdr* a = put_array(st, args[2], 2);
    Grid g;
    if (!a || !grid_of(st, a, &g)) return;
    const bool writeEmpty = nargs >= 4 && args[4].i != 0;
    const bool plain = nargs >= 5 && (args[5].i & 2);
    uint32_t row = 0;
    std::vector<std::string> fields(g.cols);
    uint64_t bytes;
    const int r = write_lines(st, cell_wstr(st, &args[1]), [&](std::string* line) {
        for (; row < g.rows; ++row) {
            bool any = false;
            for (uint32_t c = 0; c < g.cols; ++c) {
                const Cell* e = g.at(row, c);
                fields[c].clear();
                if (has_value(e)) {
                    any = true;
                    if (!value_text(st, e, &fields[c])) return -1;
                }
            }
            if (!any && !writeEmpty) continue;
            line->clear();
            csv::append_line(*line, fields, d, plain);
            ++row;
            return 1;
        }
        return 0;
    }, &bytes);
    if (!r) bytes_result(st, result, bytes);
}

}  // namespace items

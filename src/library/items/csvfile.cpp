// CSV files: records read through the array files' line reader, and lines
// written with the CSV quoting (csv.h).
#include "library/items/csv.h"
#include "library/items/textfile.h"
#include "errors.h"
#include <cstdio>

namespace items::csv {

int read_records(State* st, const wchar_t* path, const Delim<char>& delim, std::string_view nul, bool keepBlanks,
                 const std::function<bool(std::vector<std::string>& fields)>& record) {
    Env<char> env(st);
    Delims<char> d;
    d.field = delim;
    std::string pending;          // a record that ended inside quotes so far
    bool open = false;
    uint32_t lineNo = 0, firstLine = 0;
    std::vector<std::string> fields;
    auto bad = [&](uint32_t at) {
        char text[96];
        snprintf(text, sizeof text, "Invalid CSV field on line %u", at);
        err_detail(st, text);
        st->err = 1801;
        return false;
    };
    const int r = read_lines(st, path, nul, [&](const char* p, size_t n) {
        ++lineNo;
        if (open) {
            pending.append("\r\n").append(p, n);
        } else {
            pending.assign(p, n);
            firstLine = lineNo;
        }
        const Text<char> t = env.text(pending.data(), pending.size());
        Scanner<char> scan(t, d);
        fields.clear();
        size_t b, e;
        bool recordEnd;
        for (Status s; (s = scan.next(&b, &e, &recordEnd)) != END;) {
            if (s == OPEN) return open = true;
            if (s == BAD) return bad(lineNo);
            fields.emplace_back();
            append_value(fields.back(), t, b, e, d, keepBlanks);
        }
        open = false;
        return record(fields);
    });
    if (r) return r;
    if (open) return bad(firstLine), 1801;
    return 0;
}

bool file_delim(State* st, int nargs, int argNo, Cell* args, Delim<char>* d) {
    if (nargs >= argNo && !strings::arg_ansi(st, &args[argNo])) return false;
    Env<char> env(st);
    return read_delim(env, nargs >= argNo ? &args[argNo] : nullptr, d, 1807);
}

void append_line(std::string& out, const std::vector<std::string>& fields, const Delim<char>& d, bool plain) {
    for (size_t k = 0; k < fields.size(); ++k) {
        if (k) out.append(d.unit, d.len);
        append_field(out, fields[k].data(), fields[k].size(), plain);
    }
}

}  // namespace items::csv

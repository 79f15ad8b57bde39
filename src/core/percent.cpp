// Percent substitution: %name% in a raw line is replaced by the variable's
// value as text before the line is tokenized, and, when run-time #include
// handling is on (State::options bit 1), an "#include file" line becomes a
// Call of that file.
#include "tokenizer.h"
#include "lexer_internal.h"
#include "value.h"
#include "eval.h"
#include "errors.h"
#include <cstring>
#include <cstdio>

namespace {

constexpr size_t MAX_RESULT = LINE_BUF - 2;   // 2048 characters
constexpr uint32_t OPT_RUNTIME_INCLUDE = 2;
constexpr size_t MAX_INCLUDE_NAME = 260;

// Appends to the output line; false once the result would pass 2048 characters.
struct Out {
    char*  buf;
    size_t len = 0;
    bool put(const char* s, size_t n) {
        if (len + n > MAX_RESULT) return false;
        memcpy(buf + len, s, n);
        len += n;
        return true;
    }
};

// The value of a variable as text. False with the error set when a value
// cannot be shown as text; *found false when no variable holds a value.
bool value_text(State* st, const char* name, Out* out, bool* found) {
    *found = false;
    uint16_t i = var_lookup(st, name);
    VarSlot* s = i == SLOT_NONE ? nullptr : var_slot(st, i);
    if (!s) return true;
    const Cell* c = slot_cell(s);
    if (!(c->type & TW_HASVALUE)) return true;
    *found = true;
    if (c->type & TW_STRING) {
        const char* text = c->str ? heap_ptr(st, c->str) : "";
        return out->put(text, strlen(text)) || (err_set(st, 3101), false);
    }
    if (c->type & (TW_INT | TW_INT64 | TW_FLOAT)) {
        char num[128];
        if (!number_text(st, c, num, sizeof num)) return false;
        return out->put(num, strlen(num)) || (err_set(st, 3101), false);
    }
    // Wide strings, COM values and the rest go through the general conversion.
    Cell tmp;
    cell_init(&tmp);
    bool ok = var_read(st, i, &tmp) && conv_to_ansi(st, &tmp);
    if (!ok && !st->err) st->err = 3056;   // an array or an object has no text
    if (ok) {
        const char* text = cell_str(st, &tmp);
        ok = out->put(text, strlen(text)) || (err_set(st, 3101), false);
    }
    cell_release(st, &tmp, CM_BARE);
    return ok;
}

// The names that stand for control characters when no variable holds a value.
const char* control_text(const char* lname) {
    if (!strcmp(lname, "@crlf")) return "\r\n";
    if (!strcmp(lname, "@tab")) return "\t";
    if (!strcmp(lname, "@cr")) return "\r";
    if (!strcmp(lname, "@lf")) return "\n";
    return "";
}

bool is_absolute(const char* f) {
    return (f[0] && f[1] == ':' && f[2] == '\\') || (f[0] == '\\' && f[1] == '\\');
}

bool can_open(const char* path) {
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

// "#include file" (any case, then a blank) becomes Call("file",``): the
// included file runs as a called script with an empty parameter string.
// Leading blanks before "#include" are allowed. A relative name is looked for
// in the running script's directory first. Returns true when rewritten.
bool rewrite_include(State* st, char* line) {
    const char* p = line;
    while (*p == ' ' || *p == '\t') p++;
    if (strlen(p) < 10 || _strnicmp(p, "#include", 8) != 0 || (p[8] != ' ' && p[8] != '\t')) return false;
    p += 9;
    while (*p == ' ' || *p == '\t') p++;
    size_t n = strlen(p);
    while (n && (p[n - 1] == ' ' || p[n - 1] == '\t')) n--;
    if (n >= 2 && (p[0] == '"' || p[0] == '\'' || p[0] == '`') && p[n - 1] == p[0]) {
        p++;
        n -= 2;
    }
    if (n == 0 || n > MAX_INCLUDE_NAME) return false;
    char file[MAX_INCLUDE_NAME + 1];
    memcpy(file, p, n);
    file[n] = 0;

    char path[MAX_PATH + MAX_INCLUDE_NAME + 2];
    const char* use = file;
    if (!is_absolute(file)) {
        const char* slash = strrchr(st->curFile, '\\');
        const char* fslash = strrchr(st->curFile, '/');
        if (fslash > slash) slash = fslash;
        if (slash) {
            size_t d = static_cast<size_t>(slash - st->curFile) + 1;
            if (d < MAX_PATH) {
                memcpy(path, st->curFile, d);
                memcpy(path + d, file, n + 1);
                if (can_open(path)) use = path;
            }
        }
    }
    char call[LINE_BUF];
    int len = snprintf(call, sizeof call, "Call(\"%s\",``)", use);
    if (len < 0 || len >= LINE_BUF) return false;
    memcpy(line, call, static_cast<size_t>(len) + 1);
    return true;
}

}  // namespace

int percent_subst(State* st, char* line) {
    const lex::CharTables& t = lex::chars();
    bool changed = false;
    if (strchr(line, '%')) {
        char result[LINE_BUF];
        Out out{result};
        const char* p = line;
        while (*p) {
            unsigned char c = static_cast<unsigned char>(*p);
            if (lex::is_lead(t, c) && p[1]) {
                if (!out.put(p, 2)) return err_set(st, 3101), 0;
                p += 2;
                continue;
            }
            if (c != '%') {
                if (!out.put(p, 1)) return err_set(st, 3101), 0;
                p++;
                continue;
            }
            changed = true;
            if (p[1] == '%') {
                if (!out.put("%", 1)) return err_set(st, 3101), 0;
                p += 2;
                continue;
            }
            const char* s = ++p;
            while (lex::is_name_char(t, static_cast<unsigned char>(*p))) p++;
            size_t n = static_cast<size_t>(p - s);
            if (n > VARNAMESIZE) return err_set(st, 3047), 0;
            if (*p != '%') return err_set(st, 3048), 0;
            p++;
            char lname[VARNAMESIZE + 1];
            for (size_t k = 0; k < n; k++) lname[k] = t.lower[static_cast<unsigned char>(s[k])];
            lname[n] = 0;
            bool found = false;
            if (n && !value_text(st, lname, &out, &found)) return 0;
            if (!found) {
                const char* ctl = control_text(lname);
                if (!out.put(ctl, strlen(ctl))) return err_set(st, 3101), 0;
            }
        }
        result[out.len] = 0;
        memcpy(line, result, out.len + 1);
    }
    if ((st->options & OPT_RUNTIME_INCLUDE) && rewrite_include(st, line)) changed = true;
    return changed ? 2 : 1;
}

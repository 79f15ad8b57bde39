// Lists of names: FileItemize (file names), FileItemPath (full paths of
// files) and DirItemize (directory names), joined by the file-list delimiter
// in the order of the system's search.
#include "library/files/filelist.h"
#include "eval.h"
#include "keywords.h"

namespace {

// An empty list asks the host: its function "itemizenull" (names) or
// "itemizenull2" (full paths), called with "0" for files or "1" for
// directories, supplies the result. False when the host has no such function.
bool ask_host(State* st, Cell* result, const char* fnName, bool dirs) {
    const KeywordRec* h = st->hostFuncs;
    if (!h) return false;
    for (uint32_t i = 0; h[i].nameLen; ++i) {
        if (_stricmp(h[i].name, fnName) != 0) continue;
        Cell args[2];
        cell_init(&args[0]);
        cell_init(&args[1]);
        if (!cell_set_str(st, &args[1], dirs ? "1" : "0", 1)) return true;
        host_call(st, PARENTSTART + i, result, args, 1, h[i].argTypes);
        cell_release(st, &args[1], CM_BARE);
        if (!st->err && !conv_to_wide(st, result) && !st->err) st->err = 3820;
        return true;
    }
    return false;
}

void itemize(State* st, Cell* result, const Cell* listArg, ListKind kind, bool fullPaths, bool wide) {
    const wchar_t* list = cell_wstr(st, listArg);
    if (!*list && ask_host(st, result, fullPaths ? "itemizenull2" : "itemizenull", kind == ListKind::Dirs)) return;
    ListOptions opt;
    opt.kind = kind;
    opt.allowEmpty = true;
    opt.hiddenRule = true;
    const wchar_t delim = static_cast<wchar_t>(file_settings(st).listDelim);
    std::wstring out;
    const bool ok = for_each_entry(st, list, opt, [&](const FoundEntry& e) {
        if (!out.empty()) out += delim;
        if (!fullPaths) {
            out += e.data.cFileName;
            return true;
        }
        out += absolute_or_given(e.path);
        return true;
    });
    if (ok) set_text_result(st, result, out, wide);
}

}  // namespace

void fn_fileitemize(State* st, int, Cell* r, Cell* a, bool w) { itemize(st, r, &a[1], ListKind::Files, false, w); }
void fn_fileitempath(State* st, int, Cell* r, Cell* a, bool w) { itemize(st, r, &a[1], ListKind::Files, true, w); }
void fn_diritemize(State* st, int, Cell* r, Cell* a, bool w) { itemize(st, r, &a[1], ListKind::Dirs, false, w); }

// Call of another script file, and the parameter split it shares with
// DLLServices 11.
//
// A called script runs on the caller's state: same variables, same structure
// stack (above a frame of kind 350), same error machinery. The caller's file
// name and function context are put back afterwards; the line loop restores
// the statement the caller was in the middle of, so the evaluator resumes
// parsing it right after Call returns.
#include "loader.h"
#include "linecache.h"
#include "dispatch.h"
#include "errors.h"
#include "exec.h"
#include "value.h"
#include <cstdio>
#include <cstring>
#include <new>

// ------------------------------------------------------------ parameters

namespace {

template <class Ch>
std::vector<std::basic_string<Ch>> split_words(const Ch* t) {
    std::vector<std::basic_string<Ch>> out;
    auto blank = [](Ch c) { return c == Ch(' ') || c == Ch('\t'); };
    while (t && *t) {
        while (blank(*t)) ++t;
        if (!*t) break;
        std::basic_string<Ch> w;
        if (*t == Ch('"') || *t == Ch('\'') || *t == Ch('`')) {
            // A quoted word keeps its blanks; a doubled quote stands for one.
            Ch q = *t++;
            while (*t) {
                if (*t == q) {
                    if (t[1] == q) {
                        w += q;
                        t += 2;
                        continue;
                    }
                    ++t;
                    break;
                }
                w += *t++;
            }
        }
        while (*t && !blank(*t)) w += *t++;   // unquoted word, or text glued to a closing quote
        out.push_back(std::move(w));
    }
    return out;
}

// Assigns text to the variable `name`; false with the error set.
template <class Ch>
bool assign_text(State* st, const char* name, const std::basic_string<Ch>& text) {
    uint16_t slot = var_create(st, name, TW_UNINIT);
    if (slot == SLOT_NONE) return false;
    Cell c;
    cell_init(&c, 0);
    bool ok;
    if constexpr (sizeof(Ch) == 1)
        ok = cell_set_str(st, &c, text.c_str(), text.size());
    else
        ok = cell_set_wstr(st, &c, text.c_str(), text.size());
    ok = ok && var_assign(st, slot, &c);
    cell_release(st, &c, CM_BARE);
    return ok;
}

}  // namespace

std::vector<std::string> param_words(const char* text) { return split_words(text); }
std::vector<std::wstring> param_words(const wchar_t* text) { return split_words(text); }

namespace {

bool assign_params(State* st, const char* text, const wchar_t* wtext) {
    // Remove the param variables of an earlier call (as many as its param0 said).
    uint16_t p0 = var_lookup(st, "param0");
    if (p0 != SLOT_NONE) {
        Cell old;
        cell_init(&old, 0);
        int64_t count = 0;
        if (var_read(st, p0, &old)) {
            if (old.type & TW_INT) count = old.i;
            else if (old.type & TW_INT64) count = old.i64;
        }
        cell_release(st, &old, CM_VARBOUND);
        st->err = 0;
        char name[32];
        for (int64_t k = 1; k <= count && k < 100000; ++k) {
            snprintf(name, sizeof name, "param%d", static_cast<int>(k));
            uint16_t s = var_lookup(st, name);
            if (s != SLOT_NONE) var_drop(st, s);
        }
    }
    char name[32];
    size_t n = 0;
    if (wtext) {
        auto words = param_words(wtext);
        n = words.size();
        for (size_t k = 0; k < n; ++k) {
            snprintf(name, sizeof name, "param%d", static_cast<int>(k + 1));
            if (!assign_text(st, name, words[k])) return false;
        }
    } else {
        auto words = param_words(text ? text : "");
        n = words.size();
        for (size_t k = 0; k < n; ++k) {
            snprintf(name, sizeof name, "param%d", static_cast<int>(k + 1));
            if (!assign_text(st, name, words[k])) return false;
        }
    }
    uint16_t slot = var_create(st, "param0", TW_UNINIT);
    if (slot == SLOT_NONE) return false;
    Cell c;
    cell_init(&c, static_cast<int32_t>(n));
    return var_assign(st, slot, &c);
}

}  // namespace

bool split_params(State* st, const char* text, const wchar_t* wtext) {
    try {
        return assign_params(st, text, wtext);
    } catch (const std::bad_alloc&) {
        st->err = 1588;   // the list of words
        return false;
    }
}

// ------------------------------------------------------------------ Call

namespace {

bool exists_file(const char* path) {
    DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

// The file as given (relative to the current directory), next to the calling
// script, or along the search path.
bool locate_script(State* st, const char* file, char* out) {
    if (exists_file(file)) {
        DWORD n = GetFullPathNameA(file, MAX_PATH, out, nullptr);
        return n > 0 && n < MAX_PATH;
    }
    char dir[MAX_PATH], p[MAX_PATH * 2];
    path_dir(st->curFile, dir, sizeof dir);
    if (dir[0] && !(file[0] == '\\' || (file[0] && file[1] == ':'))) {
        snprintf(p, sizeof p, "%s\\%s", dir, file);
        if (exists_file(p) && GetFullPathNameA(p, MAX_PATH, out, nullptr) - 1u < MAX_PATH - 1u) return true;
    }
    DWORD n = SearchPathA(nullptr, file, nullptr, MAX_PATH, out, nullptr);
    return n > 0 && n < MAX_PATH && exists_file(out);
}

// Reads the file into a new movable block; 0 with the error set.
HGLOBAL read_script(State* st, const char* path) {
    HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        st->err = 102;
        return nullptr;
    }
    LARGE_INTEGER size;
    HGLOBAL buf = nullptr;
    if (!GetFileSizeEx(f, &size) || size.QuadPart > 0x7FFFFFF0) {
        st->err = 206;
    } else if (!(buf = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(size.QuadPart) + 2))) {
        st->err = 203;
    } else {
        GMemLock lock(buf);
        DWORD got = 0;
        if (!lock) {
            st->err = 204;
        } else if (!ReadFile(f, lock.get(), static_cast<DWORD>(size.QuadPart), &got, nullptr) ||
                   got != static_cast<DWORD>(size.QuadPart)) {
            st->err = 206;
        } else {
            lock.get<char>()[got] = 0;       // 8-bit terminator
            lock.get<char>()[got + 1] = 0;   // and a UTF-16 one
        }
    }
    CloseHandle(f);
    if (st->err && buf) {
        GlobalFree(buf);
        buf = nullptr;
    }
    return buf;
}

// What Call changes and puts back. (The line loop itself saves and restores
// the running statement's line, tokenizer position and position records.)
struct CallerContext {
    char     file[MAX_PATH];
    uint8_t  inUdf, loopFlag;
    uint16_t curUdf;

    void save(const State* st) {
        memcpy(file, st->curFile, sizeof file);
        inUdf = st->inUdf;
        loopFlag = st->loopFlag;
        curUdf = st->curUdf;
    }
    void restore(State* st) const {
        memcpy(st->curFile, file, sizeof file);
        st->inUdf = inUdf;
        st->loopFlag = loopFlag;
        st->curUdf = curUdf;
    }
};

void notify_file(State* st) {
    if (!(st->hostNotify & HN_FILECHANGE)) return;
    char depth[16];
    snprintf(depth, sizeof depth, "%u", st->callDepth);
    host_notify(st, -5, st->curFile, 0);
    host_notify(st, -4, depth, st->callDepth);
}

// Trace code 14: "CALLING SCRIPT" (entering) / "RETURNING FROM SCRIPT".
void trace_script(State* st, bool entering, const char* file) {
    st->traceEvent = TE_SCRIPT;
    st->traceOutcome = entering ? 1 : 0;
    st->traceWhy = 0;
    if (st->traceOn && g_traceWriter) g_traceWriter(st, TRACE_EVENT, file, nullptr);
}

}  // namespace

bool call_script(State* st, const char* file, const Cell* params, Cell* result) {
    const char* text = nullptr;
    const wchar_t* wtext = nullptr;
    if (params && (params->type & TW_UNICODE)) wtext = cell_wstr(st, params);
    else if (params && (params->type & TW_STRING)) text = cell_str(st, params);
    if (!split_params(st, text, wtext)) return false;

    char path[MAX_PATH];
    if (!file || !*file || !locate_script(st, file, path)) {
        st->err = 1400;
        return false;
    }

    uint32_t stackBefore = st->stackCount;
    if (!struct_push(st, SK_CALL, SS_EXEC)) return false;
    CallerContext caller;
    caller.save(st);
    st->loopFlag = 0;
    st->inUdf = 0;
    st->curUdf = 65535;
    st->callDepth++;
    snprintf(st->curFile, sizeof st->curFile, "%s", path);
    notify_file(st);
    trace_script(st, true, path);

    int rc = 0;
    HGLOBAL buf = read_script(st, path);
    HGLOBAL prepared = buf;
    Cell res;
    cell_init(&res, 0);
    if (buf) {
        char dir[MAX_PATH];
        path_dir(path, dir, sizeof dir);
        if (prepare_buffer(st, &prepared, path, dir)) {
            uint32_t pos = 0;
            rc = line_loop(st, &res, prepared, &pos, st->curBuffer);
        } else {
            st->err = 9013;   // reported by the preparation
        }
        lines_forget(st, prepared);
        if (prepared != buf) GlobalFree(prepared);
        GlobalFree(buf);
    }

    caller.restore(st);
    st->stackCount = stackBefore;
    st->callDepth--;
    notify_file(st);
    trace_script(st, false, path);

    if (rc == -1 && result) {
        cell_release(st, result, CM_BARE);
        memcpy(result, &res, sizeof res);
    } else {
        cell_release(st, &res, CM_BARE);
        if (result) cell_set_int(st, result, 0);
    }
    if (!buf) return false;   // 102, 203, 204, 206: reported at the Call statement
    if (rc == 0) {
        // Exit and a cancel travel on; anything else was reported inside.
        uint16_t e = st->err;
        if (e != 9000 && e != 9999 && !(e == 0 && st->stopRequest)) st->err = 9013;
        return false;
    }
    return true;
}

// The Call function: Call(file, parameters).
static void fn_call(State* st, int nargs, Cell* result, Cell* args, bool wide) {
    (void)wide;
    char file[MAX_PATH * 2] = "";
    if (nargs >= 1) {
        if (args[1].type & TW_UNICODE)
            WideCharToMultiByte(st->codePage ? st->codePage : CP_ACP, 0, cell_wstr(st, &args[1]), -1, file,
                                sizeof file, nullptr, nullptr);
        else
            snprintf(file, sizeof file, "%s", cell_str(st, &args[1]));
    }
    call_script(st, file, nargs >= 2 ? &args[2] : nullptr, result);
}

extern const BuiltinEntry g_callBuiltins[] = {
    {KW_CALL, fn_call},
    {0, nullptr},
};

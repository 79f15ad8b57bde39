// The calling path into host and extender entries, and the result callback
// ViperAnswer through which they answer.
//
// A host function (token ids 1000..1998) is called like an extender of
// interface level 4: the arguments go out as 56-byte KelValue records with
// 8-bit strings, the services block identifies the state and the result cell,
// and the entry stores its result by calling ViperAnswer. A negative result is
// an error code (see docs/host-interface.md).
#include "dispatch.h"
#include "errors.h"
#include "eval.h"
#include "heap.h"
#include "kel.h"
#include "loader.h"
#include "tokenizer.h"
#include "value.h"
#include <cstring>
#include <string>

extern "C" int64_t DLLServices(HGLOBAL state, int request, void* p1, void* p2, int64_t n, int64_t n2);
extern "C" int64_t ViperAnswer(int64_t code, int64_t word2, KelServices* services, const KelValue* value);

static_assert(sizeof(KelValue) == 56, "argument records are 56 bytes");
static_assert(sizeof(KelServices) == 136, "the services block is 136 bytes");
static_assert(sizeof(KelFunction) == sizeof(KeywordRec), "host records have the keyword record layout");

namespace {

constexpr int ERRTEXT_MAX = 255;
constexpr char UNDEFINED_ANSWER[] = "Extender Error: Undefined error occurred";

void set_error_text(State* st, const char* text) {
    snprintf(st->userText, sizeof st->userText, "%.*s", ERRTEXT_MAX, text ? text : "");
}

// The user code an extender put at the start of its error text ("1234: ...").
uint16_t user_code_of(const char* text) {
    const char* colon = strchr(text, ':');
    if (!colon || colon - text > 10 || colon == text) return 999;
    unsigned v = 0;
    for (const char* p = text; p < colon; ++p) {
        if (*p == ' ') continue;
        if (*p < '0' || *p > '9') return 999;
        v = v * 10 + static_cast<unsigned>(*p - '0');
    }
    return v > 65535 ? 999 : static_cast<uint16_t>(v);
}

// Turns a negative answer into the state's error. Errors that are shown at
// once become 9014 (already reported) when the user chose to stop, and are
// cleared when the run goes on.
void entry_failed(State* st, int64_t rc) {
    if (st->answerFailed) { st->err = 3210; return; }
    if (rc == -5) { st->err = 9999; return; }
    if (rc == -6) { st->err = 9012; return; }
    if (rc == -7) { st->err = 1643; return; }
    uint16_t e = rc == -1 ? 1213 : rc == -2 ? 2214 : 3215;
    st->userCode = user_code_of(st->userText);
    st->err = e;
    int sev = err_severity(e);
    bool leave = (st->errorMode == EM_OFF && sev == SEV_MINOR) || st->errHandlerMode != 0 || st->inExecute;
    if (leave) return;
    char numbered[300];
    snprintf(numbered, sizeof numbered, "KEL Extender Error:  %s", st->userText);
    st->err = err_report_text(st, nullptr, e, sev, numbered) ? 0 : 9014;
    err_detail_free(st);
}

}  // namespace

void services_fill(State* st, Cell* result, KelServices* out) {
    memset(out, 0, sizeof *out);
    out->state = st;
    out->result = result;
    out->stamp = KEL_SERVICES_STAMP;
    out->size = sizeof *out;
    out->dllServices = reinterpret_cast<void*>(&DLLServices);
    out->stateHandle = st->selfHandle;
    out->instance = g_hInst;
    out->owner = st->ownerWnd ? st->ownerWnd : st->hostWnd;
    void* routines[10] = {
        reinterpret_cast<void*>(&VMalloc),      reinterpret_cast<void*>(&VFree),
        reinterpret_cast<void*>(&find_var),     reinterpret_cast<void*>(&CreateMyArray),
        reinterpret_cast<void*>(&get_token),    reinterpret_cast<void*>(&get_string_token),
        reinterpret_cast<void*>(&putback),      reinterpret_cast<void*>(&ProcessSubExpression),
        reinterpret_cast<void*>(&LoadMyString), reinterpret_cast<void*>(&ViperAnswer),
    };
    memcpy(out->routines, routines, sizeof routines);
}

int entry_call(State* st, void* entry, int level, int32_t funcNum, Cell* result, Cell* args, int nargs,
               uint64_t typeWord, uint32_t* privateSlot) {
    KelEntry fn = reinterpret_cast<KelEntry>(entry);
    if (!fn) {
        internal_error(st, "Could not access Extender Entry 0x03");
        return st->err;
    }
    if (nargs > 16) nargs = 16;
    KelValue kv[16];
    std::string ansi[16];   // 8-bit copies of wide arguments for levels below 5
    memset(kv, 0, sizeof kv);
    for (int k = 1; k <= nargs; ++k) {
        const Cell& c = args[k];
        KelValue& v = kv[k - 1];
        v.type = c.type;
        v.ival = c.i;
        if (c.type & TW_FLOAT) v.fval = c.f;
        v.i64 = (c.type & TW_INT64) ? c.i64 : c.i;
        if (c.type & TW_STRING) v.str = cell_str(st, &c);
        if (c.type & TW_UNICODE) {
            // Below level 5 every string goes out as 8-bit text; the wide
            // original stays beside it (both type bits) so nothing is lost for
            // a host that reads wstr. From level 5 on, codes 5 to 8 go out wide.
            int code = static_cast<int>((typeWord >> (4 * (k - 1))) & 15);
            bool passWide = level >= 5 && code >= static_cast<int>(AT_WIDE) && code <= static_cast<int>(AT_STRW8);
            v.wstr = cell_wstr(st, &c);
            if (!passWide) {
                UINT cp = st->codePage ? st->codePage : CP_ACP;
                int n = WideCharToMultiByte(cp, 0, v.wstr, -1, nullptr, 0, nullptr, nullptr);
                ansi[k - 1].assign(n > 0 ? static_cast<size_t>(n - 1) : 0, '\0');
                if (n > 1) WideCharToMultiByte(cp, 0, v.wstr, -1, ansi[k - 1].data(), n, nullptr, nullptr);
                v.str = ansi[k - 1].c_str();
                v.type |= TW_STRING;
                if (level >= 5) {
                    v.wstr = nullptr;
                    v.type &= ~TW_UNICODE;
                }
            }
        }
        if (c.type & TW_ARRAY) v.handle = c.arr;
        else if (c.type & TW_VARIANT) v.handle = const_cast<VARIANT*>(&c.var);
    }
    KelServices sv;
    services_fill(st, result, &sv);
    char work[4096];
    memset(work, 0, 16);
    st->userText[0] = 0;
    st->answerFailed = 0;
    int64_t rc = fn(st->hostWnd, g_hInst, KEL_STAMP, funcNum, reinterpret_cast<void*>(&ViperAnswer), &sv,
                    privateSlot, kv, nargs, work);
    if (rc < 0 || st->answerFailed) entry_failed(st, rc);
    return st->err;
}

int host_call(State* st, uint32_t id, Cell* result, Cell* args, int nargs, uint64_t typeWord) {
    const KeywordRec* rec = nullptr;
    if (st->hostFuncs) {
        uint32_t want = id - PARENTSTART;
        for (uint32_t i = 0; st->hostFuncs[i].nameLen && i <= want; ++i)
            if (i == want) rec = &st->hostFuncs[i];
    }
    if (!rec) {
        st->err = 3046;
        return st->err;
    }
    return entry_call(st, reinterpret_cast<void*>(static_cast<uintptr_t>(st->hostValue)), 4,
                      static_cast<int32_t>(rec->code), result, args, nargs, typeWord, &st->hostPrivate);
}

int64_t host_notify(State* st, int32_t code, const char* text, int64_t number) {
    KelEntry fn = reinterpret_cast<KelEntry>(static_cast<uintptr_t>(st->hostValue));
    if (!fn) return 0;
    KelServices sv;
    services_fill(st, nullptr, &sv);
    return fn(st->hostWnd, g_hInst, KEL_STAMP, code, const_cast<char*>(text), &sv, &st->hostPrivate, nullptr,
              number, nullptr);
}

// The result callback. The services block identifies the state and the result
// cell; the value replaces whatever the cell held.
extern "C" int64_t ViperAnswer(int64_t code, int64_t word2, KelServices* services, const KelValue* value) {
    (void)word2;
    if (!services || !services->state || !value) return code;
    State* st = static_cast<State*>(services->state);
    Cell* result = static_cast<Cell*>(services->result);
    uint32_t t = value->type;
    if (code < 0 && (t & TW_STRING)) {
        set_error_text(st, value->str);
        return code;
    }
    if (!result) return code;
    cell_release(st, result, CM_BARE);
    cell_init(result, 0);
    bool ok = true;
    if (t & TW_VARIANT) {
        VariantInit(&result->var);
        ok = value->handle && SUCCEEDED(VariantCopy(&result->var, static_cast<VARIANT*>(value->handle)));
        if (ok) {
            VARTYPE vt = result->var.vt;
            result->type = (vt == VT_DISPATCH || vt == VT_UNKNOWN) ? TW_COMOBJ : TW_VARIANT;
        } else {
            set_error_text(st, UNDEFINED_ANSWER);
            return code;
        }
    } else if (t & TW_ARRAY) {
        result->arr = static_cast<ArrayHdr*>(value->handle);
        result->type = TW_ARRAY;
    } else if (t & TW_UNICODE) {
        const wchar_t* w = value->wstr ? value->wstr : L"";
        ok = cell_set_wstr(st, result, w, wcslen(w));
    } else if (t & TW_STRING) {
        const char* s = value->str ? value->str : "";
        ok = cell_set_str(st, result, s, strlen(s));
    } else if (t & TW_INT64) {
        cell_set_int64(st, result, value->i64);
    } else if (t & TW_INT) {
        cell_set_int(st, result, value->ival);
    } else if (t & TW_FLOAT) {
        cell_set_float(st, result, value->fval);
    } else {
        set_error_text(st, UNDEFINED_ANSWER);
        return code;
    }
    if (!ok) {
        st->err = 0;   // the entry sees -4 and fails; the dispatcher raises 3210
        st->answerFailed = 1;
        cell_init(result, 0);
        return -4;
    }
    return code;
}

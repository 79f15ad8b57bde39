// The line and token caches of the executor (see linecache.h for what is
// kept and why no script can tell).
#include "linecache.h"
#include "tokenizer.h"
#include "keywords.h"
#include "value.h"
#include "textscan.h"
#include "eval.h"
#include "lexer_internal.h"
#include <algorithm>
#include <memory>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

constexpr size_t MAX_TOKENS_PER_LINE = 1024;

}  // namespace

struct LineEntry {
    uint32_t gen = 0;                    // the buffer's generation when read
    // The entries that followed this one last time (the next line, and the
    // target of a jump): a loop finds its lines without hashing.
    uint32_t followPos[2] = {0, 0};
    LineEntry* follow[2] = {nullptr, nullptr};
    uint32_t textPos = 0, nextPos = 0;
    bool     tooLong = false;
    bool     plain = false;              // line_text_plain of the text
    struct Skip {
        uint16_t kind = 0;               // 0: unused
        uint8_t  status = 0;
        uint8_t  extra = 0;
        uint32_t target = 0;
    } skips[2];                          // skipping runs that begin at this line
    int8_t   caseLiteral = -1;           // line_case_literal: -1 not judged, 0 no, 1 yes
    int8_t   loneKeyword = -1;           // line_lone_keyword: -1 not judged, 0 no, 1 yes
    int32_t  caseValue = 0;
    struct CaseTarget {
        int32_t  value;
        uint32_t target;
        uint32_t extra;
    };
    std::vector<CaseTarget> caseTargets;   // a Switch line's known matches
    int32_t  markerOff = -1;             // offset of a judged jump marker, -1 none
    bool     markerGenuine = false, markerGosub = false;
    uint32_t markerTarget = 0;
    std::string text;
    std::vector<CachedToken> toks;   // sorted by start
    std::string arena;
    std::vector<ExprSite> exprs;     // compiled expressions over `toks`
    // What the tokens were read against: names may change meaning when
    // functions are defined or added.
    uint32_t udfCount = 0, extCount = 0;
    const void* host = nullptr;

    LineEntry() = default;
    LineEntry(const LineEntry&) = delete;
    LineEntry& operator=(const LineEntry&) = delete;
    ~LineEntry() { drop_exprs(); }
    void drop_exprs() {
        for (ExprSite& x : exprs) expr_program_free(x.prog);
        exprs.clear();
    }
};

// Entries are never freed while the buffer may still run: a statement in the
// middle of its evaluation (an outer function call, a recursive call of the
// same line) holds its entry, and its line text, which the entry's tokens
// describe, comes back when the inner run ends. A marker written into the
// buffer makes the entries stale: they move to `stale` and new ones are read.
struct BufferLines {
    HGLOBAL  buf;
    uint32_t keyBase;
    uint32_t gen = 0;   // raised when the entries go stale
    std::unordered_map<uint32_t, std::unique_ptr<LineEntry>> lines;
    std::vector<std::unique_ptr<LineEntry>> stale;
};

namespace {

struct LineCache {
    std::vector<BufferLines*> buffers;
    ~LineCache() {
        for (BufferLines* b : buffers) delete b;
    }
};

LineCache* cache_of(State* st, bool create) {
    if (!st->lineCache && create) st->lineCache = new (std::nothrow) LineCache;
    return static_cast<LineCache*>(st->lineCache);
}

// Nothing but blanks and a comment after offset `end` of the entry's text.
bool rest_blank(const LineEntry* e, uint32_t end) {
    const lex::CharTables& ct = lex::chars();
    const char* rest = e->text.c_str() + end;
    while (ct.cls[static_cast<unsigned char>(*rest)] & lex::CH_BLANK) ++rest;
    return lex::at_line_end(*rest);
}

bool same_epoch(const State* st, const LineEntry* e) {
    return e->udfCount == st->udfCount && e->extCount == st->nNextExtEntry && e->host == st->hostFuncs;
}

// "&" where an operand is expected (the same rule as the ordinary path).
bool amp_is_unary(const State* st) {
    if (st->prevDelim != TK_KEYWORD) return false;
    const uint32_t prev = st->prevTok;
    if (prev == KW_OP_RPAREN || prev == KW_OP_RBRACKET) return false;
    return !(prev < NKEYTOKENS && g_keywords[prev].cls == KC_CONSTANT);
}

}  // namespace

BufferLines* lines_of(State* st, HGLOBAL buf, uint32_t keyBase) {
    LineCache* c = cache_of(st, true);
    if (!c || !buf) return nullptr;
    for (BufferLines* b : c->buffers)
        if (b->buf == buf && b->keyBase == keyBase) return b;
    try {
        std::unique_ptr<BufferLines> b(new BufferLines{buf, keyBase, 0, {}, {}});
        c->buffers.push_back(b.get());   // may fail: then the record goes with `b`
        return b.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

LineEntry* line_find(BufferLines* b, uint32_t pos) {
    if (!b) return nullptr;
    auto it = b->lines.find(pos);
    return it == b->lines.end() ? nullptr : it->second.get();
}

LineEntry* line_next(BufferLines* b, LineEntry* prev, uint32_t pos) {
    if (!b) return nullptr;
    const bool chain = prev && prev->gen == b->gen;
    if (chain) {
        for (int k = 0; k < 2; ++k) {
            LineEntry* f = prev->follow[k];
            if (f && prev->followPos[k] == pos && f->gen == b->gen) return f;
        }
    }
    LineEntry* e = line_find(b, pos);
    if (chain && e) {
        const int k = pos == prev->nextPos ? 0 : 1;
        prev->follow[k] = e;
        prev->followPos[k] = pos;
    }
    return e;
}

LineEntry* line_store(BufferLines* b, uint32_t pos, const char* text, uint32_t textPos, uint32_t nextPos,
                      bool tooLong) {
    if (!b) return nullptr;
    try {
        auto e = std::make_unique<LineEntry>();
        e->gen = b->gen;
        e->text.assign(text);
        e->plain = line_text_plain(text);
        e->textPos = textPos;
        e->nextPos = nextPos;
        e->tooLong = tooLong;
        LineEntry* raw = e.get();
        std::unique_ptr<LineEntry>& slot = b->lines[pos];
        if (slot) b->stale.push_back(std::move(slot));
        slot = std::move(e);
        return raw;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void line_fetch(const LineEntry* e, char* out, uint32_t* textPos, uint32_t* nextPos, bool* tooLong) {
    text_copy(out, e->text.c_str(), e->text.size() + 1);
    *textPos = e->textPos;
    *nextPos = e->nextPos;
    *tooLong = e->tooLong;
}

bool line_plain(const LineEntry* e) { return e->plain; }
uint32_t line_next_pos(const LineEntry* e) { return e->nextPos; }
bool line_cut(const LineEntry* e) { return e->tooLong; }

bool line_skip_target(const LineEntry* e, uint16_t kind, uint8_t status, uint32_t* target, uint32_t* extra) {
    if (!e) return false;
    for (const LineEntry::Skip& k : e->skips) {
        if (k.kind == kind && k.status == status) {
            *target = k.target;
            *extra = k.extra;
            return true;
        }
    }
    return false;
}

void line_skip_record(LineEntry* e, uint16_t kind, uint8_t status, uint32_t target, uint32_t extra) {
    if (!e || kind == 0 || extra > 255) return;
    LineEntry::Skip* slot = &e->skips[0];
    for (LineEntry::Skip& k : e->skips) {
        if (k.kind == 0 || (k.kind == kind && k.status == status)) {
            slot = &k;
            break;
        }
    }
    slot->kind = kind;
    slot->status = status;
    slot->target = target;
    slot->extra = static_cast<uint8_t>(extra);
}

int line_marker(const LineEntry* e, uint32_t offset, bool* gosub, uint32_t* target) {
    if (!e || e->markerOff != static_cast<int32_t>(offset)) return -1;
    *gosub = e->markerGosub;
    *target = e->markerTarget;
    return e->markerGenuine ? 1 : 0;
}

void line_marker_judged(LineEntry* e, uint32_t offset, bool genuine, bool gosub, uint32_t target) {
    if (!e || offset > 0xFFFF) return;
    e->markerOff = static_cast<int32_t>(offset);
    e->markerGenuine = genuine;
    e->markerGosub = gosub;
    e->markerTarget = target;
}

int line_case_literal(const State* st, LineEntry* e, int32_t* value) {
    const std::vector<CachedToken>& v = e->toks;
    const bool isCase = !v.empty() && v[0].start == 0 && v[0].kind == TK_KEYWORD && v[0].code == KW_CASE;
    // A Case line passed over after a Break has only its keyword recorded:
    // it is judged once its value has been read as well.
    if (e->caseLiteral < 0 && same_epoch(st, e) && !v.empty() && (!isCase || v.size() >= 2)) {
        bool yes = isCase && v.size() == 2 && v[1].kind == TK_INTEGER;
        int64_t n = 0;
        bool is64 = false;
        if (yes) yes = text_is_integer(e->arena.data() + v[1].textOff, true, &n, &is64) && !is64;
        if (yes) yes = rest_blank(e, v[1].end);
        e->caseLiteral = yes ? 1 : 0;
        e->caseValue = static_cast<int32_t>(n);
    }
    *value = e->caseValue;
    return e->caseLiteral;
}

bool line_lone_keyword(const State* st, LineEntry* e, uint32_t* code) {
    if (e->loneKeyword < 0 && same_epoch(st, e) && !e->toks.empty()) {
        const std::vector<CachedToken>& v = e->toks;
        bool yes = v.size() == 1 && v[0].start == 0 && v[0].kind == TK_KEYWORD;
        if (yes) {
            switch (v[0].code) {
            case KW_BREAK: case KW_CONTINUE: case KW_ENDSWITCH: case KW_ENDSELECT:
            case KW_ENDIF: case KW_ENDWHILE: case KW_NEXT: case KW_ENDFOR:
                break;
            default:
                yes = false;
            }
        }
        if (yes) yes = rest_blank(e, v[0].end);
        e->loneKeyword = yes ? 1 : 0;
    }
    if (e->loneKeyword != 1) return false;
    *code = e->toks[0].code;
    return true;
}

bool line_case_target(const LineEntry* e, int32_t value, uint32_t* target, uint32_t* extra) {
    for (const LineEntry::CaseTarget& t : e->caseTargets) {
        if (t.value == value) {
            *target = t.target;
            *extra = t.extra;
            return true;
        }
    }
    return false;
}

void line_case_target_record(LineEntry* e, int32_t value, uint32_t target, uint32_t extra) {
    constexpr size_t kMaxTargets = 64;
    if (extra > 255 || e->caseTargets.size() >= kMaxTargets) return;
    try {
        e->caseTargets.push_back(LineEntry::CaseTarget{value, target, extra});
    } catch (const std::bad_alloc&) {
    }
}

void tokens_attach(State* st, LineEntry* e) {
    st->tokLine = e;
    st->tokHint = 0;
    if (e && !same_epoch(st, e)) {
        e->toks.clear();
        e->arena.clear();
        e->drop_exprs();
        e->caseLiteral = -1;
        e->loneKeyword = -1;
        e->udfCount = st->udfCount;
        e->extCount = st->nNextExtEntry;
        e->host = st->hostFuncs;
    }
}

int tokens_serve(State* st, char* p, bool prevAmp) {
    auto* e = static_cast<LineEntry*>(st->tokLine);
    const size_t off = static_cast<size_t>(p - st->line);
    if (p < st->line || off >= e->text.size() || !same_epoch(st, e)) return -1;
    const std::vector<CachedToken>& v = e->toks;
    uint32_t i = st->tokHint;
    if (i >= v.size() || v[i].start != off) {
        // Read again after putback, or from an offset set by hand.
        auto it = std::lower_bound(v.begin(), v.end(), off,
                                   [](const CachedToken& t, size_t o) { return t.start < o; });
        if (it == v.end() || it->start != off) return -1;
        i = static_cast<uint32_t>(it - v.begin());
    }
    const CachedToken& t = v[i];
    const char* text = e->arena.data() + t.textOff;
    if (t.kind == TK_VARIABLE) {
        // Names read under these flags are spelt or stored differently.
        if (st->ptrPrefix || st->ptrPersistent || st->makePointer) return -1;
        uint16_t slot = t.slot;
        if (!var_hint_valid(st, slot, text)) {
            slot = var_create(st, text, prevAmp ? TW_INT : TW_UNINIT);
            if (slot == SLOT_NONE) {
                st->delimType = TK_EOL;
                st->token[0] = 0;
                return 0;
            }
            const_cast<CachedToken&>(t).slot = slot;
        }
        st->tokSlot = slot;
    } else {
        st->tokSlot = SLOT_NONE;
    }
    text_copy(st->token, text, t.textLen + 1u);
    st->delimType = t.kind;
    if (t.kind == TK_KEYWORD) st->tok = t.code;
    st->prog = st->line + t.end;
    st->tokHint = i + 1;
    if (t.kind == TK_KEYWORD && t.code == KW_OP_AMP && amp_is_unary(st)) {
        st->unaryAmp = 1;
        return 1 | 2;
    }
    return 1;
}

void tokens_record(State* st, const char* p, bool dynamic) {
    auto* e = static_cast<LineEntry*>(st->tokLine);
    if (!e || dynamic || p < st->line || !same_epoch(st, e)) return;
    const size_t off = static_cast<size_t>(p - st->line);
    const size_t end = static_cast<size_t>(st->prog - st->line);
    if (off >= e->text.size() || end > e->text.size() || end <= off) return;
    if (st->delimType == TK_VARIABLE && (st->ptrPrefix || st->ptrPersistent || st->makePointer)) return;
    std::vector<CachedToken>& v = e->toks;
    if (v.size() >= MAX_TOKENS_PER_LINE) return;
    auto it = std::lower_bound(v.begin(), v.end(), off,
                               [](const CachedToken& t, size_t o) { return t.start < o; });
    if (it != v.end() && it->start == off) return;   // already known
    const size_t len = strlen(st->token);
    if (len > 0xFFFF) return;
    try {
        CachedToken t{};
        t.start = static_cast<uint16_t>(off);
        t.end = static_cast<uint16_t>(end);
        t.kind = st->delimType;
        t.code = st->delimType == TK_KEYWORD ? st->tok : 0;
        t.textOff = static_cast<uint32_t>(e->arena.size());
        t.textLen = static_cast<uint16_t>(len);
        t.slot = st->delimType == TK_VARIABLE ? st->tokSlot : SLOT_NONE;
        e->arena.append(st->token, len + 1);
        const size_t at = static_cast<size_t>(it - v.begin());
        v.insert(v.begin() + static_cast<std::ptrdiff_t>(at), t);
        st->tokHint = static_cast<uint32_t>(at + 1);
    } catch (const std::bad_alloc&) {
    }
}

bool line_tokens_current(const State* st, const LineEntry* e) { return same_epoch(st, e); }
uint32_t line_text_length(const LineEntry* e) { return static_cast<uint32_t>(e->text.size()); }

const CachedToken* line_tokens(const LineEntry* e, uint32_t* count) {
    *count = static_cast<uint32_t>(e->toks.size());
    return e->toks.data();
}

const char* line_token_text(const LineEntry* e, const CachedToken& t) { return e->arena.data() + t.textOff; }

ExprSite* line_expr_site(LineEntry* e, uint32_t off) {
    for (ExprSite& x : e->exprs)
        if (x.off == off) return &x;
    if (off > 0xFFFF || e->exprs.size() >= 64) return nullptr;
    try {
        e->exprs.push_back(ExprSite{static_cast<uint16_t>(off), 0, false, nullptr});
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return &e->exprs.back();
}

void lines_stale(State* st, HGLOBAL buf) {
    LineCache* c = cache_of(st, false);
    if (!c) return;
    for (BufferLines* b : c->buffers) {
        if (b->buf != buf) continue;
        b->gen++;
        try {
            for (auto& kv : b->lines) b->stale.push_back(std::move(kv.second));
            b->lines.clear();
        } catch (const std::bad_alloc&) {
            // Keep the entries where they are but unreachable by position:
            // the map is cleared only after every entry moved; without memory
            // to move them, stop caching this buffer's lines altogether.
            b->buf = nullptr;
        }
    }
}

void lines_forget(State* st, HGLOBAL buf) {
    LineCache* c = cache_of(st, false);
    if (!c) return;
    for (size_t i = 0; i < c->buffers.size();) {
        BufferLines* b = c->buffers[i];
        if (b->buf == buf) {
            delete b;
            c->buffers.erase(c->buffers.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
}

void lines_forget_all(State* st) {
    delete cache_of(st, false);
    st->lineCache = nullptr;
    st->tokLine = nullptr;
}

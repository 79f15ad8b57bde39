// A real interpreter state for unit tests (see owned_state.h), with helpers
// that set and read variables.
#pragma once
#include <gtest/gtest.h>
#include "owned_state.h"
#include "state.h"
#include "heap.h"
#include "value.h"
#include "errors.h"
#include "exec.h"
#include "loader.h"
#include "linecache.h"
#include <cstring>
#include <string>
#include <vector>

// A prepared buffer (scrambled, no marker lines) holding `text`, as the line
// loop runs it. The caller frees it.
inline HGLOBAL scrambled_buffer(const std::string& text) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    auto* p = h ? static_cast<uint8_t*>(GlobalLock(h)) : nullptr;
    if (!p) return h;
    memcpy(p, text.c_str(), text.size() + 1);
    scramble_bytes(p, text.size() + 1, 0);
    GlobalUnlock(h);
    return h;
}

// Runs `text` through the line loop as a main script: *buf (freed first when
// set) receives its buffer, which must stay until the test ends. Returns the
// line loop's result. A freed buffer's lines are forgotten, as the library
// does for the buffers it frees (the next one may get the same handle).
inline int run_script(State* st, HGLOBAL* buf, const std::string& text) {
    if (*buf) lines_forget(st, *buf), GlobalFree(*buf);
    *buf = scrambled_buffer(text);
    Cell result;
    cell_init(&result);
    uint32_t pos = 0;
    st->err = 0;
    const int rc = line_loop(st, &result, *buf, &pos, nullptr);
    cell_release(st, &result, CM_BARE);
    return rc;
}

// Bytes of the string heap in blocks that are in use (tag "5678"), the
// control header and the end marker excluded.
inline uint64_t heap_bytes_in_use(const State* st) {
    uint64_t used = 0;
    for (uint64_t b = 80; b < st->heapEnd;) {
        const uint8_t* p = st->heapBase + b;
        uint64_t size;
        memcpy(&size, p + 8, sizeof size);
        if (size == 0) break;
        if (memcmp(p, "5678", 4) == 0) used += size;
        b += size;
    }
    return used;
}

class StateFixture : public testing::Test, protected OwnedState {
protected:
    static constexpr uint64_t HEAP_RESERVE = 16ull << 20;
    static constexpr uint16_t VAR_SLOTS = 200;

    void SetUp() override { Build(VAR_SLOTS); }
    void TearDown() override { discard(); }

    void Build(uint16_t slots) { ASSERT_TRUE(build(slots, HEAP_RESERVE)); }

    // Variable helpers.
    uint16_t SetString(const char* name, const std::string& text) {
        uint16_t i = var_create(st, name, TW_UNINIT);
        Cell c;
        cell_init(&c);
        EXPECT_TRUE(cell_set_str(st, &c, text.data(), text.size()));
        EXPECT_TRUE(var_assign(st, i, &c));
        cell_release(st, &c, CM_BARE);
        return i;
    }
    uint16_t SetInt(const char* name, int32_t v) {
        uint16_t i = var_create(st, name, TW_UNINIT);
        Cell c;
        cell_init(&c, v);
        EXPECT_TRUE(var_assign(st, i, &c));
        return i;
    }
    const Cell* VarCell(const char* name) {
        uint16_t i = var_lookup(st, name);
        VarSlot* s = i == SLOT_NONE ? nullptr : var_slot(st, i);
        return s ? slot_cell(s) : nullptr;
    }
};

// A state that runs scripts through the line loop (Run), with the error
// reports captured instead of shown: their numbers land in `errors`.
class ScriptFixture : public StateFixture {
protected:
    std::vector<uint32_t> errors;
    HGLOBAL buf = nullptr;

    void SetUp() override {
        StateFixture::SetUp();
        scramble_init();
        st->reportCb = reinterpret_cast<void*>(&capture);
        st->reportCtx = &errors;
        st->errorMode = 1;   // @CANCEL
        st->pendingIf = -1;
    }
    void TearDown() override {
        udf_free_all(st);
        foreach_release_all(st);
        if (buf) lines_forget(st, buf), GlobalFree(buf);
        buf = nullptr;
        StateFixture::TearDown();
    }
    int Run(const std::string& text) { return run_script(st, &buf, text); }

private:
    static int capture(void* ctx, const KelReport* r) {
        if (r->kind == 0) static_cast<std::vector<uint32_t>*>(ctx)->push_back(r->errNum);
        return 0;
    }
};

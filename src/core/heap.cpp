// The string heap allocator.
//
// The heap is one region reserved by the host and committed page by page from
// its base. Every string lives in a block with boundary tags:
//
//   +0   head tag   "QRST"+4 zero bytes when free, "5678"+4 zero bytes in use
//   +8   size       whole block size in bytes, tags included
//   +16  next free  (free blocks only; user data starts here when in use)
//   +24  prev free  (free blocks only)
//   ...
//   -16  trailing size (free blocks only)
//   -8   tail tag   same as the head tag
//
// The first 80 bytes are a pseudo-block whose next/prev words (offsets 16 and
// 24) anchor the circular free list, offset 0 standing for the anchor; the
// rover of the next-fit search sits at byte 56. An in-use tag at offset 72 and
// the end marker (an in-use head tag at State::heapEnd) keep VFree from ever
// merging past either end of the region. Handles are offsets, never pointers,
// so the host may re-base the region between calls.
#include "heap.h"
#include "textscan.h"
#include "state.h"
#include <cstring>
#include <cstdio>
#include <vector>
#include <algorithm>

HeapBoxHook g_heapBoxHook = nullptr;
HeapAllocProbe g_heapAllocProbe = nullptr;

namespace {

constexpr uint64_t HDR_SIZE     = 80;     // control header (anchor pseudo-block)
constexpr uint64_t OFF_SIZE     = 8;
constexpr uint64_t OFF_NEXT     = 16;
constexpr uint64_t OFF_PREV     = 24;
constexpr uint64_t OFF_ROVER    = 56;
constexpr uint64_t OFF_HDR_TAIL = 72;
constexpr uint64_t MIN_BLOCK    = 52;     // smallest block; also the split threshold
constexpr uint64_t END_SLACK    = 28;     // end marker sits this far below the first commit
constexpr uint64_t GROW_COMMIT  = 32768;  // extra bytes committed per growth
constexpr uint64_t GROW_BLOCK   = 32744;  // extra bytes of the block laid by a growth
constexpr uint64_t MAX_REQUEST  = 1ull << 40;

enum Tag { TAG_BAD, TAG_FREE, TAG_USED };

inline uint64_t rd(const State* st, uint64_t off) {
    uint64_t v;
    memcpy(&v, st->heapBase + off, 8);
    return v;
}
inline void wr(State* st, uint64_t off, uint64_t v) { memcpy(st->heapBase + off, &v, 8); }

inline Tag tag_at(const State* st, uint64_t off) {
    const uint8_t* p = st->heapBase + off;
    if (memcmp(p, "QRST", 4) == 0) return TAG_FREE;
    if (memcmp(p, "5678", 4) == 0) return TAG_USED;
    return TAG_BAD;
}
inline void set_tag(State* st, uint64_t off, Tag t) {
    memcpy(st->heapBase + off, t == TAG_FREE ? "QRST\0\0\0\0" : "5678\0\0\0\0", 8);
}

inline uint64_t next_of(const State* st, uint64_t b) { return rd(st, b + OFF_NEXT); }
inline uint64_t prev_of(const State* st, uint64_t b) { return rd(st, b + OFF_PREV); }
inline uint64_t rover(const State* st) { return rd(st, OFF_ROVER); }

void box(const char* title, const char* text) {
    if (g_heapBoxHook) {
        g_heapBoxHook(title, text);
        return;
    }
    MessageBoxA(nullptr, text, title, MB_OK | MB_ICONSTOP | MB_TASKMODAL | MB_SETFOREGROUND);
}

// Takes a free block out of the list; a rover that pointed at it goes back to
// the anchor.
void unlink(State* st, uint64_t b) {
    uint64_t n = next_of(st, b), p = prev_of(st, b);
    wr(st, p + OFF_NEXT, n);
    wr(st, n + OFF_PREV, p);
    if (rover(st) == b) wr(st, OFF_ROVER, 0);
}

uint64_t page_size() {
    static uint64_t size = 0;
    if (!size) {
        SYSTEM_INFO si;
        GetSystemInfo(&si);
        size = si.dwPageSize ? si.dwPageSize : 4096;
    }
    return size;
}

// Commits more of the reserved region and frees a new block laid over the old
// end marker, so it merges with a free block before it.
bool grow(State* st, uint64_t needed) {
    uint64_t pg = page_size();
    uint64_t want = (st->heapCommitted + needed + GROW_COMMIT + pg - 1) / pg * pg;
    DWORD code = 0;
    if (st->heapReserved && want > st->heapReserved)
        code = ERROR_INVALID_ADDRESS;              // beyond the reservation: same as the system's answer
    else if (!VirtualAlloc(st->heapBase, want, MEM_COMMIT, PAGE_READWRITE))
        code = GetLastError();
    if (code) {
        if (code != ERROR_NOT_ENOUGH_MEMORY && code != ERROR_INVALID_ADDRESS) {
            char text[32];
            snprintf(text, sizeof text, "%ld", static_cast<long>(code));
            box("VMalloc error - VirtualAlloc failed", text);
        }
        return false;
    }
    st->heapCommitted = want;
    uint64_t b = st->heapEnd, size = needed + GROW_BLOCK;
    set_tag(st, b, TAG_USED);                      // the old end marker becomes the head tag
    wr(st, b + OFF_SIZE, size);
    set_tag(st, b + size - 8, TAG_USED);
    set_tag(st, b + size, TAG_USED);               // new end marker
    st->heapEnd = b + size;
    VFree(st, b + 16);
    return true;
}

}  // namespace

bool heap_init(State* st, uint8_t* base, uint64_t reserved, uint64_t initial) {
    if (!st || !base || initial < HDR_SIZE + MIN_BLOCK + END_SLACK + 8 ||
        (reserved && initial > reserved))
        return false;
    if (!VirtualAlloc(base, initial, MEM_COMMIT, PAGE_READWRITE)) return false;
    st->heapBase = base;
    st->heapReserved = reserved;
    st->heapCommitted = initial;
    uint64_t end = initial - END_SLACK;
    st->heapEnd = end;

    memset(base, 0, HDR_SIZE);
    set_tag(st, 0, TAG_USED);
    wr(st, OFF_SIZE, HDR_SIZE);
    wr(st, OFF_NEXT, HDR_SIZE);
    wr(st, OFF_PREV, HDR_SIZE);
    wr(st, OFF_ROVER, HDR_SIZE);
    set_tag(st, OFF_HDR_TAIL, TAG_USED);

    uint64_t b = HDR_SIZE, size = end - HDR_SIZE;
    set_tag(st, b, TAG_FREE);
    wr(st, b + OFF_SIZE, size);
    wr(st, b + OFF_NEXT, 0);
    wr(st, b + OFF_PREV, 0);
    wr(st, b + size - 16, size);
    set_tag(st, b + size - 8, TAG_FREE);
    set_tag(st, end, TAG_USED);
    return true;
}

extern "C" uint64_t VMalloc(State* st, uint64_t bytes) {
    if (!st || !st->heapBase || bytes > MAX_REQUEST) return 0;
    if (g_heapAllocProbe && g_heapAllocProbe(bytes)) return 0;
    uint64_t needed = std::max<uint64_t>((bytes + 27) & ~3ull, MIN_BLOCK);

    // Next fit from the rover. The anchor (0) is passed once freely; reaching
    // it the second time means no block fits and the heap must grow. A damaged
    // list could cycle without reaching the anchor: the step limit stops that.
    uint64_t p = rover(st), limit = 2 * (st->heapEnd / MIN_BLOCK) + 16, steps = 0;
    int anchors = 0;
    bool grown = false;
    for (;;) {
        if (++steps > limit) return 0;
        if (p == 0) {
            if (++anchors == 2) {
                if (grown || !grow(st, needed)) return 0;
                grown = true;
                anchors = 0;
                steps = 0;
                limit = 2 * (st->heapEnd / MIN_BLOCK) + 16;
                p = rover(st);
                continue;
            }
        } else if (p < HDR_SIZE || p >= st->heapEnd) {
            return 0;                              // a link outside the heap: corrupted
        } else if (rd(st, p + OFF_SIZE) >= needed) {
            break;
        } else {
            wr(st, OFF_ROVER, p);
        }
        p = next_of(st, p);
    }

    uint64_t size = rd(st, p + OFF_SIZE), rest = size - needed;
    if (rest >= MIN_BLOCK) {
        // The free block keeps the front part; the back part is handed out.
        wr(st, p + OFF_SIZE, rest);
        wr(st, p + rest - 16, rest);
        set_tag(st, p + rest - 8, TAG_FREE);
        uint64_t a = p + rest;
        set_tag(st, a, TAG_USED);
        wr(st, a + OFF_SIZE, needed);
        set_tag(st, a + needed - 8, TAG_USED);
        return a + 16;
    }
    unlink(st, p);
    set_tag(st, p, TAG_USED);
    set_tag(st, p + size - 8, TAG_USED);
    return p + 16;
}

extern "C" void VFree(State* st, uint64_t handle) {
    if (!st || !st->heapBase) return;
    // Everything is checked before anything is written, so a damaged block is
    // left exactly as it was and the script goes on.
    const char* damage = nullptr;
    uint64_t b = handle - 16, size = 0, prev = 0, next = 0;
    if (handle < HDR_SIZE + 16 || handle >= st->heapEnd || tag_at(st, b) != TAG_USED) {
        damage = "Tag Overwrite 1";
    } else {
        size = rd(st, b + OFF_SIZE);
        if (size < MIN_BLOCK || size > st->heapEnd - b) damage = "Tag Overwrite 1";
    }
    if (!damage) {
        Tag before = tag_at(st, b - 8);
        if (before == TAG_FREE) {
            uint64_t psize = rd(st, b - 16);
            prev = b - psize;
            if (psize < MIN_BLOCK || psize > b - HDR_SIZE || tag_at(st, prev) != TAG_FREE ||
                rd(st, prev + OFF_SIZE) != psize)
                damage = "Tag Overwrite 1";
        } else if (before != TAG_USED) {
            damage = "Tag Overwrite 1";
        }
    }
    if (!damage) {
        Tag after = tag_at(st, b + size);
        if (tag_at(st, b + size - 8) != TAG_USED) {
            damage = "Tag Overwrite 2";
        } else if (after == TAG_FREE) {
            next = b + size;
            uint64_t nsize = rd(st, next + OFF_SIZE);
            if (nsize < MIN_BLOCK || nsize > st->heapEnd - next ||
                tag_at(st, next + nsize - 8) != TAG_FREE)
                damage = "Tag Overwrite 2";
        } else if (after != TAG_USED) {
            damage = "Tag Overwrite 2";
        }
    }
    if (damage) {
        box("INTERNAL DYNALLOC ERROR", damage);
        return;
    }

    if (prev) {
        unlink(st, prev);
        size += b - prev;
        b = prev;
    }
    if (next) {
        unlink(st, next);
        size += rd(st, next + OFF_SIZE);
    }
    wr(st, b + OFF_SIZE, size);
    wr(st, b + size - 16, size);
    uint64_t first = next_of(st, 0);
    wr(st, b + OFF_NEXT, first);
    wr(st, b + OFF_PREV, 0);
    wr(st, first + OFF_PREV, b);
    wr(st, OFF_NEXT, b);
    set_tag(st, b, TAG_FREE);
    set_tag(st, b + size - 8, TAG_FREE);
}

uint64_t heap_strdup(State* st, const char* s, size_t len) {
    uint64_t h = VMalloc(st, len + 1);
    if (!h) return 0;
    char* p = heap_ptr(st, h);
    text_copy(p, s, len);
    p[len] = 0;
    return h;
}

uint64_t heap_wstrdup(State* st, const wchar_t* s, size_t len) {
    uint64_t h = VMalloc(st, (len + 1) * sizeof(wchar_t));
    if (!h) return 0;
    wchar_t* p = heap_wptr(st, h);
    text_copy(p, s, len * sizeof(wchar_t));
    p[len] = 0;
    return h;
}

bool heap_check(State* st, char* why, size_t size) {
    auto fail = [&](const char* what, uint64_t off) {
        if (why && size) snprintf(why, size, "%s at offset %llu", what, (unsigned long long)off);
        return false;
    };
    if (!st || !st->heapBase) return fail("no heap", 0);
    if (tag_at(st, OFF_HDR_TAIL) != TAG_USED) return fail("header tail tag damaged", OFF_HDR_TAIL);
    if (st->heapEnd + 8 > st->heapCommitted) return fail("end marker beyond the committed size", st->heapEnd);

    // Physical walk: every block tagged, sized and followed by the next one.
    std::vector<uint64_t> freeBlocks;
    bool prevFree = false;
    uint64_t b = HDR_SIZE;
    while (b < st->heapEnd) {
        Tag head = tag_at(st, b);
        uint64_t bs = rd(st, b + OFF_SIZE);
        if (head == TAG_BAD) return fail("bad head tag", b);
        if (bs < MIN_BLOCK || bs > st->heapEnd - b) return fail("bad block size", b);
        if (tag_at(st, b + bs - 8) != head) return fail("tail tag differs from head tag", b);
        if (head == TAG_FREE) {
            if (rd(st, b + bs - 16) != bs) return fail("trailing size differs", b);
            if (prevFree) return fail("two adjacent free blocks", b);
            freeBlocks.push_back(b);
        }
        prevFree = head == TAG_FREE;
        b += bs;
    }
    if (b != st->heapEnd) return fail("blocks overrun the end marker", b);
    if (tag_at(st, b) != TAG_USED) return fail("end marker damaged", b);

    // Logical walk: the circular list holds exactly the free blocks.
    uint64_t expectPrev = 0, count = 0;
    for (uint64_t p = next_of(st, 0); p != 0; p = next_of(st, p)) {
        if (!std::binary_search(freeBlocks.begin(), freeBlocks.end(), p))
            return fail("free list links a block that is not free", p);
        if (prev_of(st, p) != expectPrev) return fail("broken previous link", p);
        if (++count > freeBlocks.size()) return fail("free list cycles", p);
        expectPrev = p;
    }
    if (prev_of(st, 0) != expectPrev) return fail("anchor's previous link is not the last block", 0);
    if (count != freeBlocks.size()) return fail("free block missing from the list", count);
    uint64_t r = rover(st);
    if (r && !std::binary_search(freeBlocks.begin(), freeBlocks.end(), r))
        return fail("rover is not a free block", r);
    return true;
}

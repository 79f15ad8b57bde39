// The key-string reader: turns "^+{F5}", "+a", "{ENTER 3}", "{*LSHIFT}{LEFT}"
// into key steps, one at a time.
//
//   +  ^  !     Shift, Ctrl, Alt held for the next key (they combine)
//   ~           the Enter key
//   {c}         the character c itself ({+} {^} {!} {~} {{} {}})
//   {NAME}      a key of the key-name table (keynames.h), any case
//   {NAME n}    that key, or the character, n times (below 1: nothing)
//   {*NAME}     a modifier held down for the next key
//   other       the character itself; a line end (CR LF, CR or LF) is one Enter
//
// A "{" without its "}", or a name that is not in the table, stops the string.
#pragma once
#include <cstdint>

namespace keys {

// Modifier keys a step presses, in the order they go down (they come up in the
// reverse order, except that the Alt keys are released before the key itself).
enum Mod : uint16_t {
    M_SHIFT = 1 << 0, M_LSHIFT = 1 << 1, M_RSHIFT = 1 << 2,
    M_CTRL = 1 << 3, M_LCTRL = 1 << 4, M_RCTRL = 1 << 5,
    M_LWIN = 1 << 6, M_RWIN = 1 << 7, M_APPS = 1 << 8,
    M_ALT = 1 << 9, M_LALT = 1 << 10, M_RALT = 1 << 11,
    M_ALTS = M_ALT | M_LALT | M_RALT,
};

// The modifier keys in the order they go down, with their virtual-key numbers.
struct ModKey {
    uint16_t mod;
    uint8_t  vk;
};
extern const ModKey kModKeys[12];
// The modifier bit of a modifier key's virtual-key number (0 for other keys).
uint16_t mod_of_vk(uint8_t vk);

struct KeyStep {
    uint16_t mods;       // from the prefixes and the held ("*") modifiers
    uint8_t  vk;         // the key; 0 when the step is a character
    bool     extended;   // sent as an extended key whatever its number says
    wchar_t  ch;         // the character of a character step
    int64_t  count;      // how many times (below 1: not at all)
};

enum class Parse { Step, End, Stop };

// Reads the next step at *p and moves *p past it. End: the string is used up
// (prefixes at the very end press nothing); Stop: an unclosed brace or an
// unknown name (*p is left at it).
Parse next_step(const wchar_t** p, KeyStep* out);

}  // namespace keys

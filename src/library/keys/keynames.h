// The key-name table: the names that key strings write in braces ({ENTER},
// {F5}, {NUMPAD7}, {*LSHIFT}) with their virtual-key numbers.
//
// The table is data shared by everything that reads key names: the keystroke
// functions (SendKey and its relatives) and the shortcuts of menu files
// ("^+{F5}" after a menu title). Entries are searched in table order, so where
// two names share a number (BS and BACKSPACE, ESC and ESCAPE) both are found
// and a number maps back to the first, longer name (key_name_of).
//
// Flags say what kind of key an entry is, so a reader can refuse kinds it has
// no use for (a menu shortcut cannot hold a modifier for the next key):
//   KN_MODIFIER  Shift, Ctrl, Alt, the Windows keys and the Application key,
//                plain or left/right
//   KN_HOLD      the "*" forms: the modifier is held down for the next key
//   KN_EXTENDED  sent as an extended key although its number alone would not
//                say so (the keypad Enter: Enter sent as an extended key)
//   KN_KEYPAD    a key of the numeric keypad
#pragma once
#include <cstddef>
#include <cstdint>

namespace keys {

enum : uint8_t { KN_MODIFIER = 1, KN_HOLD = 2, KN_EXTENDED = 4, KN_KEYPAD = 8 };

struct KeyName {
    const char* name;   // upper case, as written between the braces
    uint8_t     vk;     // virtual-key number
    uint8_t     flags;  // KN_*
};

// The 81 entries, in search order.
extern const KeyName kKeyNames[];
extern const size_t  kKeyNameCount;

// The entry named by `len` characters at `name` (ASCII letters in any case),
// or nullptr. Works on 8-bit and wide text alike.
const KeyName* key_name_find(const char* name, size_t len);
const KeyName* key_name_find(const wchar_t* name, size_t len);
// The first entry without KN_HOLD for a virtual-key number, or nullptr.
const KeyName* key_name_of(uint8_t vk);

}  // namespace keys

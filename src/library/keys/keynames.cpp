// The key-name table (see keynames.h).
#include "library/keys/keynames.h"

namespace keys {

const KeyName kKeyNames[] = {
    {"BACKSPACE", 8, 0},   {"BS", 8, 0},        {"CANCEL", 3, 0},    {"CAPSLOCK", 20, 0},  {"CLEAR", 12, 0},
    {"DELETE", 46, 0},     {"DEL", 46, 0},      {"DOWN", 40, 0},     {"END", 35, 0},       {"ENTER", 13, 0},
    {"ESCAPE", 27, 0},     {"ESC", 27, 0},      {"HELP", 47, 0},     {"HOME", 36, 0},      {"INSERT", 45, 0},
    {"INS", 45, 0},        {"LEFT", 37, 0},     {"NUMLOCK", 144, 0}, {"PAUSE", 19, 0},     {"PGDN", 34, 0},
    {"PGUP", 33, 0},       {"PRTSC", 44, 0},    {"RIGHT", 39, 0},    {"TAB", 9, 0},        {"UP", 38, 0},
    {"F1", 112, 0},        {"F2", 113, 0},      {"F3", 114, 0},      {"F4", 115, 0},       {"F5", 116, 0},
    {"F6", 117, 0},        {"F7", 118, 0},      {"F8", 119, 0},      {"F9", 120, 0},       {"F10", 121, 0},
    {"F11", 122, 0},       {"F12", 123, 0},     {"F13", 124, 0},     {"F14", 125, 0},      {"F15", 126, 0},
    {"F16", 127, 0},       {"SPACE", 32, 0},    {"SP", 32, 0},
    {"SHIFT", 16, KN_MODIFIER}, {"CTRL", 17, KN_MODIFIER}, {"MENU", 18, KN_MODIFIER}, {"ALT", 18, KN_MODIFIER},
    {"NUMPAD0", 96, KN_KEYPAD},  {"NUMPAD1", 97, KN_KEYPAD},  {"NUMPAD2", 98, KN_KEYPAD},
    {"NUMPAD3", 99, KN_KEYPAD},  {"NUMPAD4", 100, KN_KEYPAD}, {"NUMPAD5", 101, KN_KEYPAD},
    {"NUMPAD6", 102, KN_KEYPAD}, {"NUMPAD7", 103, KN_KEYPAD}, {"NUMPAD8", 104, KN_KEYPAD},
    {"NUMPAD9", 105, KN_KEYPAD}, {"NUMPAD*", 106, KN_KEYPAD}, {"NUMPAD+", 107, KN_KEYPAD},
    {"NUMPAD-", 109, KN_KEYPAD}, {"NUMPAD.", 110, KN_KEYPAD}, {"NUMPAD/", 111, KN_KEYPAD},
    {"NUMPAD~", 13, KN_KEYPAD | KN_EXTENDED},
    {"LALT", 164, KN_MODIFIER},     {"RALT", 165, KN_MODIFIER},   {"LCONTROL", 162, KN_MODIFIER},
    {"RCONTROL", 163, KN_MODIFIER}, {"LSHIFT", 160, KN_MODIFIER}, {"RSHIFT", 161, KN_MODIFIER},
    {"LWIN", 91, KN_MODIFIER},      {"RWIN", 92, KN_MODIFIER},    {"APPS", 93, KN_MODIFIER},
    {"*LALT", 164, KN_MODIFIER | KN_HOLD},     {"*RALT", 165, KN_MODIFIER | KN_HOLD},
    {"*LCONTROL", 162, KN_MODIFIER | KN_HOLD}, {"*RCONTROL", 163, KN_MODIFIER | KN_HOLD},
    {"*LSHIFT", 160, KN_MODIFIER | KN_HOLD},   {"*RSHIFT", 161, KN_MODIFIER | KN_HOLD},
    {"*LWIN", 91, KN_MODIFIER | KN_HOLD},      {"*RWIN", 92, KN_MODIFIER | KN_HOLD},
    {"*APPS", 93, KN_MODIFIER | KN_HOLD},
};
const size_t kKeyNameCount = sizeof kKeyNames / sizeof kKeyNames[0];
static_assert(sizeof kKeyNames / sizeof kKeyNames[0] == 81, "the key-name table has 81 names");

namespace {

template <class C>
const KeyName* find(const C* name, size_t len) {
    for (const KeyName& k : kKeyNames) {
        size_t i = 0;
        for (; i < len && k.name[i]; ++i) {
            C c = name[i];
            if (c >= 'a' && c <= 'z') c = static_cast<C>(c - 'a' + 'A');
            if (c != static_cast<C>(static_cast<unsigned char>(k.name[i]))) break;
        }
        if (i == len && !k.name[i]) return &k;
    }
    return nullptr;
}

}  // namespace

const KeyName* key_name_find(const char* name, size_t len) { return find(name, len); }
const KeyName* key_name_find(const wchar_t* name, size_t len) { return find(name, len); }

const KeyName* key_name_of(uint8_t vk) {
    for (const KeyName& k : kKeyNames)
        if (k.vk == vk && !(k.flags & KN_HOLD)) return &k;
    return nullptr;
}

}  // namespace keys

// Keyboard input injection: one key event, and one key step with its
// modifiers pressed and released in a fixed order.
#include "library/keys/keys_internal.h"
#include "loader.h"
#include "wait.h"

namespace keys {

namespace {

typedef UINT(WINAPI* SendInputFn)(UINT, LPINPUT, int);

// The system's input-injection service, when it has one.
SendInputFn injector() {
    static const SendInputFn fn = reinterpret_cast<SendInputFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SendInput")));
    return fn;
}

// Keys whose numbers lie outside these ranges are extended keys (navigation
// keys, Windows keys, keypad operators, left and right modifiers, Num Lock).
bool extended_vk(uint8_t vk) {
    return !((vk >= 8 && vk <= 32) || (vk >= 48 && vk <= 90) || (vk >= 112 && vk <= 135) ||
             (vk >= 186 && vk <= 192) || (vk >= 219 && vk <= 222));
}

void after_event(State* st, const Delivery& d) {
    if (d.console) return;
    pump_messages(st);
    pump_messages(st);
}

void key_event(State* st, uint8_t vk, bool up, bool extended, const Delivery& d) {
    const WORD scan = static_cast<WORD>(MapVirtualKeyExW(vk, MAPVK_VK_TO_VSC, d.layout));
    const DWORD flags = (extended || extended_vk(vk) ? KEYEVENTF_EXTENDEDKEY : 0) | (up ? KEYEVENTF_KEYUP : 0);
    if (SendInputFn send = injector()) {
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = vk;
        in.ki.wScan = scan;
        in.ki.dwFlags = flags;
        send(1, &in, sizeof in);
    } else {
        keybd_event(vk, static_cast<BYTE>(scan), flags, 0);
    }
    after_event(st, d);
}

// A character no key of the layout types, sent as itself.
void char_event(State* st, wchar_t ch, bool up, const Delivery& d) {
    if (SendInputFn send = injector()) {
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wScan = ch;
        in.ki.dwFlags = KEYEVENTF_UNICODE | (up ? KEYEVENTF_KEYUP : 0);
        send(1, &in, sizeof in);
    }
    after_event(st, d);
}

void modifiers(State* st, uint16_t mods, bool up, bool alts, const Delivery& d) {
    constexpr int n = sizeof kModKeys / sizeof kModKeys[0];
    for (int k = 0; k < n; ++k) {
        const ModKey& m = kModKeys[up ? n - 1 - k : k];
        if ((mods & m.mod) && ((m.mod & M_ALTS) != 0) == alts) key_event(st, m.vk, up, false, d);
    }
}

}  // namespace

bool send_step(State* st, const KeyStep& step, const Delivery& d) {
    uint16_t mods = step.mods;
    uint8_t vk = step.vk;
    bool unicode = false;
    if (!vk) {
        // The key and the Shift, Ctrl and Alt states the layout types the character with.
        const SHORT k = VkKeyScanExW(step.ch, d.layout);
        if (k == -1) {
            unicode = true;
        } else {
            vk = LOBYTE(k);
            const BYTE shifts = HIBYTE(k);
            mods |= (shifts & 1 ? M_SHIFT : 0) | (shifts & 2 ? M_CTRL : 0) | (shifts & 4 ? M_ALT : 0);
        }
    }
    for (int64_t n = 0; n < step.count; ++n) {
        if (n && stop_requested(st)) return false;
        modifiers(st, mods, false, false, d);
        modifiers(st, mods, false, true, d);
        if (unicode) char_event(st, step.ch, false, d);
        else key_event(st, vk, false, step.extended, d);
        modifiers(st, mods, true, true, d);   // Alt comes up before the key
        if (unicode) char_event(st, step.ch, true, d);
        else key_event(st, vk, true, step.extended, d);
        modifiers(st, mods, true, false, d);
    }
    return true;
}

}  // namespace keys

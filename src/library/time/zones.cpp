// Time zones: TimeZoneConvert (a moment from one zone to another) and
// TimeZoneList (the zones the system knows, by their registry key names).
//
// A zone's rules come from the system's dynamic time-zone services where it
// has them (the rules in force in the value's year), otherwise from the TZI
// value of the zone's registry key.
#include "library/time/timefuncs.h"
#include "value.h"
#include <cwchar>
#include <new>
#include <string>
#include <vector>

namespace {

const wchar_t kZonesKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Time Zones";

typedef DWORD(WINAPI* EnumDtzFn)(DWORD, DYNAMIC_TIME_ZONE_INFORMATION*);
typedef BOOL(WINAPI* TziForYearFn)(USHORT, DYNAMIC_TIME_ZONE_INFORMATION*, TIME_ZONE_INFORMATION*);
typedef DWORD(WINAPI* GetDtzFn)(DYNAMIC_TIME_ZONE_INFORMATION*);

// The dynamic time-zone services, looked up once per process.
struct DynamicZones {
    EnumDtzFn    enumerate = nullptr;
    TziForYearFn forYear = nullptr;
    GetDtzFn     current = nullptr;
    bool usable() const { return enumerate && forYear; }
};

const DynamicZones& dynamic_zones() {
    static const DynamicZones z = [] {
        DynamicZones d;
        if (HMODULE a = GetModuleHandleW(L"advapi32.dll"))
            d.enumerate = reinterpret_cast<EnumDtzFn>(reinterpret_cast<void*>(GetProcAddress(a, "EnumDynamicTimeZoneInformation")));
        if (HMODULE k = GetModuleHandleW(L"kernel32.dll")) {
            d.forYear = reinterpret_cast<TziForYearFn>(reinterpret_cast<void*>(GetProcAddress(k, "GetTimeZoneInformationForYear")));
            d.current = reinterpret_cast<GetDtzFn>(reinterpret_cast<void*>(GetProcAddress(k, "GetDynamicTimeZoneInformation")));
        }
        return d;
    }();
    return z;
}

// An open registry key, closed on every path.
class RegKey {
public:
    RegKey(HKEY root, const std::wstring& path) {
        if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &h_) != ERROR_SUCCESS) h_ = nullptr;
    }
    ~RegKey() { if (h_) RegCloseKey(h_); }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    HKEY get() const { return h_; }

private:
    HKEY h_ = nullptr;
};

// The layout of a zone key's TZI value.
#pragma pack(push, 4)
struct RegTzi {
    LONG       bias, standardBias, daylightBias;
    SYSTEMTIME standardDate, daylightDate;
};
#pragma pack(pop)
static_assert(sizeof(RegTzi) == 44);

// The rules of a zone named by its key name (any case) without the dynamic services.
bool registry_rules(const wchar_t* name, TIME_ZONE_INFORMATION* tzi) {
    if (wcschr(name, L'\\')) return false;   // a name, never a path into other keys
    RegKey key(HKEY_LOCAL_MACHINE, std::wstring(kZonesKey) + L"\\" + name);
    RegTzi r;
    DWORD type, size = sizeof r;
    if (!key.get() || RegQueryValueExW(key.get(), L"TZI", nullptr, &type, reinterpret_cast<BYTE*>(&r), &size) !=
                          ERROR_SUCCESS || size != sizeof r)
        return false;
    *tzi = {};
    tzi->Bias = r.bias;
    tzi->StandardBias = r.standardBias;
    tzi->DaylightBias = r.daylightBias;
    tzi->StandardDate = r.standardDate;
    tzi->DaylightDate = r.daylightDate;
    return true;
}

// Position of the zone key `name` (any case) among the zone keys, MAXDWORD when none.
DWORD zone_index(const wchar_t* name) {
    RegKey key(HKEY_LOCAL_MACHINE, kZonesKey);
    wchar_t sub[256];
    for (DWORD i = 0; key.get(); ++i) {
        DWORD len = 256;
        const LONG r = RegEnumKeyExW(key.get(), i, sub, &len, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r == ERROR_SUCCESS && _wcsicmp(sub, name) == 0) return i;
    }
    return MAXDWORD;
}

// The rules of zone `name` ("" or "local": the current zone) for `year`.
// 0, or the error: 1824 no such zone or no rules, 1825 the enumeration failed.
int zone_rules(const wchar_t* name, int64_t year, TIME_ZONE_INFORMATION* tzi) {
    const DynamicZones& dz = dynamic_zones();
    if (!*name || _wcsicmp(name, L"local") == 0) {
        if (dz.usable()) return dz.forYear(static_cast<USHORT>(year), nullptr, tzi) ? 0 : 1824;
        return GetTimeZoneInformation(tzi) != TIME_ZONE_ID_INVALID ? 0 : 1824;
    }
    if (!dz.usable()) return registry_rules(name, tzi) ? 0 : 1824;
    DYNAMIC_TIME_ZONE_INFORMATION d;
    // The services enumerate the registry's zone keys in the same order, and
    // some implementations re-walk the list for every index: try the index of
    // the registry's key of that name first, then walk the whole list.
    const DWORD hint = zone_index(name);
    if (hint != MAXDWORD && dz.enumerate(hint, &d) == ERROR_SUCCESS && _wcsicmp(d.TimeZoneKeyName, name) == 0)
        return dz.forYear(static_cast<USHORT>(year), &d, tzi) ? 0 : 1824;
    for (DWORD i = 0;; ++i) {
        const DWORD r = dz.enumerate(i, &d);
        if (r == ERROR_NO_MORE_ITEMS) return 1824;
        if (r != ERROR_SUCCESS) return 1825;
        if (_wcsicmp(d.TimeZoneKeyName, name) == 0) return dz.forYear(static_cast<USHORT>(year), &d, tzi) ? 0 : 1824;
    }
}

// The key names of the zones, in registry enumeration order. 0 or 1451, 1825, 1588.
int zone_names(std::vector<std::wstring>* names) {
    RegKey key(HKEY_LOCAL_MACHINE, kZonesKey);
    if (!key.get()) return 1451;
    try {
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD len = 256;
            const LONG r = RegEnumKeyExW(key.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr);
            if (r == ERROR_NO_MORE_ITEMS) break;
            if (r == ERROR_SUCCESS) names->emplace_back(name, len);
            else if (r != ERROR_MORE_DATA) break;   // a name no zone can have: passed over
        }
    } catch (const std::bad_alloc&) {
        return 1588;
    }
    return names->empty() ? 1825 : 0;
}

// The current zone's key name.
bool current_zone_name(wchar_t* out, size_t size) {
    const DynamicZones& dz = dynamic_zones();
    if (dz.current) {
        DYNAMIC_TIME_ZONE_INFORMATION d;
        if (dz.current(&d) == TIME_ZONE_ID_INVALID) return false;
        wcsncpy(out, d.TimeZoneKeyName, size - 1);
        out[size - 1] = 0;
        return true;
    }
    RegKey key(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\TimeZoneInformation");
    DWORD type, bytes = static_cast<DWORD>((size - 1) * sizeof(wchar_t));
    out[0] = 0;
    if (!key.get() || RegQueryValueExW(key.get(), L"TimeZoneKeyName", nullptr, &type, reinterpret_cast<BYTE*>(out),
                                       &bytes) != ERROR_SUCCESS || type != REG_SZ)
        return false;
    out[bytes / sizeof(wchar_t) < size ? bytes / sizeof(wchar_t) : size - 1] = 0;
    return true;
}

bool set_name_array(State* st, Cell* result, const std::vector<std::wstring>& names) {
    Cell arr;
    cell_init(&arr);
    if (CreateMyArray(st, &arr, static_cast<uint32_t>(names.size()), 0, 0, 0, 0, 0, 1) == 0xFFFFFFFF) return false;
    for (size_t i = 0; i < names.size(); ++i) {
        Cell c;
        cell_init(&c);
        if (!cell_set_wstr(st, &c, names[i].data(), names[i].size())) {
            cell_release(st, &arr, CM_BARE);
            return false;
        }
        cell_copy(st, arr_elem(arr.arr, static_cast<uint32_t>(i)), &c, CM_ELEMENT);   // the element takes the string
    }
    cell_release(st, result, CM_BARE);
    *result = arr;
    return true;
}

}  // namespace

// TimeZoneConvert(ymdhms, from [, to]): the same moment in the target zone
// (the current zone when `to` is omitted, empty or "local"). Four-digit years always.
void fn_timezoneconvert(State* st, int nargs, Cell* result, Cell* args, bool) {
    int64_t f[YF_COUNT];
    const char* text = cell_str(st, &args[1]);
    int colons = 0;
    for (const char* p = text; *p; ++p) colons += *p == ':';
    if (colons != 5 || !ymdhms_parse(text, f, YMD_FULL, false)) {
        st->err = 1020;
        return;
    }
    TIME_ZONE_INFORMATION from, to;
    int e = zone_rules(cell_wstr(st, &args[2]), f[YF_YEAR], &from);
    if (!e) e = zone_rules(nargs >= 3 ? cell_wstr(st, &args[3]) : L"", f[YF_YEAR], &to);
    SYSTEMTIME local = ymdhms_systemtime(f), utc, out;
    if (!e && (!TzSpecificLocalTimeToSystemTime(&from, &local, &utc) || !SystemTimeToTzSpecificLocalTime(&to, &utc, &out)))
        e = 1824;
    if (e) {
        st->err = static_cast<uint16_t>(e);
        return;
    }
    const int64_t r[YF_COUNT] = {out.wYear, out.wMonth, out.wDay, out.wHour, out.wMinute, out.wSecond};
    time_result(st, result, r, false);
}

// TimeZoneList([request]): 0 the zone key names separated by tabs, 1 an
// array of them, 2 the current zone's key name.
void fn_timezonelist(State* st, int nargs, Cell* result, Cell* args, bool) {
    const int request = nargs >= 1 ? args[1].i : 0;
    if (request == 2) {
        wchar_t name[128];
        if (!current_zone_name(name, 128)) st->err = 1825;
        else if (wcslen(name) > 63) st->err = 1425;
        else cell_set_wstr(st, result, name, wcslen(name));
        return;
    }
    if (request != 0 && request != 1) {
        st->err = 1825;
        return;
    }
    std::vector<std::wstring> names;
    if (const int e = zone_names(&names)) {
        st->err = static_cast<uint16_t>(e);
        return;
    }
    if (request == 1) {
        set_name_array(st, result, names);
        return;
    }
    std::wstring joined;
    try {
        for (const std::wstring& n : names) {
            if (!joined.empty()) joined += L'\t';
            joined += n;
        }
    } catch (const std::bad_alloc&) {
        st->err = 1588;
        return;
    }
    cell_set_wstr(st, result, joined.data(), joined.size());
}

// Drives: DiskExist, DiskFree, DiskSize, DiskVolInfo, DiskInfo, DiskScan.
// A drive is named by its letter ("C", "C:" or "C:\"), or by a directory
// path (a network share "\\server\share\" too).
#include "library/files/filelist.h"
#include <cwctype>
#include <vector>

namespace {

// The root of a drive argument ("C:\"), or the path itself with a final "\".
bool drive_root(const std::wstring& d, std::wstring* root) {
    if (d.empty()) return false;
    if (iswalpha(d[0]) && (d.size() == 1 || (d[1] == L':' && (d.size() == 2 || (d.size() == 3 && d[2] == L'\\'))))) {
        *root = std::wstring(1, static_cast<wchar_t>(towupper(d[0]))) + L":\\";
        return true;
    }
    const bool drivePath = d.size() >= 2 && iswalpha(d[0]) && d[1] == L':';
    if (!drivePath && d.compare(0, 2, L"\\\\") != 0) return false;
    *root = d;
    if (root->back() != L'\\') *root += L'\\';
    return true;
}

bool drive_exists(const std::wstring& root) {
    const UINT t = GetDriveTypeW(root.c_str());
    return t != DRIVE_NO_ROOT_DIR && t != DRIVE_UNKNOWN;
}

// Sum of free or total bytes over a list of drives.
void space(State* st, int nargs, Cell* result, Cell* args, bool total) {
    std::vector<std::wstring> names;
    if (!split_file_list(st, cell_wstr(st, &args[1]), &names)) return;
    uint64_t sum = 0;
    for (const std::wstring& n : names) {
        std::wstring root;
        if (!drive_root(n, &root)) {
            st->err = 1385;
            return;
        }
        ULARGE_INTEGER avail, all;
        DWORD oldMode = 0;
        const BOOL changed = SetThreadErrorMode(SEM_FAILCRITICALERRORS, &oldMode);
        const BOOL ok = GetDiskFreeSpaceExW(root.c_str(), &avail, &all, nullptr);
        if (changed) SetThreadErrorMode(oldMode, nullptr);
        if (!ok) {
            platform_error(st, "GetDiskFreeSpaceEx", GetLastError());
            st->err = drive_exists(root) ? 1468 : 1385;
            return;
        }
        sum += total ? all.QuadPart : avail.QuadPart;
    }
    size_result(st, result, sum, nargs >= 2 ? args[2].i : 0, true);
}

bool arg_root(State* st, const Cell* arg, std::wstring* root) {
    if (drive_root(cell_wstr(st, arg), root)) return true;
    st->err = 1385;
    return false;
}

}  // namespace

// DiskExist(drive): 1 when the drive exists.
void fn_diskexist(State* st, int, Cell* result, Cell* args, bool) {
    std::wstring root;
    cell_set_int(st, result, drive_root(cell_wstr(st, &args[1]), &root) && drive_exists(root) ? 1 : 0);
}

// DiskFree(drive-list [, format]) and DiskSize(drive-list [, format]).
void fn_diskfree(State* st, int nargs, Cell* result, Cell* args, bool) { space(st, nargs, result, args, false); }
void fn_disksize(State* st, int nargs, Cell* result, Cell* args, bool) { space(st, nargs, result, args, true); }

// DiskVolInfo(drive, request): 1 volume label, 2 file system name, 3 serial
// number, 4 longest name component, 5 file system flags.
void fn_diskvolinfo(State* st, int, Cell* result, Cell* args, bool wide) {
    std::wstring root;
    if (!arg_root(st, &args[1], &root)) return;
    const int request = args[2].i;
    if (request < 1 || request > 5) {
        st->err = 1470;
        return;
    }
    wchar_t label[MAX_PATH + 1] = L"", fs[MAX_PATH + 1] = L"";
    DWORD serial = 0, maxLen = 0, flags = 0;
    if (!GetVolumeInformationW(root.c_str(), label, MAX_PATH + 1, &serial, &maxLen, &flags, fs, MAX_PATH + 1)) {
        platform_error(st, "GetVolumeInformation", GetLastError());
        st->err = drive_exists(root) ? 1470 : 1385;
        return;
    }
    switch (request) {
    case 1: set_text_result(st, result, label, wide); break;
    case 2: set_text_result(st, result, fs, wide); break;
    case 3: cell_set_int(st, result, static_cast<int32_t>(serial)); break;
    case 4: cell_set_int(st, result, static_cast<int32_t>(maxLen)); break;
    default: cell_set_int(st, result, static_cast<int32_t>(flags)); break;
    }
}

// DiskInfo(drive, request): 1 sectors per cluster, 2 bytes per sector,
// 3 free clusters, 4 total clusters, 5 the drive type (GetDriveType).
void fn_diskinfo(State* st, int, Cell* result, Cell* args, bool) {
    std::wstring root;
    if (!arg_root(st, &args[1], &root)) return;
    const int request = args[2].i;
    if (request < 1 || request > 5) {
        st->err = 1469;
        return;
    }
    if (request == 5) {
        cell_set_int(st, result, static_cast<int32_t>(GetDriveTypeW(root.c_str())));
        return;
    }
    DWORD v[4] = {0, 0, 0, 0};
    if (!GetDiskFreeSpaceW(root.c_str(), &v[0], &v[1], &v[2], &v[3])) {
        platform_error(st, "GetDiskFreeSpace", GetLastError());
        st->err = drive_exists(root) ? 1469 : 1385;
        return;
    }
    cell_set_int(st, result, static_cast<int32_t>(v[request - 1]));
}

// DiskScan(request): the drives of the kinds the request's bits name (1
// removable, 2 fixed, 4 network, 8 CD-ROM, 16 RAM disk), as "C:" items
// joined by the file-list delimiter. 0 or more than 31 is 1522.
void fn_diskscan(State* st, int, Cell* result, Cell* args, bool wide) {
    const int request = args[1].i;
    if (request < 1 || request > 31) {
        st->err = 1522;
        return;
    }
    static const struct {
        int  bit;
        UINT type;
    } kKinds[] = {{1, DRIVE_REMOVABLE}, {2, DRIVE_FIXED}, {4, DRIVE_REMOTE}, {8, DRIVE_CDROM}, {16, DRIVE_RAMDISK}};
    const DWORD mask = GetLogicalDrives();
    const wchar_t delim = static_cast<wchar_t>(file_settings(st).listDelim);
    std::wstring out;
    for (int i = 0; i < 26; ++i) {
        if (!(mask & (1u << i))) continue;
        const wchar_t root[4] = {static_cast<wchar_t>(L'A' + i), L':', L'\\', 0};
        const UINT type = GetDriveTypeW(root);
        for (const auto& k : kKinds) {
            if ((request & k.bit) && type == k.type) {
                if (!out.empty()) out += delim;
                out.append(root, 2);
            }
        }
    }
    set_text_result(st, result, out, wide);
}

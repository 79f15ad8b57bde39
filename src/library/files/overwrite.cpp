// The overwrite confirmation (see overwrite.h).
#include "library/files/overwrite.h"
#include "library/files/internal.h"
#include "resources/resource.h"
#include <mmsystem.h>
#include <cstdio>

namespace {

// Last-write time to the second: the comparison is by date, then time.
uint64_t write_seconds(const WIN32_FILE_ATTRIBUTE_DATA& d) {
    ULARGE_INTEGER u;
    u.LowPart = d.ftLastWriteTime.dwLowDateTime;
    u.HighPart = d.ftLastWriteTime.dwHighDateTime;
    return u.QuadPart / 10000000ULL;
}

// "date  time  size bytes" of a file, in local time.
std::wstring info_line(const WIN32_FILE_ATTRIBUTE_DATA& d) {
    FILETIME local;
    SYSTEMTIME t{};
    FileTimeToLocalFileTime(&d.ftLastWriteTime, &local);
    FileTimeToSystemTime(&local, &t);
    ULARGE_INTEGER size;
    size.LowPart = d.nFileSizeLow;
    size.HighPart = d.nFileSizeHigh;
    wchar_t text[96];
    swprintf(text, 96, L"%04u:%02u:%02u  %02u:%02u:%02u  %llu bytes", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
             t.wSecond, static_cast<unsigned long long>(size.QuadPart));
    return text;
}

struct DialogData {
    const std::wstring* texts[4];   // target, target info, source, source info
};

INT_PTR CALLBACK warn_proc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG: {
        const DialogData* d = reinterpret_cast<const DialogData*>(lp);
        const int ids[4] = {IDC_FW_TARGET, IDC_FW_TARGETINFO, IDC_FW_SOURCE, IDC_FW_SOURCEINFO};
        for (int i = 0; i < 4; ++i) SetDlgItemTextW(dlg, ids[i], d->texts[i]->c_str());
        return TRUE;
    }
    case WM_COMMAND: {
        const int id = LOWORD(wp);
        if (id == IDCANCEL || (id >= IDC_FW_OVERWRITE && id <= IDC_FW_OLDERALL)) {
            EndDialog(dlg, id);
            return TRUE;
        }
        break;
    }
    }
    return FALSE;
}

// The user's choice: one of the IDC_FW_* ids or IDCANCEL. A host that answers
// boxes itself (a console runner) gets a Yes/No/Cancel box instead of the
// dialog: yes overwrites, no skips.
int ask(State* st, const std::wstring& targetName, const WIN32_FILE_ATTRIBUTE_DATA& td,
        const std::wstring& sourceName, const WIN32_FILE_ATTRIBUTE_DATA& sd) {
    const std::wstring target = absolute_or_given(targetName), source = absolute_or_given(sourceName);
    const std::wstring ti = info_line(td), si = info_line(sd);
    if (st->reportCb) {
        const std::wstring text = L"Replace file:\n" + target + L"\n" + ti + L"\nwith file:\n" + source + L"\n" + si;
        const std::string a = to_ansi(st, text.c_str(), text.size());
        const int answer = core_box(st, a.c_str(), "Confirm File Replace", MB_YESNOCANCEL | MB_ICONEXCLAMATION);
        return answer == IDYES ? IDC_FW_OVERWRITE : answer == IDNO ? IDC_FW_SKIP : IDCANCEL;
    }
    if (st->sounds) PlaySoundW(L"SystemExclamation", nullptr, SND_ALIAS | SND_ASYNC | SND_NODEFAULT);
    DialogData d{{&target, &ti, &source, &si}};
    HWND owner = st->ownerWnd ? st->ownerWnd : st->hostWnd;
    const INT_PTR r = DialogBoxParamW(g_hInst, L"FILEWARN", owner, warn_proc, reinterpret_cast<LPARAM>(&d));
    return r <= 0 ? IDCANCEL : static_cast<int>(r);   // no dialog: as cancelled
}

}  // namespace

OwAnswer overwrite_decide(State* st, Overwrite* state, const std::wstring& target, const std::wstring& source,
                          bool* missing) {
    *missing = false;
    WIN32_FILE_ATTRIBUTE_DATA td, sd;
    if (!GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &td)) return OwAnswer::Write;
    if (!GetFileAttributesExW(source.c_str(), GetFileExInfoStandard, &sd)) {
        *missing = true;
        return OwAnswer::Cancel;
    }
    const bool newer = write_seconds(sd) > write_seconds(td);
    auto by = [](bool write) { return write ? OwAnswer::Write : OwAnswer::Skip; };
    switch (*state) {
    case Overwrite::All: return OwAnswer::Write;
    case Overwrite::NewerAll: return by(newer);
    case Overwrite::OlderAll: return by(!newer);
    case Overwrite::Cancelled: return OwAnswer::Cancel;
    case Overwrite::Ask: break;
    }
    switch (ask(st, target, td, source, sd)) {
    case IDC_FW_OVERWRITE: return OwAnswer::Write;
    case IDC_FW_ALL: *state = Overwrite::All; return OwAnswer::Write;
    case IDC_FW_SKIP: return OwAnswer::Skip;
    case IDC_FW_NEWER: return by(newer);
    case IDC_FW_NEWERALL: *state = Overwrite::NewerAll; return by(newer);
    case IDC_FW_OLDER: return by(!newer);
    case IDC_FW_OLDERALL: *state = Overwrite::OlderAll; return by(!newer);
    default: *state = Overwrite::Cancelled; return OwAnswer::Cancel;
    }
}

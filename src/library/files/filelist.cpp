// File lists and destinations (see filelist.h).
#include "library/files/filelist.h"
#include "library/strings/wildcard.h"

bool split_file_list(State* st, const wchar_t* list, std::vector<std::wstring>* names) {
    const wchar_t delim = static_cast<wchar_t>(file_settings(st).listDelim);
    auto separator = [&](wchar_t c) { return c == L'\t' || c == L'|' || c == delim; };
    const wchar_t* p = list;
    while (*p) {
        while (*p && separator(*p)) ++p;
        const wchar_t* start = p;
        while (*p && !separator(*p)) ++p;
        if (p == start) continue;
        if (static_cast<size_t>(p - start) >= 32766) {
            st->err = 3054;
            return false;
        }
        names->emplace_back(start, static_cast<size_t>(p - start));
    }
    return true;
}

namespace {

bool matches_everything(const wchar_t* pat) { return wcscmp(pat, L"*") == 0 || wcscmp(pat, L"*.*") == 0; }

bool accept(State* st, const WIN32_FIND_DATAW& fd, const ListOptions& opt, const wchar_t* pat, bool recheck) {
    const bool dir = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (opt.kind == ListKind::Files && dir) return false;
    if (opt.kind == ListKind::Dirs) {
        if (!dir) return false;
        if (wcscmp(fd.cFileName, L".") == 0 || wcscmp(fd.cFileName, L"..") == 0) return false;
    }
    if (opt.hiddenRule && !file_settings(st).hidden &&
        (fd.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
        return false;
    if (recheck) {
        // The system's search also matches the short 8.3 aliases; the long
        // name must match the pattern itself.
        const size_t n = wcslen(fd.cFileName);
        if (wild_match(fd.cFileName, n, pat, wcslen(pat)) != n) return false;
    }
    return true;
}

}  // namespace

bool for_each_entry(State* st, const wchar_t* list, const ListOptions& opt,
                    const std::function<bool(const FoundEntry&)>& step) {
    std::vector<std::wstring> names;
    if (!split_file_list(st, list, &names)) return false;
    std::vector<FoundEntry> found;
    for (const std::wstring& name : names) {
        WidePath path;
        if (!file_long_path(st, name.c_str(), name.size(), &path)) return false;
        const size_t cut = name_start(path.str());
        const std::wstring dir = path.str().substr(0, cut);
        const std::wstring pat = path.str().substr(cut);
        if (pat.empty()) continue;
        const bool recheck = !matches_everything(pat.c_str()) && file_settings(st).noRecheck != 1;
        FoundEntry e;
        ScopedFind find(path.c_str(), &e.data);
        if (!find.ok()) continue;
        do {
            if (!accept(st, e.data, opt, pat.c_str(), recheck)) continue;
            e.dir = dir;
            e.path = dir + e.data.cFileName;
            found.push_back(e);
        } while (find.next(&e.data));
    }
    if (found.empty()) {
        if (opt.allowEmpty) return true;
        st->err = 1002;
        return false;
    }
    for (const FoundEntry& e : found)
        if (!step(e)) return false;
    return true;
}

bool names_exist(State* st, const wchar_t* list, bool dirs, int error) {
    std::vector<std::wstring> names;
    if (!split_file_list(st, list, &names)) return false;
    for (const std::wstring& n : names) {
        WidePath p;
        if (!file_long_path(st, n.c_str(), n.size(), &p)) return false;
        if (has_wildcards(p.c_str() + name_start(p.str()))) continue;
        const DWORD a = path_attributes(p.c_str());
        if (dirs ? !is_dir_attr(a) : !is_file_attr(a)) {
            st->err = static_cast<uint16_t>(error);
            return false;
        }
    }
    return true;
}

std::wstring derive_name(const std::wstring& name, const std::wstring& pattern) {
    auto split = [](const std::wstring& s, std::wstring* base, std::wstring* ext, bool* dot) {
        const size_t d = s.rfind(L'.');
        *dot = d != std::wstring::npos;
        *base = *dot ? s.substr(0, d) : s;
        *ext = *dot ? s.substr(d + 1) : L"";
    };
    auto part = [](const std::wstring& src, const std::wstring& pat) {
        std::wstring out;
        size_t i = 0;
        for (wchar_t c : pat) {
            if (c == L'*') {
                if (i < src.size()) out += src.substr(i);
                i = src.size();
            } else if (c == L'?') {
                if (i < src.size()) out += src[i];
                ++i;
            } else {
                out += c;
                ++i;
            }
        }
        return out;
    };
    std::wstring sb, se, pb, pe;
    bool sdot, pdot;
    split(name, &sb, &se, &sdot);
    split(pattern, &pb, &pe, &pdot);
    std::wstring out = part(sb, pb);
    if (pdot) {
        const std::wstring ext = part(se, pe);
        if (!ext.empty()) out += L"." + ext;
    }
    return out;
}

bool Destination::init(State* st, const wchar_t* dest) {
    WidePath path;
    if (!file_long_path(st, dest, wcslen(dest), &path)) return false;
    std::wstring d = path.str();
    if (!d.empty() && (d.back() == L':' || d.back() == L'\\' || d.back() == L'/')) d += L"*.*";
    else if (!has_wildcards(d.c_str() + name_start(d)) && is_dir_attr(path_attributes(d.c_str())))
        d += L"\\*.*";
    const size_t cut = name_start(d);
    dir_ = d.substr(0, cut);
    if (has_wildcards(d.c_str() + cut)) pattern_ = d.substr(cut);
    else single_ = d;
    return true;
}

std::wstring Destination::target(const std::wstring& name) const {
    if (pattern_.empty()) return single_;
    return dir_ + derive_name(name, pattern_);
}

bool same_file(const std::wstring& a, const std::wstring& b) {
    auto full = [](const std::wstring& p) {
        const std::wstring out = absolute_or_given(p);
        const size_t skip = WidePath::path_prefix(out.c_str());
        return skip == 4 ? out.substr(4) : out;
    };
    const std::wstring fa = full(a), fb = full(b);
    return CompareStringOrdinal(fa.c_str(), static_cast<int>(fa.size()), fb.c_str(), static_cast<int>(fb.size()),
                                TRUE) == CSTR_EQUAL;
}

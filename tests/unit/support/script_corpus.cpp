#include "support/script_corpus.h"
#include "support/repo.h"
#include <windows.h>
#include <algorithm>
#include <cctype>
#include <cstring>
#include <cstdio>

namespace {

// Calls a function that starts programs, sends keys or acts on windows
// (Run...(, ShellExecute...(, SendKey...(, Win...(, WindowOnTop(, App...(,
// Terminate...(): run with a failure injected or mutated, such a script would
// leave programs running, type into whatever has the focus, or wait for
// windows that never come.
bool drives_desktop(const std::string& text) {
    static const char* const kPrefixes[] = {"Run", "ShellExecute", "SendKey", "Win", "App", "Terminate"};
    for (const char* prefix : kPrefixes) {
        const size_t len = strlen(prefix);
        for (size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at + len)) {
            if (at > 0 && isalnum(static_cast<unsigned char>(text[at - 1]))) continue;
            size_t end = at + len;
            while (end < text.size() && isalpha(static_cast<unsigned char>(text[end]))) ++end;
            if (end < text.size() && text[end] == '(') return true;
        }
    }
    return false;
}

std::string args_of(const std::string& text) {
    std::string params;
    for (const std::string& line : split_lines(text)) {
        size_t a = line.find_first_not_of(" \t");
        if (a == std::string::npos || line[a] != ';') continue;
        a = line.find_first_not_of(" \t", a + 1);
        if (a == std::string::npos || line.compare(a, 5, "args:") != 0) continue;
        std::string rest = line.substr(a + 5);
        rest.erase(0, rest.find_first_not_of(" \t"));
        if (!rest.empty()) params += (params.empty() ? "" : " ") + rest;
    }
    return params;
}

}  // namespace

void collect_scripts(const std::string& dir, std::vector<CorpusScript>* out) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    std::vector<std::string> names;
    do {
        std::string name = fd.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        std::string full = dir + "\\" + name;
        DWORD attr = GetFileAttributesA(full.c_str());
        if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY)) {
            collect_scripts(full, out);
        } else if (name.size() > 4 && name.compare(name.size() - 4, 4, ".kel") == 0) {
            if (FILE* f = fopen(full.c_str(), "rb")) {
                std::string text;
                char buf[4096];
                size_t n;
                while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
                fclose(f);
                // Scripts that wait for keystrokes or dialogs are no use here,
                // nor scripts that drive the desktop.
                if (text.find("--dialogs") == std::string::npos && !drives_desktop(text))
                    out->push_back({full, text, args_of(text)});
            }
        }
    }
}

std::vector<CorpusScript> script_corpus() {
    std::vector<CorpusScript> corpus;
    const std::string repo = repo_dir();
    collect_scripts(repo + "\\tests\\scripts", &corpus);
    collect_scripts(repo + "\\examples", &corpus);
    return corpus;
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::string join_lines(const std::vector<std::string>& lines) {
    std::string s;
    for (const std::string& l : lines) s += l + "\r\n";
    return s;
}

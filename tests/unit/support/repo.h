// Where the repository lies, for tests that read its files (the script
// corpus, the export list): from this file's compile-time path, a Unix path
// that Wine reaches through drive Z:.
#pragma once
#include <string>

inline std::string repo_dir() {
    std::string p = __FILE__;
    for (char& c : p)
        if (c == '/') c = '\\';
    if (!p.empty() && p[0] == '\\') p = "Z:" + p;
    for (int i = 0; i < 4; ++i) p.resize(p.find_last_of('\\'));   // tests\unit\support\repo.h
    return p;
}

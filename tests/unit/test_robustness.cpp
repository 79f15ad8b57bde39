// Whole scripts through the host entries, many of them, malformed on purpose:
// the corpus of script tests and examples mutated line- and byte-wise, and
// lines drawn from a small grammar of the language's sore spots (nesting,
// recursion, long lines and strings, percent substitution, open multi-line
// constants, labels and jumps, definitions out of place, pointers, arrays).
// Each run must end (a per-statement budget stops loops that do not), must
// not crash, and must leave the string heap consistent.
//
// The seed is fixed so a failure reproduces; KEL_FUZZ_RUNS=N runs N scripts
// instead of the default, KEL_FUZZ_SEED=S starts from another seed. A script
// that hangs inside one statement or crashes the process is written to
// stderr (hang) or kept in kel_fuzz_last.kel in the temp folder (crash).
#include <gtest/gtest.h>
#include "kel.h"
#include "state.h"
#include "heap.h"
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

extern "C" int64_t DoDaDllInit(HWND, HGLOBAL, uint64_t, uint16_t, uint64_t, const char*, const char*);
extern "C" int ProcessDaBatBuffer(HWND, HGLOBAL, HGLOBAL, uint64_t, const KelFunction*);
extern "C" int64_t DLLServices(HGLOBAL, int, void*, void*, int64_t, int64_t);

namespace {

constexpr int kStatementBudget = 3000;     // statements per run before the stop
constexpr DWORD kHangMs = 20000;           // one run longer than this is a hang

// ---- the host side: StdOut and friends swallow their text; a per-line
// notification counts statements and stops the run at the budget ----------

std::atomic<int> g_statements{0};
int g_reports = 0;

int64_t fuzz_entry(HWND, void*, uint32_t, int32_t request, void* p1, KelServices* sv, void*, void*, int64_t,
                   void*) {
    if (request == -1) return ++g_statements > kStatementBudget ? 9012 : 0;
    if (request < 0) return 0;
    if (request == 2) {                    // stdin: an empty line
        KelValue v{};
        v.type = 2;
        v.str = "";
        return reinterpret_cast<KelAnswer>(p1)(0, 0, sv, &v);
    }
    return 0;
}

KelFunction host_fn(uint32_t code, uint64_t types, uint32_t required, const char* name) {
    KelFunction f{};
    f.code = code;
    f.cls = 2;
    f.argTypes = types;
    f.value = required;
    f.nameLen = static_cast<uint16_t>(strlen(name));
    memcpy(f.name, name, f.nameLen);
    return f;
}
const KelFunction kHostTable[] = {host_fn(0, 6, 1, "stdout"), host_fn(1, 6, 1, "stderr"), host_fn(2, 0, 0, "stdin"),
                                  KelFunction{}};

int count_report(void*, const KelReport*) {
    ++g_reports;
    return 0;                              // the default answer of each report
}

// ---- the watchdog: a run that outlives kHangMs is reported and ends the
// process (a stop request cannot reach a loop that never finishes a statement)

std::string       g_current;
std::atomic<DWORD> g_started{0};
std::atomic<bool>  g_running{false};

DWORD WINAPI watchdog(void*) {
    for (;;) {
        Sleep(200);
        if (g_running && GetTickCount() - g_started > kHangMs) {
            fprintf(stderr, "\n*** hang: this script did not finish ***\n%s\n*** end ***\n", g_current.c_str());
            fflush(stderr);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
}

std::string temp_path(const char* name) {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    return std::string(dir) + name;
}

// Blocks of the string heap marked in use, walked by their head tags and
// sizes from the end of the 80-byte header to the end marker.
int blocks_in_use(State* st) {
    int n = 0;
    for (uint64_t b = 80; b < st->heapEnd;) {
        uint64_t size;
        memcpy(&size, st->heapBase + b + 8, 8);
        if (memcmp(st->heapBase + b, "5678", 4) == 0) ++n;
        if (size == 0) break;
        b += size;
    }
    return n;
}

// One fresh interpreter state per script, built the way a host builds it.
class Runner {
public:
    Runner() {
        size_ = DoDaDllInit(nullptr, nullptr, KEL_INTERFACE_VERSION << 8, KEL_REQ_VERSION, 0, nullptr, nullptr);
        static HANDLE dog = CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr);
        (void)dog;
        last_ = temp_path("kel_fuzz_last.kel");
    }

    // Runs one script; false with `why` when the heap is inconsistent after
    // it or when blocks stay in use after the tear-down.
    bool run(const std::string& text, const std::string& name, std::string* why) {
        return run(std::vector<std::string>{text}, name, why);
    }

    // Runs the buffers one after the other on one state, as a host does:
    // variables, functions and arrays made by one are there for the next.
    bool run(const std::vector<std::string>& buffers, const std::string& name, std::string* why) {
        name_ = name;
        HGLOBAL state = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<SIZE_T>(size_));
        HGLOBAL vars = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 300 * 96);
        void* heap = VirtualAlloc(nullptr, 32 << 20, MEM_RESERVE, PAGE_READWRITE);
        DoDaDllInit(nullptr, state, 0, KEL_REQ_INIT, 0, nullptr, nullptr);
        DoDaDllInit(nullptr, state, reinterpret_cast<uint64_t>(vars), KEL_REQ_VARTABLE, 300, "Fuzz", "1");
        DoDaDllInit(nullptr, state, reinterpret_cast<uint64_t>(heap), KEL_REQ_HEAP, 32 << 20, nullptr, name_.c_str());
        DLLServices(state, KEL_SVC_REPORTER, reinterpret_cast<void*>(&count_report), nullptr, 0, 0);
        DLLServices(state, 60, nullptr, nullptr, HN_PERLINE, 1);

        std::string all;
        for (const std::string& b : buffers) all += b + "\r\n;---- next buffer ----\r\n";
        if (FILE* f = fopen(last_.c_str(), "wb")) {   // for a crash post mortem
            fwrite(all.data(), 1, all.size(), f);
            fclose(f);
        }
        g_current = all;
        bool ok = true;
        char buf[256] = "";
        for (const std::string& text : buffers) {
            HGLOBAL script = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, text.size() + 1);
            memcpy(GlobalLock(script), text.data(), text.size());
            GlobalUnlock(script);
            g_statements = 0;
            g_started = GetTickCount();
            g_running = true;
            ProcessDaBatBuffer(nullptr, state, script, reinterpret_cast<uint64_t>(&fuzz_entry), kHostTable);
            g_running = false;
            GlobalFree(script);
            lastErr = static_cast<int>(DLLServices(state, KEL_SVC_LASTERROR, nullptr, nullptr, 0, 0));
            auto* st = static_cast<State*>(GlobalLock(state));
            ok = heap_check(st, buf, sizeof buf);
            GlobalUnlock(state);
            if (!ok) {
                *why = buf;
                break;
            }
        }

        {
            auto* st = static_cast<State*>(GlobalLock(state));
            usedBeforeTeardown = blocks_in_use(st);
            GlobalUnlock(state);
        }
        int unregister = 0;
        DoDaDllInit(nullptr, state, 0, KEL_REQ_TEARDOWN, reinterpret_cast<uint64_t>(&unregister), nullptr, nullptr);
        if (ok) {
            auto* st = static_cast<State*>(GlobalLock(state));
            int used = blocks_in_use(st);
            GlobalUnlock(state);
            if (used > 0) {
                ok = false;
                *why = std::to_string(used) + " heap blocks still in use after the tear-down";
            }
        }
        GlobalFree(vars);
        GlobalFree(state);
        VirtualFree(heap, 0, MEM_RELEASE);
        return ok;
    }

    int lastErr = 0;                       // how the last run ended (DLLServices 4)
    int usedBeforeTeardown = 0;            // heap blocks in use after the last buffer

private:
    int64_t     size_ = 0;
    std::string name_, last_;
};

// ---- inputs -------------------------------------------------------------

// The directory of the repository, from this file's own compile-time path
// (a Unix path, reachable under Wine through drive Z:).
std::string repo_dir() {
    std::string p = __FILE__;
    for (char& c : p)
        if (c == '/') c = '\\';
    if (!p.empty() && p[0] == '\\') p = "Z:" + p;
    for (int i = 0; i < 3; ++i) p.resize(p.find_last_of('\\'));   // tests\unit\file
    return p;
}

struct Seed {
    std::string path, text;
};

// Starts programs, sends keys or calls a window function (Win...( ).
bool drives_desktop(const std::string& text) {
    if (text.find("RunShell") != std::string::npos || text.find("SendKey") != std::string::npos) return true;
    for (size_t at = text.find("Win"); at != std::string::npos; at = text.find("Win", at + 3)) {
        size_t end = at + 3;
        if (end >= text.size() || !isupper(static_cast<unsigned char>(text[end]))) continue;
        while (end < text.size() && isalpha(static_cast<unsigned char>(text[end]))) ++end;
        if (end < text.size() && text[end] == '(') return true;
    }
    return false;
}

void collect(const std::string& dir, std::vector<Seed>* out) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = fd.cFileName;
        if (name == "." || name == "..") continue;
        std::string full = dir + "\\" + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            collect(full, out);
        } else if (name.size() > 4 && name.compare(name.size() - 4, 4, ".kel") == 0) {
            if (FILE* f = fopen(full.c_str(), "rb")) {
                std::string text;
                char buf[4096];
                size_t n;
                while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
                fclose(f);
                // Scripts that wait for keystrokes or dialogs are no use here,
                // nor scripts that drive the desktop: mutated, they would leave
                // programs running, type into whatever has the focus, or wait
                // for windows that never come.
                if (text.find("--dialogs") == std::string::npos && !drives_desktop(text)) out->push_back({full, text});
            }
        }
    } while (FindNextFileA(h, &fd));
    FindClose(h);
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

class Generator {
public:
    explicit Generator(uint32_t seed) : rng_(seed) {}

    int pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
    bool chance(int percent) { return pick(100) < percent; }
    template <size_t N> const char* any(const char* const (&a)[N]) { return a[pick(N)]; }

    std::string var() {
        static const char* const names[] = {"a", "b", "x", "arr", "p", "s", "n", "i", "param0", "param1",
                                            "lasterror", "a_very_long_variable_name_beyond_thirty_chars"};
        return any(names);
    }

    std::string number() {
        static const char* const nums[] = {"0", "1", "-1", "2147483647", "-2147483648", "2147483648",
                                           "99999999999999999999999", "1.5", "1e308", "1e309", "-1e-320",
                                           "0x7fffffff", "0.", ".5", "1.2.3", "007", "4294967296"};
        return any(nums);
    }

    std::string literal() {
        switch (pick(6)) {
        case 0: return "\"" + std::string(pick(2) ? 2050 : 2047, 'q') + "\"";
        case 1: return "'unterminated";
        case 2: return "\"say \"\"hi\"\"\"";
        case 3: return "`back`";
        case 4: return "\"%" + var() + "%\"";
        default: return "\"text\"";
        }
    }

    std::string operand(int depth) {
        switch (pick(depth > 3 ? 4 : 9)) {
        case 0: return var();
        case 1: return number();
        case 2: return literal();
        case 3: return "@" + std::string(any({"true", "cancel", "off", "crlf", "pi", "nosuch", ""}));
        case 4: return "(" + expr(depth + 1) + (chance(85) ? ")" : "");
        case 5: return var() + "[" + expr(depth + 1) + (chance(50) ? ", " + expr(depth + 1) : "") +
                       (chance(85) ? "]" : "");
        case 6: return call(depth + 1);
        case 7: return std::string(any({"&", "*", "-", "!", "~", "+"})) + operand(depth + 1);
        default: return "\"#VAR$PTR#" + std::string(any({"", "0001", "zz", "00010002xx", "ffffffff|a"})) + "\"";
        }
    }

    std::string expr(int depth = 0) {
        static const char* const ops[] = {"+", "-", "*", "/", "mod", "**", ":", "==", "!=", "<", ">=", "&&",
                                          "||", "<<", ">>", "&", "|", "^", ",", "=", "+=", "::"};
        std::string e = operand(depth);
        int n = depth > 4 ? 0 : pick(4);
        for (int i = 0; i < n; ++i) e += std::string(" ") + any(ops) + " " + operand(depth + 1);
        return e;
    }

    std::string call(int depth) {
        static const char* const fns[] = {"ArrDimension", "ArrInfo", "Drop", "DropWild", "IsDefined", "VarType",
                                          "Decimals", "IntControl", "ErrorMode", "LastError", "ErrorEvent",
                                          "StdOut", "StdIn", "f", "g", "cmd", "?getviapointer", "?setviapointer",
                                          "Call", "NoSuchFunction"};
        std::string c = std::string(any(fns)) + "(";
        int n = pick(5);
        for (int i = 0; i < n; ++i) c += (i ? ", " : "") + expr(depth + 1);
        if (chance(90)) c += ")";
        return c;
    }

    // One or more physical lines.
    std::string line(int depth = 0) {
        switch (pick(34)) {
        case 0: return var() + " = " + expr();
        case 1: return "If " + expr() + (chance(50) ? " Then " + var() + " = 1" : "");
        case 2: return any({"Else", "ElseIf 1", "EndIf", "EndWhile", "Next", "EndSwitch", "EndSelect", "End",
                            "Case 1", "Default", "Then"});
        case 3: return "While " + std::string(chance(70) ? "i < 5" : expr());
        case 4: return "For " + var() + " = " + expr() + " To " + expr() + (chance(30) ? " By " + expr() : "");
        case 5: return "Switch " + expr();
        case 6: return "GoSub " + label();
        case 7: return "GoTo " + label();
        case 8: return ":" + label();
        case 9: return any({"Return", "Return 1", "Break", "Continue", "Exit", "Yield", "Return (1"});
        case 10: return "#DefineFunction " + std::string(any({"f(a)", "g(a, b)", "f(", "(x)", "f(a,a)", "1f()"}));
        case 11: return any({"#EndFunction", "#EndSubroutine", "#EndCommand", "#DefineSubroutine f(a)",
                             "#DefineCommand cmd(a, b)", "#DefineFunction", "#EndFunction extra"});
        case 12: return "Execute " + (chance(50) ? expr() : std::string(any({"\"If 1\"", "\"GoTo nowhere\"",
                                                                             "\"Return\"", "\"x = (\"",
                                                                             "\"Execute 'Execute 1'\""})));
        case 13: return var() + " = ArrDimension(" + std::string(any({"5", "0", "-1", "100000000", "65536, 65536",
                                                                     "1,1,1,1,1,1", "2147483647", "3, 3", "\"x\""})) +
                        ")";
        case 14: return var() + "[" + std::string(any({"-1", "5", "99", "1,2", "0", "\"a\"", "1.5", ""})) +
                        "] = " + expr();
        case 15: return "p = &" + var();
        case 16: return "*p = " + expr();
        case 17: return var() + " = *" + var();
        case 18: return "%" + var() + "%" + (chance(50) ? " = 1" : "");
        case 19: return "s = \"" + std::string(pick(4) * 700, '%') + "\"";
        case 20: return "x = " + std::string(2045 + pick(10), 'x');
        case 21: return "m = $\"open constant" + std::string(chance(50) ? " with # and : inside" : "");
        case 22: return "m = $\"two" + std::string("\r\nlines $\" : \"end\"");
        case 23: return std::string(pick(30) + 1, '(') + "1" + std::string(pick(30), ')');
        case 24: return "x = " + std::string(pick(3) * 300, '[') + "1";
        case 25: return call(0);
        case 26: return nest(depth + 1);
        case 27: return "ErrorMode(@OFF)";
        case 28: return "IntControl(" + std::string(any({"72", "73", "87", "0", "-1", "99999"})) + ", " +
                        expr() + ")";
        case 29: return "Drop(" + var() + ")";
        case 30: {                          // random bytes
            std::string s;
            int n = pick(40);
            for (int i = 0; i < n; ++i) s += static_cast<char>(1 + pick(255));
            return s;
        }
        case 31: return "Call(\"" + std::string(any({"", "nosuch.kel", "*.kel", "\\\\?\\x", "con"})) + "\", " +
                        expr() + ")";
        case 32: return "i = i + 1";
        default: return "ErrorEvent(" + expr() + ")";
        }
    }

    std::string label() { return any({"top", "sub", "a", "nowhere", "", "f", "123", "cancel", "wberrorhandler"}); }

    // Structures opened and mostly (not always) closed, nested to any depth.
    std::string nest(int depth) {
        static const char* const open[] = {"If 1", "While i < 3", "For k = 1 To 2", "Switch 1\r\nCase 1",
                                           "#DefineFunction h(a)", "GoSub sub"};
        static const char* const close[] = {"EndIf", "i = i + 1\r\nEndWhile", "Next", "EndSwitch", "#EndFunction",
                                            ""};
        int k = pick(6);
        std::string s = std::string(open[k]) + "\r\n";
        int inner = depth > 6 ? 1 : 1 + pick(3);
        for (int i = 0; i < inner; ++i) s += line(depth) + "\r\n";
        if (chance(85)) s += close[k];
        return s;
    }

    std::string script() {
        std::string s;
        if (chance(50)) {                  // a handler that resumes after every error: runs go deeper
            s += "#DefineFunction OnError(info)\r\nReturn 1\r\n#EndFunction\r\n"
                 "IntControl(73, 3, \"OnError\", 0, 0)\r\n";
        } else if (chance(70)) {
            s += "ErrorMode(@OFF)\r\n";
        }
        int n = 1 + pick(25);
        for (int i = 0; i < n; ++i) s += line() + "\r\n";
        return s;
    }

    // A corpus script changed a little: lines dropped, repeated, swapped or
    // taken from elsewhere, bytes flipped, the text cut short.
    std::string mutate(const std::string& text) {
        std::vector<std::string> lines = split_lines(text);
        int edits = 1 + pick(4);
        for (int e = 0; e < edits && !lines.empty(); ++e) {
            size_t at = static_cast<size_t>(pick(static_cast<int>(lines.size())));
            switch (pick(7)) {
            case 0: lines.erase(lines.begin() + static_cast<long>(at)); break;
            case 1: lines.insert(lines.begin() + static_cast<long>(at), lines[at]); break;
            case 2: std::swap(lines[at], lines[static_cast<size_t>(pick(static_cast<int>(lines.size())))]); break;
            case 3: lines.insert(lines.begin() + static_cast<long>(at), line()); break;
            case 4:
                if (!lines[at].empty()) lines[at][static_cast<size_t>(pick(static_cast<int>(lines[at].size())))] =
                        static_cast<char>(1 + pick(255));
                break;
            case 5: lines[at] = lines[at].substr(0, static_cast<size_t>(pick(static_cast<int>(lines[at].size()) + 1)));
                break;
            default: lines.resize(at + 1); break;
            }
        }
        return join_lines(lines);
    }

private:
    std::mt19937 rng_;
};

int env_int(const char* name, int fallback) {
    const char* v = getenv(name);
    return v && *v ? atoi(v) : fallback;
}

// Scripts that must end with a numbered error, not a crash or a hang:
// endless recursion of every kind of call, nesting past the stack's size.
const char* const kFixed[] = {
    "#DefineFunction f(a)\r\nReturn f(a + 1)\r\n#EndFunction\r\nf(1)\r\n",
    "#DefineSubroutine s(a)\r\ns(a)\r\n#EndSubroutine\r\ns(1)\r\n",
    ":top\r\nGoSub top\r\n",
    "#DefineFunction f(a)\r\nExecute f(a)\r\n#EndFunction\r\nf(1)\r\n",
    "#DefineFunction f(a)\r\nx = ArrDimension(10)\r\nx[0] = f(a)\r\nReturn x\r\n#EndFunction\r\nf(1)\r\n",
    "#DefineCommand c(a)\r\nc %a%\r\n#EndCommand\r\nc 1\r\n",
    "#DefineFunction f(a)\r\nWhile 1\r\nReturn f(a)\r\nEndWhile\r\n#EndFunction\r\nf(1)\r\n",
    "q = \"#VAR$PTR#ffffffff|zz\"\r\n*q = 1\r\n",
};

TEST(Robustness, FixedHardCasesEndCleanly) {
    Runner r;
    std::string why;
    // The leak count sees the blocks of live variables.
    ASSERT_TRUE(r.run(std::vector<std::string>{"s = \"abc\"", "t = s : s"}, "fixed.kel", &why)) << why;
    EXPECT_GE(r.usedBeforeTeardown, 2);
    for (const char* text : kFixed) {
        EXPECT_TRUE(r.run(text, "fixed.kel", &why)) << why << "\n" << text;
        // A numbered error, not a quiet end (Execute reports its failure
        // as a warning and goes on).
        if (!strstr(text, "Execute")) EXPECT_GT(r.lastErr, 0) << text;
    }
}

TEST(Robustness, RandomAndMutatedScriptsNeitherCrashNorHang) {
    g_heapBoxHook = [](const char*, const char*) {};   // the allocator's boxes: counted by heap_check instead
    std::vector<Seed> corpus;
    std::string repo = repo_dir();
    collect(repo + "\\tests\\scripts", &corpus);
    collect(repo + "\\examples", &corpus);
    EXPECT_GT(corpus.size(), 20u) << "corpus not found under " << repo;

    const uint32_t seed = static_cast<uint32_t>(env_int("KEL_FUZZ_SEED", 20240607));
    const int runs = env_int("KEL_FUZZ_RUNS", 900);
    Generator gen(seed);
    Runner r;
    int failures = 0, errors = 0, stopped = 0;
    for (int i = 0; i < runs && failures < 5; ++i) {
        std::string text, name = "fuzz.kel";
        int kind = gen.pick(10);
        if (kind < 4 && !corpus.empty()) {
            const Seed& s = corpus[static_cast<size_t>(gen.pick(static_cast<int>(corpus.size())))];
            text = gen.mutate(s.text);
            name = s.path;                 // relative #include and Call names resolve next to it
        } else if (kind < 5) {
            text = gen.nest(0) + "\r\n" + gen.nest(0);
        } else {
            text = gen.script();
        }
        // Most scripts run as a few buffers on one state, so values left by
        // one buffer meet the statements of the next.
        std::vector<std::string> buffers;
        std::vector<std::string> lines = split_lines(text);
        int parts = kind < 4 ? 1 : 1 + gen.pick(4);
        for (int p = 0; p < parts; ++p) {
            size_t from = lines.size() * static_cast<size_t>(p) / static_cast<size_t>(parts);
            size_t to = lines.size() * static_cast<size_t>(p + 1) / static_cast<size_t>(parts);
            buffers.push_back(join_lines(std::vector<std::string>(lines.begin() + static_cast<long>(from),
                                                                  lines.begin() + static_cast<long>(to))));
        }
        std::string why;
        if (!r.run(buffers, name, &why)) {
            ++failures;
            ADD_FAILURE() << "run " << i << " (seed " << seed << "): heap inconsistent: " << why << "\n" << text;
        }
        errors += r.lastErr != 0;
        stopped += g_statements > kStatementBudget;
    }
    // The inputs reach the interpreter's error paths, and most runs end
    // without the budget's help.
    EXPECT_GT(errors, runs / 4);
    EXPECT_LT(stopped, runs / 2);
    if (getenv("KEL_FUZZ_RUNS")) printf("%d runs: %d ended with an error, %d stopped by the budget\n", runs, errors, stopped);
}

}  // namespace

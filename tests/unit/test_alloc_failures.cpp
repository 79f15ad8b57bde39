// Allocation-failure injection over whole scripts (support/alloc_hooks.h):
// every script test and example, and generated scripts, run once to count
// their allocations of the string heap, of global memory and of the system
// heap, and then again with one chosen allocation failing. Each such run must
// end cleanly: no crash, no exception out of the library, consistent heaps,
// nothing held after the tear-down (support/script_host.h). And the failure
// must either leave no trace (a cache that simply does without) or be told:
// where the run first goes another way than without the failure, the error
// noted there is an out-of-memory error (3096, 1588, 1631, ... every message
// that says memory could not be had).
//
// Which allocations fail (KEL_INJECT):
//   sample (default) - every input counted first, then the first allocation
//                      of each call path (in the first input that has it),
//                      until KEL_INJECT_SECONDS (default 150) have passed, so
//                      the test suite stays short;
//   paths            - in every script, the first allocation of each of its
//                      call paths;
//   all              - every allocation of every script, N = 1, 2, 3, ...
//                      until the script runs through (tools/fuzz --inject).
// KEL_INJECT_GENERATED=N adds N generated scripts (default 60),
// KEL_INJECT_ONLY=text keeps only inputs whose path contains the text,
// KEL_INJECT_LIST=1 prints every site reached.
#include <gtest/gtest.h>
#include "support/alloc_hooks.h"
#include "support/sandbox.h"
#include "support/script_corpus.h"
#include "support/script_gen.h"
#include "support/script_host.h"
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const char* env_text(const char* name, const char* fallback) {
    const char* v = getenv(name);
    return v && *v ? v : fallback;
}

bool is_oom(int e) {
    if (e == kParamsRefused) return true;
    const std::vector<int>& v = out_of_memory_numbers();
    return std::find(v.begin(), v.end(), e) != v.end();
}

// Where the run with the failure first went another way, told by an
// out-of-memory error? Empty when yes (or when nothing changed).
std::string error_list(const std::vector<int>& errors) {
    std::string s;
    for (size_t i = 0; i < errors.size() && i < 12; ++i) s += (i ? " " : "") + std::to_string(errors[i]);
    return errors.size() > 12 ? s + " ..." : s;
}

std::string judge(const RunOutcome& base, const RunOutcome& run) {
    if (run == base) return std::string();
    size_t i = 0;
    while (i < run.errors.size() && i < base.errors.size() && run.errors[i] == base.errors[i]) ++i;
    if (i < run.errors.size()) {
        if (is_oom(run.errors[i])) return std::string();
        return "the first new error is " + std::to_string(run.errors[i]) + ", not an out-of-memory error (errors " +
               error_list(run.errors) + " against " + error_list(base.errors) + ")";
    }
    // An end the host reads (DLLServices 4) counts too: under @OFF a minor
    // error is only noted there.
    if (run.runErr != base.runErr && is_oom(run.runErr)) return std::string();
    std::string what = run.out != base.out ? "its output changed" : run.runErr != base.runErr ? "it ended otherwise"
                                                                                             : "it changed";
    return what + " without an out-of-memory error (errors noted: " + std::to_string(run.errors.size()) +
           " against " + std::to_string(base.errors.size()) + ", end " + std::to_string(run.runErr) + " against " +
           std::to_string(base.runErr) + ")";
}

// Allocations whose failure may change what a script sees without an error:
// the detail text of an error is a courtesy (the error itself is reported;
// its "More Error Information" is left out when no block can be had).
const char* const kCourtesies[] = {"err_detail"};

bool courtesy(uint32_t path) {
    const std::string text = inject::describe_path(path);
    for (const char* c : kCourtesies)
        if (text.compare(0, strlen(c), c) == 0) return true;
    return false;
}

struct Input {
    std::string name;     // for messages
    std::string path;     // main file name
    std::string text;
    std::string params;
};

struct Totals {
    long runs = 0, failures = 0, absorbed = 0, told = 0, notFired = 0, inputs = 0, unsteady = 0, skipped = 0;
    std::set<uint32_t> sites[inject::KINDS], paths[inject::KINDS];
    std::map<uint32_t, std::string> failedSites;   // site -> first failure
};

// One input counted: how it runs without a failure and where it allocates.
struct Prepared {
    const Input* in = nullptr;
    RunOutcome base;
    bool steady = false;     // two runs without a failure ended alike
    double seconds = 0;      // one run
    int statements = 0;      // statements it ran
    std::vector<uint32_t> paths[inject::KINDS];   // call path of each allocation, in order
};

// One planned failure: allocation n of `kind` in an input.
struct Plan {
    const Prepared* p;
    int kind;
    size_t n;
};

constexpr int kBudget = 20000;   // statements of a run without a failure

// What a crash or a terminate() was in the middle of.
std::string g_running;

void tell_crash(const char* what) {
    const inject::Fired f = inject::fired();
    fprintf(stderr, "\n*** %s during %s", what, g_running.c_str());
    if (f.fired) fprintf(stderr, " (failed at %s)", inject::describe_path(f.path).c_str());
    fprintf(stderr, " ***\n");
    fflush(stderr);
}

LONG WINAPI on_crash(EXCEPTION_POINTERS* e) {
    char what[64];
    snprintf(what, sizeof what, "exception %#lx", e && e->ExceptionRecord ? e->ExceptionRecord->ExceptionCode : 0ul);
    tell_crash(what);
    return EXCEPTION_CONTINUE_SEARCH;
}

class Injector {
public:
    Injector(Totals* t, Sandbox* sandbox) : t_(t), sandbox_(sandbox) {
        host_.armed = true;
        host_.budget = kBudget;
        SetUnhandledExceptionFilter(on_crash);
        std::set_terminate([] {
            tell_crash("terminate()");
            abort();
        });
    }

    // Runs the input without a failure: once unwatched (process-wide things
    // made on first use are made then, not inside a counted run), once
    // counting, once more to see whether it runs the same each time.
    bool prepare(const Input& in, Prepared* p) {
        std::string why;
        p->in = &in;
        host_.params = in.params;
        host_.armed = false;
        run(in, &why);
        host_.armed = true;
        inject::reset();
        inject::record_paths(true);
        const auto t0 = Clock::now();
        const bool clean = run(in, &why);
        p->seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        p->statements = host_.statements;
        inject::record_paths(false);
        ++t_->inputs;
        if (!clean) {
            fail(0, in, "without any failure: " + why);
            return false;
        }
        p->base = host_.outcome;
        for (int k = 0; k < inject::KINDS; ++k) p->paths[k] = inject::paths(k);
        inject::reset();
        run(in, &why);
        p->steady = host_.outcome == p->base;
        t_->unsteady += !p->steady;
        return true;
    }

    // The failures to try in one input: every allocation, or the first of
    // each call path (not yet planned anywhere, with `skip`).
    static void plan(const Prepared& p, bool every, std::set<uint32_t>* skip, std::vector<Plan>* out) {
        for (int k = 0; k < inject::KINDS; ++k) {
            std::set<uint32_t> seen;
            for (size_t n = 1; n <= p.paths[k].size(); ++n) {
                const uint32_t path = p.paths[k][n - 1];
                if (!every && !seen.insert(path).second) continue;
                if (skip && !skip[k].insert(path).second) continue;
                out->push_back({&p, k, n});
            }
        }
    }

    // One run with the planned allocation failing, and its checks.
    void inject(const Plan& pl) {
        const Prepared& p = *pl.p;
        const Input& in = *p.in;
        std::string why;
        host_.params = in.params;
        inject::reset();
        inject::fail_at(pl.kind, pl.n);
        g_running = in.name + ", " + inject::kind_name(pl.kind) + " allocation " + std::to_string(pl.n);
        // A failure may send the script round a loop for ever (a handler that
        // resumes after each error): twice its own statements stop it.
        host_.budget = std::min(kBudget, 2 * p.statements + 1000);
        const bool clean = run(in, &why);
        host_.budget = kBudget;
        ++t_->runs;
        const inject::Fired f = inject::fired();
        const std::string which = std::string(inject::kind_name(pl.kind)) + " allocation " + std::to_string(pl.n);
        if (!f.fired) {
            ++t_->notFired;
            if (!clean) fail(0, in, which + " (not reached): " + why);
            return;
        }
        t_->paths[pl.kind].insert(f.path);
        t_->sites[pl.kind].insert(inject::site_of(f.path));
        const std::string problem = !clean ? why : p.steady && !courtesy(f.path) ? judge(p.base, host_.outcome)
                                                                                : std::string();
        if (problem.empty()) {
            (host_.outcome == p.base ? t_->absorbed : t_->told)++;
            return;
        }
        fail(inject::site_of(f.path), in, which + " at " + inject::describe_path(f.path) + ": " + problem);
    }

private:
    // Every run starts from an empty scratch folder: a run that stopped half
    // way leaves files and folders that the next would trip over.
    bool run(const Input& in, std::string* why) {
        sandbox_->empty();
        return host_.run(in.text, in.path, why);
    }

    void fail(uint32_t site, const Input& in, const std::string& what) {
        ++t_->failures;
        if (site && t_->failedSites.count(site)) return;   // one report per site
        if (site) t_->failedSites[site] = what;
        ADD_FAILURE() << in.name << ": " << what;
    }

    Totals* t_;
    Sandbox* sandbox_;
    ScriptHost host_;
};

// ---- single sites ----------------------------------------------------------
// Places where an allocation failure once went wrong: each case fails the
// first allocation of its kind whose call path passes through `where`, in a
// small script (or a script of the corpus, named by its path).

struct SiteCase {
    const char* script;   // the text, or "tests\\..." for a corpus script
    int         kind;
    const char* where;    // functions on the call path, innermost first, "|" between
    int         nth = 1;  // the n-th allocation that passes there
    bool        removed = false;   // the work there needs no memory any more
    bool        unseen = false;    // the failure must leave no trace at all (a cache)
};

// Does the call path pass through `where` ("a|b": a in the first frame that
// is the interpreter's, b in the next)?
std::vector<std::string> split(const std::string& text, const std::string& sep) {
    std::vector<std::string> parts;
    for (size_t from = 0;;) {
        const size_t at = text.find(sep, from);
        parts.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos) return parts;
        from = at + sep.size();
    }
}

bool path_passes(uint32_t path, const std::string& where) {
    const std::string text = inject::describe_path(path);
    const std::vector<std::string> frames = split(text, " <- ");
    const std::vector<std::string> parts = split(where, "|");
    if (parts.size() == 1) return text.find(where) != std::string::npos;
    for (size_t i = 0; i < parts.size(); ++i)
        if (i >= frames.size() || frames[i].find(parts[i]) == std::string::npos) return false;
    return true;
}

const char kLabelHandler[] =
    "IntControl(73, 1, 0, 0, 0)\r\nx = 1 / 0\r\nStdOut(\"not here\")\r\nExit\r\n:cxerrorhandler\r\n"
    "StdOut(cxerrortextstring)\r\n";
const char kFunctionHandler[] =
    "#DefineFunction OnErr(e)\r\nStdOut(\"error \" : e[0])\r\nReturn 1\r\n#EndFunction\r\n"
    "IntControl(73, 3, \"OnErr\", 0, 0)\r\nx = 1 / 0\r\nStdOut(\"after\")\r\n";

const char kLoop[] =
    "i = 0\r\ns = \"\"\r\n:top\r\ni = i + 1\r\ns = s : i\r\nIf i < 5 Then GoTo top\r\nStdOut(s)\r\n";

const SiteCase kSiteCases[] = {
    // Work buffers of built-in functions (C++ containers): 1588.
    {"x = StrTypeInfo(1023, -1)\r\n", inject::SYSTEM_HEAP, "fn_strtypeinfo"},
    {"x = TimeFormat(\"2024:01:02:03:04:05\", \"yyyy-MM-dd HH:mm\")\r\n", inject::SYSTEM_HEAP, "translate"},
    {"bb = BinaryAlloc(20)\r\nBinaryPokeStr(bb, 0, \"<a>x</a>\")\r\nt = BinaryTagInit(bb, \"<a>\", \"</a>\")\r\n",
     inject::SYSTEM_HEAP, "fn_binarytaginit"},
    {"DebugData(\"a name longer than a few\", \"and a value as long\")\r\n", inject::SYSTEM_HEAP, "fn_debugdata"},
    {"StdOut(ChrHexToUnicode(StrFill(\"4100\", 80)))\r\n", inject::SYSTEM_HEAP, "entry_call"},
    {"Call(\"nosuch.kel\", \"\")\r\n", inject::SYSTEM_HEAP, "call_script", 1, true},
    // The trace does without the record it could not write.
    {"DebugTrace(@on, \"t.txt\")\r\nx = 1\r\ny = x + 1\r\n", inject::SYSTEM_HEAP, "trace_write"},
    {"DebugTrace(@on, \"t.txt\")\r\nx = 1\r\ny = x + 1\r\n", inject::SYSTEM_HEAP, "trace_statement_text"},
    {"DebugTrace(@on, \"t.txt\")\r\nx = 1\r\ny = x + 1\r\n", inject::SYSTEM_HEAP, "trace_environment"},
    {"DebugTrace(@on, \"*DEBUGDATA*\")\r\nx = 1\r\n", inject::SYSTEM_HEAP, "TraceOut::flush", 1, true},
    // The line and token cache does without: the line is read again.
    {kLoop, inject::SYSTEM_HEAP, "line_store", 1, false, true},
    {kLoop, inject::SYSTEM_HEAP, "line_store", 3, false, true},
    {kLoop, inject::SYSTEM_HEAP, "tokens_record", 1, false, true},
    {kLoop, inject::SYSTEM_HEAP, "tokens_record", 5, false, true},
    {kLoop, inject::SYSTEM_HEAP, "lines_stale", 1, false, true},
    {kLoop, inject::SYSTEM_HEAP, "lines_of", 1, false, true},
    // The executor's own work buffers: 1588, with nothing left behind.
    {"tests\\scripts\\loading\\call_script.kel", inject::SYSTEM_HEAP, "dir_of|call_script", 1, true},
    {"x = 1\r\n", inject::SYSTEM_HEAP, "ProcessDaBatBuffer"},
    {"Call(\"nosuch.kel\", \"a b c d e f g h i j k l m n o p q r s t u v w x y z\")\r\n", inject::SYSTEM_HEAP,
     "split_words"},
    {"x = 1\r\n", inject::SYSTEM_HEAP, "lines_of", 2},
    {"#DefineCommand cmd a b\r\nx = a\r\n#EndCommand\r\ncmd \"a word long enough to need memory\" b\r\n",
     inject::SYSTEM_HEAP, "udf_command"},
    {"a = ArrDimension(2)\r\na[0] = 1\r\nForEach e In a\r\nx = e\r\nNext\r\n", inject::SYSTEM_HEAP,
     "do_foreach"},
    {"If 0\r\nx = $\"a\r\nb$\"\r\nEndIf\r\ny = 1\r\n", inject::SYSTEM_HEAP, "stmt_skip"},
    {"GoTo there\r\nx = 1\r\n:there\r\ny = 2\r\n", inject::SYSTEM_HEAP, "label_search"},
    {"n = 3\r\nFor i = 1 To %n%\r\nx = i\r\nNext\r\n", inject::SYSTEM_HEAP, "do_for"},
    {"a = ChrHexToUnicode(StrFill(\"4100\", 40))\r\nIf a == \"x\" Then x = 1\r\n", inject::SYSTEM_HEAP,
     "read_side"},
    {"n = ChrHexToUnicode(StrFill(\"3000\", 60) : \"3300\")\r\nx = StrFill(\"x\", n)\r\n", inject::SYSTEM_HEAP,
     "ansi_view"},
    {"x = 1 / 0\r\n", inject::SYSTEM_HEAP, "source_location", 1, true},
    {"Debug(-1)\r\nx = 1\r\n", inject::SYSTEM_HEAP, "line_loop|ProcessDaBatBuffer", 1, true},
    // Error handlers that cannot be given the error's variables or cannot be
    // started: the memory error is reported instead of being lost.
    {kLabelHandler, inject::STRING_HEAP, "err_set_vars"},
    {kLabelHandler, inject::GLOBAL_MEMORY, "CreateMyArray|err_set_vars"},
    {kLabelHandler, inject::SYSTEM_HEAP, "label_search|err_after_statement"},
    {kFunctionHandler, inject::STRING_HEAP, "err_set_vars"},
    {kFunctionHandler, inject::GLOBAL_MEMORY, "CreateMyArray|err_set_vars"},
    {kFunctionHandler, inject::GLOBAL_MEMORY, "udf_call|call_handler"},
    {kFunctionHandler, inject::SYSTEM_HEAP, "running_context_ready|udf_call"},
    {"ErrorMode(@OFF)\r\nx = ArrDimension(0, 1)\r\nStdOut(cxerrortextstring)\r\n", inject::STRING_HEAP,
     "err_set_vars"},
    {"ErrorMode(@OFF)\r\nErrorEvent(-1, 7001, \"minor\")\r\nStdOut(cxerrortextstring)\r\n", inject::STRING_HEAP,
     "err_set_vars"},
    {"#DefineFunction OnErr(e)\r\nStdOut(e[6])\r\nReturn 1\r\n#EndFunction\r\nIntControl(73, 3, \"OnErr\", 0, 0)\r\n"
     "StdOut(y)\r\n", inject::SYSTEM_HEAP, "err_detail"},
    // Families: memory trouble is 1588, not the function's own failure.
    {"DebugTrace(@on, \"t.txt\")\r\n", inject::SYSTEM_HEAP, "trace_block"},
    {"tests\\scripts\\binary\\compress.kel", inject::SYSTEM_HEAP, "fn_binarycomp"},
    {"tests\\scripts\\binary\\compress.kel", inject::SYSTEM_HEAP, "fn_binaryuncomp"},
    // Files: a setting whose text cannot be copied reports the memory error
    // instead of passing it off as a value it ignores; an array half filled
    // when memory ran out is released.
    {"IntControl(104, \";\", 0, 0, 0)\r\nStdOut(IntControl(104, @TAB, 0, 0, 0))\r\n", inject::STRING_HEAP, "ic_file_list_delim"},
    {"FilePut(\"a.txt\", \"x\")\r\nx = FileInfoToArray(\"*.txt\", 1)\r\n", inject::SYSTEM_HEAP,
     "absolute_or_given|info_array"},
    {"FilePut(\"a.txt\", \"x\")\r\nx = FileInfoToArray(\"*.txt\")\r\n", inject::SYSTEM_HEAP,
     "file_time_text|info_array", 2},
    // A handler function that cannot be started while an error of a
    // structure is handled (Else without If, under ErrorMode(@OFF)).
    {"#DefineFunction OnError(info)\r\nReturn 1\r\n#EndFunction\r\nIntControl(73, 3, \"OnError\", 0, 0)\r\n"
     "ErrorMode(@OFF)\r\nElse\r\ni = 1\r\nForEach w In 1\r\n", inject::SYSTEM_HEAP,
     "running_context_ready|udf_call|call_handler"},
    // A function's parameters that cannot be stored: the error is reported,
    // not taken for one reported inside the function.
    {"#DefineFunction f(a)\r\nReturn a\r\n#EndFunction\r\nx = f(\"text\")\r\n", inject::STRING_HEAP,
     "cell_copy|var_assign|udf_call"},
};

std::string script_text(const char* s) {
    if (strncmp(s, "tests\\", 6) != 0) return s;
    for (const CorpusScript& c : script_corpus())
        if (c.path.size() >= strlen(s) && c.path.compare(c.path.size() - strlen(s), strlen(s), s) == 0) return c.text;
    return std::string();
}

TEST(AllocFailures, KnownSitesFailCleanly) {
    ASSERT_TRUE(inject::install());
    Sandbox sandbox;
    ScriptHost host;
    host.armed = true;
    for (const SiteCase& c : kSiteCases) {
        SCOPED_TRACE(std::string(c.where) + " in " + c.script);
        const std::string text = script_text(c.script);
        ASSERT_FALSE(text.empty());
        std::string why;
        host.armed = false;                 // once for what is made on first use
        host.run(text, sandbox.dir() + "\\site.kel", &why);
        host.armed = true;
        inject::reset();
        inject::record_paths(true);
        const bool clean = host.run(text, sandbox.dir() + "\\site.kel", &why);
        inject::record_paths(false);
        if (!clean) {
            ADD_FAILURE() << "without a failure: " << why;
            continue;
        }
        const RunOutcome base = host.outcome;
        const std::vector<uint32_t> paths = inject::paths(c.kind);
        size_t n = 0;
        for (size_t i = 0, seen = 0; i < paths.size() && !n; ++i)
            if (path_passes(paths[i], c.where) && ++seen == static_cast<size_t>(c.nth)) n = i + 1;
        if (!n && c.removed) continue;
        if (!n) {
            std::string met;
            std::set<uint32_t> shown;
            for (uint32_t p : paths)
                if (shown.insert(p).second) met += "\n  " + inject::describe_path(p);
            ADD_FAILURE() << "no " << inject::kind_name(c.kind) << " allocation passes through " << c.where
                          << "; these do:" << met;
            continue;
        }
        inject::reset();
        inject::fail_at(c.kind, n);
        EXPECT_TRUE(host.run(text, sandbox.dir() + "\\site.kel", &why)) << why;
        EXPECT_TRUE(inject::fired().fired);
        if (c.unseen) EXPECT_TRUE(host.outcome == base) << inject::describe_path(inject::fired().path);
        else if (!courtesy(inject::fired().path))
            EXPECT_EQ(judge(base, host.outcome), "") << inject::describe_path(inject::fired().path);
    }
}

TEST(AllocFailures, EveryReachedAllocationFailsCleanly) {
    ASSERT_TRUE(inject::install());
    ASSERT_FALSE(out_of_memory_numbers().empty());
    Sandbox sandbox;
    const std::string mode = env_text("KEL_INJECT", "sample");
    ASSERT_TRUE(mode == "sample" || mode == "paths" || mode == "all") << "KEL_INJECT=" << mode;
    const double seconds = atof(env_text("KEL_INJECT_SECONDS", "150"));
    const int generated = atoi(env_text("KEL_INJECT_GENERATED", "60"));
    const std::string only = env_text("KEL_INJECT_ONLY", "");

    std::vector<Input> inputs;
    for (const CorpusScript& s : script_corpus()) {
        std::string params = s.params;
        for (size_t at; (at = params.find("{temp}")) != std::string::npos;) params.replace(at, 6, sandbox.dir());
        inputs.push_back({s.path.substr(s.path.find("\\tests\\") != std::string::npos ? s.path.find("\\tests\\") + 1
                                                                                       : s.path.find("\\examples\\") + 1),
                          s.path, s.text, params});
    }
    Generator gen(20240901);
    for (int i = 0; i < generated; ++i) {
        std::string text = i % 4 == 0 ? gen.deep_arrays() + gen.script() : i % 4 == 1 ? gen.deep_structures()
                                                                                     : gen.script();
        inputs.push_back({"generated script " + std::to_string(i + 1) + ":\n" + text, sandbox.dir() + "\\gen.kel",
                          text, ""});
    }
    if (!only.empty())
        inputs.erase(std::remove_if(inputs.begin(), inputs.end(),
                                    [&](const Input& in) { return in.name.find(only) == std::string::npos; }),
                     inputs.end());

    Totals t;
    Injector inj(&t, &sandbox);
    const auto start = Clock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
    std::deque<Prepared> prepared;
    if (mode == "sample") {
        // Breadth first: every input counted, then each call path failed
        // once (in the first input that has it), until the time is up.
        std::set<uint32_t> planned[inject::KINDS];
        std::vector<Plan> plans;
        for (const Input& in : inputs) {
            prepared.emplace_back();
            if (!inj.prepare(in, &prepared.back())) continue;
            if (prepared.back().seconds > 0.5) ++t.skipped;   // too slow for a bounded run
            else Injector::plan(prepared.back(), false, planned, &plans);
        }
        for (const Plan& pl : plans) {
            if (elapsed() > seconds) break;
            inj.inject(pl);
        }
    } else {
        for (const Input& in : inputs) {
            Prepared p;
            if (!inj.prepare(in, &p)) continue;
            std::vector<Plan> plans;
            Injector::plan(p, mode == "all", nullptr, &plans);
            for (const Plan& pl : plans) inj.inject(pl);
        }
    }
    const double secs = elapsed();

    std::set<uint32_t> allSites, allPaths;
    for (int k = 0; k < inject::KINDS; ++k) {
        allSites.insert(t.sites[k].begin(), t.sites[k].end());
        allPaths.insert(t.paths[k].begin(), t.paths[k].end());
    }
    printf("allocation-failure injection (%s): %ld of %zu inputs in %.0f s, %ld runs with a failure\n", mode.c_str(),
           t.inputs, inputs.size(), secs, t.runs);
    printf("  allocation sites reached and failed: %zu (string heap %zu, global memory %zu, system heap %zu); "
           "call paths %zu\n", allSites.size(), t.sites[0].size(), t.sites[1].size(), t.sites[2].size(),
           allPaths.size());
    printf("  failures absorbed %ld, told by an out-of-memory error %ld, not reached %ld; inputs not steady %ld, "
           "too slow %ld; faults %ld\n", t.absorbed, t.told, t.notFired, t.unsteady, t.skipped, t.failures);
    if (getenv("KEL_INJECT_LIST"))
        for (uint32_t s : allSites) printf("  site %s\n", inject::describe_site(s).c_str());
    EXPECT_GT(t.runs, 0);
}

}  // namespace

// Evaluator throughput: tokenizes and evaluates a mix of expressions many
// times on a real interpreter state and reports tokens per second.
//
//   bench_eval.exe [rounds]        (default 20000 rounds of the whole mix)
//
// A plain program, not a test: it prints numbers for people to compare
// between builds and asserts nothing about speed.
#include "eval.h"
#include "heap.h"
#include "tokenizer.h"
#include "value.h"
#include "owned_state.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

// Statement-level lines: assignments, arithmetic of every kind, strings,
// comparisons, array elements and constants.
const char* const kMix[] = {
    "i = i + 1",
    "x = (a * 3 + b) / 7 - a mod 5",
    "f = 1.5 * a + 2.25 / (b + 1.0)",
    "big = 2147483648 + a * 1000",
    "s = \"item\" : i : \",\" : a",
    "t = s == \"item1,5\" || a < b && b >= 3",
    "arr[i mod 10] = a + b",
    "y = arr[3] + arr[4] * 2",
    "z = (a << 3) | (b & 15) ^ ~a",
    "w = \"12\" + 30 - \"1.5\"",
    "k = @TRUE + @capslock * 2",
    "p = a ** 3 - b ** 2",
};
constexpr int kLines = sizeof kMix / sizeof kMix[0];

struct Bench : OwnedState {
    bool init() {
        if (!build(500, 64ull << 20)) return false;
        eval_state_init(st);
        return true;
    }

    void set_line(const char* text) {
        strncpy(st->line, text, LINE_BUF - 1);
        st->line[LINE_BUF - 1] = 0;
        st->prog = st->line;
        st->err = 0;
    }
    // Runs one line as the executor would; false when it failed.
    bool run(const char* text) {
        set_line(text);
        Cell r;
        cell_init(&r);
        bool ok = get_token(st) && ProcessSubExpression(st, &r, 1, 0, 0);
        cell_release(st, &r, CM_VARBOUND);
        return ok;
    }
    // Tokens of a line (end of line not counted).
    long count_tokens(const char* text) {
        set_line(text);
        long n = 0;
        while (get_token(st) && st->delimType != TK_EOL) n++;
        return n;
    }
};

double seconds_since(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, freq;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&freq);
    return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(freq.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
    const long rounds = argc > 1 ? atol(argv[1]) : 20000;
    Bench b;
    if (!b.init()) {
        fprintf(stderr, "bench_eval: could not set up a state\n");
        return 1;
    }
    const char* setup[] = {"i = 0", "a = 5", "b = 9", "arr = 0"};
    for (const char* line : setup)
        if (!b.run(line)) return fprintf(stderr, "bench_eval: \"%s\" failed: %d\n", line, b.st->err), 1;
    Cell arr;
    cell_init(&arr);
    if (CreateMyArray(b.st, &arr, 10, 0, 0, 0, 0, 0, 1) != 1 ||
        !var_assign(b.st, var_lookup(b.st, "arr"), &arr))
        return fprintf(stderr, "bench_eval: no array\n"), 1;
    cell_release(b.st, &arr, CM_BARE);
    for (const char* line : {"arr[3] = 1", "arr[4] = 2"}) b.run(line);

    long tokensPerRound = 0;
    for (const char* line : kMix) tokensPerRound += b.count_tokens(line);

    // Check the mix once, then time it.
    for (const char* line : kMix)
        if (!b.run(line)) return fprintf(stderr, "bench_eval: \"%s\" failed: %d\n", line, b.st->err), 1;

    // The tokenizer alone over the same lines, so the evaluator's own share shows.
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    for (long r = 0; r < rounds; r++)
        for (int k = 0; k < kLines; k++) b.count_tokens(kMix[k]);
    const double tokSecs = seconds_since(start);

    QueryPerformanceCounter(&start);
    for (long r = 0; r < rounds; r++) {
        b.run("i = 0");
        for (int k = 0; k < kLines; k++) b.run(kMix[k]);
    }
    const double secs = seconds_since(start);
    const double tokens = static_cast<double>(tokensPerRound + 3) * static_cast<double>(rounds);
    printf("bench_eval: %ld rounds x %d lines, %.0f tokens in %.3f s\n", rounds, kLines + 1, tokens, secs);
    printf("bench_eval: %.0f tokens/s evaluated, %.0f lines/s\n", tokens / secs,
           static_cast<double>(rounds) * (kLines + 1) / secs);
    printf("bench_eval: %.0f tokens/s tokenized only\n",
           static_cast<double>(tokensPerRound) * static_cast<double>(rounds) / tokSecs);
    return 0;
}

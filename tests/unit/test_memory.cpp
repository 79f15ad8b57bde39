// Memory stays flat under churn: a million iterations that build and drop
// strings and arrays leave the string heap no bigger than a short warm-up run
// did, with every block given back, and the process's private memory where it
// was. A leak of one block per iteration would show as megabytes here.
#include "fixture.h"
#include "kel.h"
#include <psapi.h>

namespace {

SIZE_T private_bytes() {
    PROCESS_MEMORY_COUNTERS_EX pmc{};
    pmc.cb = sizeof pmc;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof pmc);
    return pmc.PrivateUsage;
}

// Strings of growing and shrinking length, concatenation, string functions,
// arrays created, filled, copied, nested and dropped, a function call with
// local variables: every kind of value the heap and the array blocks hold.
std::string churn(int n) {
    return "#DefineFunction pick(arr, k)\n"
           "   t = arr[k mod 4] : \"-\" : k\n"
           "   Return t\n"
           "#EndFunction\n"
           "For i = 1 To " + std::to_string(n) + "\n"
           "   a = ArrDimension(4)\n"
           "   a[i mod 4] = StrFill(\"xy\", i mod 300) : i\n"
           "   b = ArrDimension(1)\n"
           "   b[0] = a\n"
           "   s = StrUpper(pick(a, i))\n"
           "Next\n"
           "done = i - 1\n"
           "Drop(s, a, b, i)\n";
}

using Memory = ScriptFixture;

TEST_F(Memory, StringAndArrayChurnLeavesTheHeapFlat) {
    ASSERT_EQ(Run(churn(20000)), 1) << st->err;
    ASSERT_NE(VarCell("done"), nullptr);
    ASSERT_EQ(VarCell("done")->i, 20000);
    ASSERT_TRUE(errors.empty());
    const uint64_t committed = st->heapCommitted;
    const uint64_t inUse = heap_bytes_in_use(st);
    const SIZE_T privateBefore = private_bytes();

    ASSERT_EQ(Run(churn(1000000)), 1) << st->err;
    ASSERT_EQ(VarCell("done")->i, 1000000);
    char why[128];
    EXPECT_TRUE(heap_check(st, why, sizeof why)) << why;
    EXPECT_EQ(st->heapCommitted, committed);     // no growth of the region
    EXPECT_EQ(heap_bytes_in_use(st), inUse);     // every block came back
    // The process's own memory: the same within a margin for the system's
    // bookkeeping (a leak of one small block per iteration is 50 MB here).
    const SIZE_T privateAfter = private_bytes();
    EXPECT_LT(privateAfter, privateBefore + 4 * 1024 * 1024)
        << "private bytes grew from " << privateBefore << " to " << privateAfter;
}

}  // namespace

/* TkStrStr against the platform's case-insensitive search, over a long
 * text whose only match stands at its end. */
#include <windows.h>
#include <shlwapi.h>

#include <string>

#include "tools/util.h"
#include "bench_table.h"
#include "bench_timer.h"

namespace {

const size_t kBytes = 1 << 20;
const int kPasses = 7;

const char* volatile g_sink;

}  // namespace

int main()
{
    /* Letters of both cases with near misses of the key throughout. */
    std::string text;
    text.reserve(kBytes + 16);
    const char pattern[] = "The Velquor BENCH velquo result ";
    while (text.size() < kBytes)
        text += pattern;
    text += "VELQUOR-TARGET";
    const char key[] = "velquor-target";

    double ours = 0, platform = 0;
    for (int pass = 0; pass < kPasses; ++pass) {
        tkbench::KeepBest(ours, [&] { g_sink = TkStrStr(text.c_str(), key); });
        tkbench::KeepBest(platform, [&] { g_sink = StrStrIA(text.c_str(), key); });
    }
    if (TkStrStr(text.c_str(), key) != StrStrIA(text.c_str(), key))
        return 2;
    const double ratio = platform / ours;   /* our speed over the platform's */
    bool met = tkbench::Row("`TkStrStr`, 1 MiB, the match at the end", tkbench::Cell("%.0f MB/s", kBytes / ours / 1e6),
                            tkbench::Cell("`StrStrIA`, %.0f MB/s", kBytes / platform / 1e6),
                            tkbench::Cell("%.2f", ratio), "≥ 1.0", ratio >= 1.0);
    return met ? 0 : 1;
}

/* adler32 and crc32 of tools.dll against zlib's own, over 64 MiB, in one
 * run: the best of several interleaved passes of each. */
#include <stdio.h>
#include <stdlib.h>

#include <windows.h>
#include <zlib.h>

#include "bench_table.h"
#include "bench_timer.h"
#include "tools/util.h"

namespace {

const unsigned long kBytes = 64ul << 20;
const int kPasses = 7;

volatile unsigned long g_sink;

bool Report(const char* name, double tools, double zlib)
{
    double mb = kBytes / 1e6;
    double ratio = zlib / tools;   /* throughput of tools over that of zlib */
    return tkbench::Row(tkbench::Cell("`%s`, %lu MiB", name, kBytes >> 20), tkbench::Cell("%.0f MB/s", mb / tools),
                        tkbench::Cell("zlib direct, %.0f MB/s", mb / zlib), tkbench::Cell("%.3f", ratio), "≥ 0.97",
                        ratio >= 0.97);
}

}  // namespace

int main()
{
    unsigned char* data = static_cast<unsigned char*>(malloc(kBytes));
    if (!data) {
        printf("no memory for %lu bytes\n", kBytes);
        return 1;
    }
    for (unsigned long i = 0; i < kBytes; ++i)
        data[i] = static_cast<unsigned char>(i * 2654435761u >> 24);

    /* Ours take the length as unsigned long, zlib's as uInt: the type of the
     * last argument picks the function. */
    double toolsAdler = 0, zlibAdler = 0, toolsCrc = 0, zlibCrc = 0;
    for (int pass = 0; pass < kPasses; ++pass) {
        tkbench::KeepBest(toolsAdler, [&] { g_sink = adler32(1ul, data, kBytes); });
        tkbench::KeepBest(zlibAdler, [&] { g_sink = adler32(1ul, data, static_cast<uInt>(kBytes)); });
        tkbench::KeepBest(toolsCrc, [&] { g_sink = crc32(0ul, data, kBytes); });
        tkbench::KeepBest(zlibCrc, [&] { g_sink = crc32(0ul, data, static_cast<uInt>(kBytes)); });
    }
    bool met = Report("adler32", toolsAdler, zlibAdler);
    met = Report("crc32", toolsCrc, zlibCrc) && met;
    free(data);
    return met ? 0 : 1;
}

/* CProfile::QueryValue (integer form) against a bare
 * GetPrivateProfileStringA and strtol on the same file, in one run: the
 * best of several interleaved rounds of each. */
#include <stdio.h>
#include <stdlib.h>

#include <windows.h>

#include <string>

#include "bench_table.h"
#include "bench_timer.h"
#include "tools/profile.h"

namespace {

const int kReads = 400;
const int kRounds = 12;

using tkbench::Now;

volatile long g_sink;

template <typename F>
void Time(double& best, F read)
{
    double start = Now();
    for (int i = 0; i < kReads; ++i)
        g_sink = read();
    double seconds = Now() - start;
    if (best == 0 || seconds < best)
        best = seconds;
}

}  // namespace

int main()
{
    std::string name = "bench_profile_" + std::to_string(GetCurrentProcessId()) + ".ini";
    CProfile profile(name.c_str());
    std::string path = profile.Path();
    profile.Open("Bench");
    /* A file of a realistic size, the key of interest near its end. */
    for (int i = 0; i < 20; ++i)
        profile.SetValue(i, ("key" + std::to_string(i)).c_str());
    if (profile.SetValue(12345, "value") != S_OK) {
        printf("cannot write %s\n", path.c_str());
        return 1;
    }

    double ours = 0, bare = 0;
    for (int round = 0; round < kRounds; ++round) {
        Time(ours, [&] {
            int value = 0;
            profile.QueryValue(value, "value");
            return static_cast<long>(value);
        });
        Time(bare, [&] {
            char text[16];
            GetPrivateProfileStringA("Bench", "value", "0", text, sizeof text, path.c_str());
            return strtol(text, nullptr, 0);
        });
    }

    double ratio = bare / ours;   /* reads a second of CProfile over those of the bare calls */
    bool met = tkbench::Row("`CProfile::QueryValue` (integer)", tkbench::Cell("%.0f reads/s", kReads / ours),
                            tkbench::Cell("`GetPrivateProfileStringA` + `strtol`, %.0f reads/s", kReads / bare),
                            tkbench::Cell("%.3f", ratio), "≥ 0.9", ratio >= 0.9);

    double oursWrite = 0, bareWrite = 0;
    int n = 0;
    for (int round = 0; round < kRounds; ++round) {
        Time(oursWrite, [&] { return static_cast<long>(profile.SetValue(++n, "written")); });
        Time(bareWrite, [&] {
            char text[16];
            snprintf(text, sizeof text, "%d", ++n);
            return static_cast<long>(WritePrivateProfileStringA("Bench", "written", text, path.c_str()));
        });
    }
    DeleteFileA(path.c_str());
    ratio = bareWrite / oursWrite;
    met = tkbench::Row("`CProfile::SetValue` (integer)", tkbench::Cell("%.0f writes/s", kReads / oursWrite),
                       tkbench::Cell("`WritePrivateProfileStringA`, %.0f writes/s", kReads / bareWrite),
                       tkbench::Cell("%.3f", ratio), "≥ 0.9", ratio >= 0.9) && met;
    return met ? 0 : 1;
}

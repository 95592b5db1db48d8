/* CProfile::QueryValue (integer form) against a bare
 * GetPrivateProfileStringA and strtol on the same file, in one run: the
 * best of several interleaved rounds of each. */
#include <stdio.h>
#include <stdlib.h>

#include <windows.h>

#include <string>

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
    DeleteFileA(path.c_str());

    double ratio = bare / ours;   /* reads a second of CProfile over those of the bare calls */
    printf("[%s] Integer reads from %s, best of %d rounds of %d:\n", tkbench::Target(), name.c_str(), kRounds, kReads);
    printf("CProfile::QueryValue %8.0f reads/s   GetPrivateProfileStringA+strtol %8.0f reads/s   "
           "ratio %.3f (at least 0.9: %s)\n",
           kReads / ours, kReads / bare, ratio, ratio >= 0.9 ? "yes" : "NO");
    return ratio >= 0.9 ? 0 : 1;
}

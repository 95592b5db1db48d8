/* bench_table.h -- the row format of the one benchmark table.
 *
 * Every benchmark prints its results as Markdown rows of five cells: the
 * operation, its figure, the baseline measured in the same run with its
 * figure, the ratio in the sense the target states it, and the target with
 * whether the run met it. scripts/bench.sh gathers the rows of each target
 * under one header and keeps them in build/<target>/bench.md. */
#ifndef TOOLS_BENCH_BENCH_TABLE_H
#define TOOLS_BENCH_BENCH_TABLE_H

#include <stdarg.h>
#include <stdio.h>

#include <string>

namespace tkbench {

/* printf into a string, for one cell. */
inline std::string Cell(const char* format, ...)
{
    char text[160];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

/* A row with a baseline and a target. Returns whether the target was met. */
inline bool Row(const std::string& operation, const std::string& figure, const std::string& baseline,
                const std::string& ratio, const std::string& target, bool met)
{
    printf("| %s | %s | %s | %s | %s: %s |\n", operation.c_str(), figure.c_str(), baseline.c_str(),
           ratio.c_str(), target.c_str(), met ? "met" : "NOT met");
    return met;
}

/* A row that only reports. */
inline void Row(const std::string& operation, const std::string& figure, const std::string& baseline = "—")
{
    printf("| %s | %s | %s | — | — |\n", operation.c_str(), figure.c_str(), baseline.c_str());
}

}  // namespace tkbench

#endif

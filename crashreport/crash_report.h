/* crash_report.h -- crash reports (TkSetCrashReport, tools/runtime.h), as
 * the library's start and end see them. */
#ifndef TOOLS_CRASHREPORT_CRASH_REPORT_H
#define TOOLS_CRASHREPORT_CRASH_REPORT_H

namespace tk {

/* Turns reports off, as TkSetCrashReport(nullptr) does: TkTerminate's. */
void EndCrashReports();

}  // namespace tk

#endif

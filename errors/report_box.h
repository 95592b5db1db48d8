/* report_box.h -- what ReportError does, over a message box that tests can
 * stand in for. */
#ifndef TOOLS_ERRORS_REPORT_BOX_H
#define TOOLS_ERRORS_REPORT_BOX_H

#include <windows.h>

#include "tools/runtime.h"
#include "base/seam.h"

namespace tk {

struct ReportPlatform {
    int (WINAPI* messageBox)(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
};

extern const ReportPlatform kSystemReportPlatform;

Seam<ReportPlatform>& ReportSeam();

/* Shows e in a box captioned "Exception Error" and returns the box's
 * result. text is the caller's description; null selects the form without
 * one (ReportError(type)). */
int Report(CException& e, const char* text, unsigned type);

}  // namespace tk

#endif

/* The road of a fault: a division by zero, caught as CException*, its text,
 * the source line the library finds for it, and its report box. */
#include <stdio.h>

#include <windows.h>

#include "tools/runtime.h"
#include "tools/util.h"
#include "fault_report.h"

namespace {

volatile int g_zero = 0;

/* Out of line and opaque to the optimiser, so that the division happens
 * here, on a line of its own. */
__attribute__((noipa)) int Average(int sum, int count)
{
    return sum / count;
}

const char kWhat[] = "Averaging the samples";

/* The text that ReportError(kWhat, MB_YESNO) puts in its box, composed as
 * tools/runtime.h documents it, from the exception's text and the location
 * that the text leaves. */
void PrintBoxText(CException* e)
{
    char message[256];
    e->GetErrorMessage(message, sizeof message);
    char box[512];
    if (e->m_pszFile)
        snprintf(box, sizeof box, "%s(%d)\n\n\"%s\"\n%s", TkStrStr(e->m_pszFile, "Velquor"), e->m_nLine, kWhat,
                 message);
    else
        snprintf(box, sizeof box, "\"%s\"\n%s", kWhat, message);
    printf("  the report box (MB_YESNO) shows:\n----\n%s\nContinue?\n----\n", box);
}

}  // namespace

void ShowFaultReport(bool interactive)
{
    printf("\nThe road of a fault:\n");
    try {
        printf("  no fault: %d\n", Average(100, g_zero));
    } catch (CException* e) {
        char message[256];
        e->GetErrorMessage(message, sizeof message);
        printf("  caught code 0x%08lX: %s", static_cast<unsigned long>(*e), message);
        printf("  at %s line %d\n", e->m_pszFile ? e->m_pszFile : "(no source line found)", e->m_nLine);
        PrintBoxText(e);
        if (interactive) {
            int answer = e->ReportError(kWhat, MB_YESNO);
            printf("  the user answered %s\n", answer == IDYES ? "Yes" : answer == IDNO ? "No" : "nothing (no box)");
        }
        e->Delete();
    }
}

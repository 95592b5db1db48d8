/* The road of a fault: a division by zero two calls below the catch,
 * caught as CException*, its text, the source line the library finds for
 * it, its report box, and the call stack it was recorded with. */
#include <stdio.h>

#include <windows.h>

#include "tools/runtime.h"
#include "fault_report.h"

namespace {

volatile int g_zero = 0;

/* Out of line and opaque to the optimiser, so that the division happens
 * here, on a line of its own. */
__attribute__((noipa)) int Average(int sum, int count)
{
    return sum / count;
}

/* The mean of the first count samples. Inlined into its caller, it still
 * shows in the call stack as a call of its own. */
inline int MeanOfFirst(const int* samples, int count)
{
    int sum = 0;
    for (int i = 0; i < count; ++i)
        sum += samples[i];
    return Average(sum, count);
}

/* The mean of the rounds run so far, plus one for the round to come. */
__attribute__((noipa)) int NextRoundEstimate(int rounds)
{
    const int samples[3] = { 40, 30, 30 };
    return MeanOfFirst(samples, rounds < 3 ? rounds : 3) + 1;
}

const char kWhat[] = "Averaging the samples";

/* What the box showed, read by the timer below before it answers. */
char g_boxText[768];

/* Fires inside the box's modal loop: reads the box's text and presses Yes,
 * so that the demonstration shows the real box without waiting for a
 * user. */
void CALLBACK AnswerBox(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND box = FindWindowA("#32770", "Exception Error");
    if (!box)
        return;
    KillTimer(nullptr, timer);
    GetDlgItemTextA(box, 0xFFFF, g_boxText, sizeof g_boxText);
    PostMessageA(box, WM_COMMAND, IDYES, 0);
}

}  // namespace

void ShowFaultReport(bool interactive)
{
    printf("\nThe road of a fault:\n");
    try {
        /* No round has run yet, so the mean divides by zero. */
        printf("  no fault: %d\n", NextRoundEstimate(g_zero));
    } catch (CException* e) {
        char message[256];
        e->GetErrorMessage(message, sizeof message);
        printf("  caught code 0x%08lX: %s", static_cast<unsigned long>(*e), message);
        printf("  at %s line %d\n", e->m_pszFile ? e->m_pszFile : "(no source line found)", e->m_nLine);

        UINT_PTR timer = interactive ? 0 : SetTimer(nullptr, 0, 100, AnswerBox);
        int answer = e->ReportError(kWhat, MB_YESNO);
        if (timer)
            KillTimer(nullptr, timer);
        if (!interactive)
            printf("  the report box showed:\n----\n%s\n----\n  and was answered Yes by the program\n",
                   g_boxText);
        else
            printf("  the user answered %s\n", answer == IDYES ? "Yes" : answer == IDNO ? "No" : "nothing (no box)");
        char stack[4096];
        e->GetCallStack(stack, sizeof stack);
        printf("  its call stack, recorded at the fault:\n----\n%s----\n", stack);
        e->Delete();
    }
}

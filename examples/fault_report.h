/* fault_report.h -- the road of a fault, shown by the example host. */
#ifndef TOOLS_EXAMPLES_FAULT_REPORT_H
#define TOOLS_EXAMPLES_FAULT_REPORT_H

/* Divides by zero inside try, catches the CException*, and prints its code,
 * its text and its source location, then shows its report box (MB_YESNO).
 * When interactive is true the user answers the box and the answer is
 * printed; otherwise the program reads the box's text, prints it and
 * answers Yes itself, so that nothing waits for a user. Call it between
 * TkInitialize and TkTerminate, on the thread that called TkInitialize;
 * it needs a display (Xvfb will do). */
void ShowFaultReport(bool interactive);

#endif

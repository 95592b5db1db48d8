/* fault_report.h -- the road of a fault, shown by the example host. */
#ifndef TOOLS_EXAMPLES_FAULT_REPORT_H
#define TOOLS_EXAMPLES_FAULT_REPORT_H

/* Divides by zero inside try, catches the CException*, and prints its code,
 * its text, its source location and the text that its report box shows.
 * Only when interactive is true does it show the real box (MB_YESNO) and
 * print the user's answer; otherwise nothing waits for a user. Call it
 * between TkInitialize and TkTerminate, on the thread that called
 * TkInitialize. */
void ShowFaultReport(bool interactive);

#endif

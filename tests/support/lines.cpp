/* lines.cpp -- a library whose code faults on a line it names, for the
 * tests that find a fault's source line in a library: built with plain -g,
 * and once more stripped, its debug information in a file of its own. */
#include <windows.h>

extern "C" {

/* Divides; a divisor of 0 faults on the line that TkLinesDivideLine
 * names. */
__declspec(dllexport) __attribute__((noipa)) int TkLinesDivide(int a, int b) { return a / b; }
__declspec(dllexport) int TkLinesDivideLine() { return __LINE__ - 1; }

}

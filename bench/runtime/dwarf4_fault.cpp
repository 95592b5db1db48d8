/* A division compiled with DWARF 4, whose line Wine's debug-help library
 * finds itself. */
#include "dwarf4_fault.h"

volatile int g_dwarf4Zero = 0;

__attribute__((noinline)) int DivideInDwarf4(int a) { return a / g_dwarf4Zero; }

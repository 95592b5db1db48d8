/* dwarf4_fault.h -- a fault in code whose line tables are DWARF 4. */
#ifndef TOOLS_BENCH_DWARF4_FAULT_H
#define TOOLS_BENCH_DWARF4_FAULT_H

/* Divides a by zero. */
int DivideInDwarf4(int a);

#endif

/* handler_gate_code.cpp (i686) -- the gate's code and data, copied as one
 * block into the gate's page (faults/handler_gate.h): it finds its data
 * from its own address (call, pop), so it runs wherever it is copied.
 *
 * The entry counts the call in the current epoch's count, passes a
 * vectored handler's one argument on to the target when there is one
 * (which pops it, as the gate pops its own) and answers "continue the
 * search" when there is none, then takes the call off the count it was
 * counted in, whose address it keeps on the stack. The count drops before
 * the return, which runs in the gate's own page. */
__asm__(
    ".text\n"
    ".p2align 4\n"
    ".globl _tk_GateBegin\n"
    "_tk_GateBegin:\n"
    ".globl _tk_GateEpoch\n"
    "_tk_GateEpoch:\n"
    "    .long 0\n"
    ".globl _tk_GateInFlight\n"
    "_tk_GateInFlight:\n"
    "    .long 0, 0\n"
    ".globl _tk_GateTarget\n"
    "_tk_GateTarget:\n"
    "    .long 0\n"
    ".globl _tk_GateEntry\n"
    "_tk_GateEntry:\n"
    "    call 1f\n"
    "1:  popl %ecx\n"
    "    movl (_tk_GateEpoch - 1b)(%ecx), %eax\n"
    "    andl $1, %eax\n"
    "    leal (_tk_GateInFlight - 1b)(%ecx,%eax,4), %edx\n"
    "    lock incl (%edx)\n"
    "    pushl %edx\n"
    "    movl (_tk_GateTarget - 1b)(%ecx), %eax\n"
    "    testl %eax, %eax\n"
    "    jz 2f\n"
    "    pushl 8(%esp)\n"
    "    call *%eax\n"
    "    jmp 3f\n"
    "2:  xorl %eax, %eax\n"
    "3:  popl %edx\n"
    "    lock decl (%edx)\n"
    "    ret $4\n"
    ".globl _tk_GateEnd\n"
    "_tk_GateEnd:\n");

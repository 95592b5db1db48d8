/* handler_gate_code.cpp (x86_64) -- the gate's code and data, copied as one
 * block into the gate's page (faults/handler_gate.h): every reference in it
 * is relative to the instruction, so it runs wherever it is copied.
 *
 * The entry counts the call in the current epoch's count, calls the target
 * when there is one (a vectored handler's one argument stays in rcx) and
 * answers "continue the search" when there is none, then takes the call
 * off the count it was counted in, which it keeps in its own frame. Its one
 * stack operation, the shadow space and alignment of the call, is the
 * prologue that the gate's unwind information describes: 4 bytes, one
 * small allocation of 40. The count drops before the epilogue, which runs
 * in the gate's own page. */
__asm__(
    ".text\n"
    ".p2align 4\n"
    ".globl tk_GateBegin\n"
    "tk_GateBegin:\n"
    ".globl tk_GateEpoch\n"
    "tk_GateEpoch:\n"
    "    .long 0, 0\n"
    ".globl tk_GateInFlight\n"
    "tk_GateInFlight:\n"
    "    .long 0, 0\n"
    ".globl tk_GateTarget\n"
    "tk_GateTarget:\n"
    "    .quad 0\n"
    ".globl tk_GateEntry\n"
    "tk_GateEntry:\n"
    "    subq $40, %rsp\n"
    "    movl tk_GateEpoch(%rip), %eax\n"
    "    andl $1, %eax\n"
    "    movq %rax, 32(%rsp)\n"
    "    leaq tk_GateInFlight(%rip), %rdx\n"
    "    lock incl (%rdx,%rax,4)\n"
    "    movq tk_GateTarget(%rip), %rax\n"
    "    testq %rax, %rax\n"
    "    jz 1f\n"
    "    call *%rax\n"
    "    jmp 2f\n"
    "1:  xorl %eax, %eax\n"
    "2:  movq 32(%rsp), %rcx\n"
    "    leaq tk_GateInFlight(%rip), %rdx\n"
    "    lock decl (%rdx,%rcx,4)\n"
    "    addq $40, %rsp\n"
    "    ret\n"
    ".globl tk_GateEnd\n"
    "tk_GateEnd:\n");

/* fault_stub.cpp (i686) -- where a translated fault resumes.
 *
 * The thread resumes here with every register as it was at the fault. The
 * stub reserves the slot a call would have used, fills it with the faulting
 * address + 1 (the unwinder looks up the address before a return address,
 * which is then the faulting instruction itself) and jumps to
 * tk_RaiseTranslated, which the unwinder then sees as called by the faulting
 * instruction. eax, ecx and edx are free to use: no landing pad expects
 * caller-saved registers to survive a throw. */
__asm__(
    ".text\n"
    ".globl _tk_FaultStub\n"
    "_tk_FaultStub:\n"
    "    subl $4, %esp\n"
    "    call _tk_PendingReturnAddress\n"
    "    movl %eax, (%esp)\n"
    "    jmp _tk_RaiseTranslated\n");

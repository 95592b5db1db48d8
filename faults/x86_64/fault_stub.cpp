/* fault_stub.cpp (x86_64) -- where a translated fault resumes.
 *
 * The thread resumes here with every register as it was at the fault, and
 * the stub makes the faulting instruction look like a call of
 * tk_RaiseTranslated. Exceptions unwind through the system's unwind tables,
 * so the stub is a function with unwind information of its own:
 *
 *   - it reserves the slot that a call from the faulting frame would have
 *     pushed (the return address, filled in below with the faulting address
 *     + 1: the unwinder looks up the address before a return address, which
 *     is then the faulting instruction itself);
 *   - it saves rbp and makes it the frame register, so that the unwinder
 *     finds the slot from rbp whatever alignment the stack had at the fault
 *     (a frameless leaf faults with rsp 8 off a multiple of 16);
 *   - it aligns rsp to 16 bytes and leaves the 32 bytes of shadow space
 *     that the calling convention wants for each call.
 *
 * Only volatile registers change besides rbp, which the unwind information
 * restores: no landing pad expects a volatile register to survive a throw.
 * tk_RaiseTranslated never returns; int3 stops a thread that came back. */
__asm__(
    ".text\n"
    ".globl tk_FaultStub\n"
    ".def tk_FaultStub; .scl 2; .type 32; .endef\n"
    ".seh_proc tk_FaultStub\n"
    "tk_FaultStub:\n"
    "    subq $8, %rsp\n"
    "    pushq %rbp\n"
    "    .seh_pushreg %rbp\n"
    "    movq %rsp, %rbp\n"
    "    .seh_setframe %rbp, 0\n"
    "    .seh_endprologue\n"
    "    andq $-16, %rsp\n"
    "    subq $32, %rsp\n"
    "    call tk_PendingReturnAddress\n"
    "    movq %rax, 8(%rbp)\n"
    "    call tk_RaiseTranslated\n"
    "    int3\n"
    "    .seh_endproc\n");

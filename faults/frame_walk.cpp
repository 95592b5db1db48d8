/* frame_walk.cpp -- what both targets' frame walks share. */
#include "faults/frame_walk.h"
#include "faults/processor.h"

namespace tk {

namespace {

const void* g_personality;

}  // namespace

void LearnPersonality()
{
    HMODULE runtime = GetModuleHandleA("libstdc++-6.dll");
    g_personality = runtime ? reinterpret_cast<const void*>(GetProcAddress(runtime, arch::kCxxPersonality))
                            : nullptr;
}

bool OnThreadStack(DWORD_PTR address, size_t bytes)
{
/* GCC 12 takes the segment read of NtCurrentTeb for an access to an
 * empty array. */
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
    const NT_TIB* tib = reinterpret_cast<const NT_TIB*>(NtCurrentTeb());
#pragma GCC diagnostic pop
    return address >= reinterpret_cast<DWORD_PTR>(tib->StackLimit) &&
        address + bytes <= reinterpret_cast<DWORD_PTR>(tib->StackBase);
}

bool IsCxxPersonality(const void* routine)
{
    if (!routine || !g_personality)
        return false;
    if (routine == g_personality)
        return true;
    const void* const* slot = arch::ImportSlot(static_cast<const unsigned char*>(routine));
    return slot && *slot == g_personality;
}

}  // namespace tk

/* eh_table.h -- what the C++ runtime's personality routine would do with a
 * translated fault thrown through one frame, read from that frame's
 * language-specific data (the call-site and action tables that GCC emits
 * for every function with cleanups or catch clauses).
 *
 * The translator asks this before it throws: a frame whose throwing
 * address is missing from its call-site table makes the personality
 * routine call std::terminate, which a translated fault must never do. */
#ifndef TOOLS_FAULTS_EH_TABLE_H
#define TOOLS_FAULTS_EH_TABLE_H

#include <windows.h>

#include "frames/pointer_encoding.h"

namespace tk {

enum class FrameVerdict {
    kPasses,       /* no handler here: cleanups run, the search goes on */
    kCatches,      /* a catch clause takes a CRunTimeException* here */
    kTerminates    /* the address is not in the table, or a noexcept
                    * region ends the search: std::terminate */
};

/* The verdict for a CRunTimeException* thrown at pc (the throwing
 * instruction itself, or a call instruction of a caller) in a function that
 * starts at regionStart and whose language-specific data is lsda, read the
 * way GCC's C++ personality routine reads it. Data in an encoding it does
 * not read gives kPasses: the frame is then taken as today. */
FrameVerdict JudgeFrame(const unsigned char* lsda, DWORD_PTR regionStart, DWORD_PTR pc);

}  // namespace tk

#endif

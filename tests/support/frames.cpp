/* frames.cpp -- a library whose frames the naming tests name: a fault in a
 * call inlined into a call inlined into an exported function at -O2, and a
 * function that is not exported. Built with -g; once more stripped of its
 * debug information (its COFF symbols stay), and once stripped of every
 * symbol (its exports stay). */
namespace frames {

/* Each function on one line, with that line's number beside it. */
static inline __attribute__((always_inline)) int Leaf(int a, int b) { return a / b; } const int kLeaf = __LINE__;
static inline __attribute__((always_inline)) int Middle(int a, int b) { return Leaf(a, b) + a; } const int kMiddle = __LINE__;

/* Divides through Middle and Leaf; a divisor of 0 faults in Leaf. */
__declspec(dllexport) __attribute__((noinline)) int Outer(int a, int b) { return Middle(a, b) * 3; } const int kOuter = __LINE__;

/* Not exported: only DWARF and the COFF symbols name it. */
__attribute__((noinline)) int Hidden(int a) { return a * 7 + 1; }

}  // namespace frames

extern "C" {

/* The line of the division (0), of Leaf's call in Middle (1) and of
 * Middle's call in Outer (2). */
__declspec(dllexport) int TkFramesLine(int which)
{
    return which == 0 ? frames::kLeaf : which == 1 ? frames::kMiddle : frames::kOuter;
}

__declspec(dllexport) void* TkFramesHidden() { return reinterpret_cast<void*>(&frames::Hidden); }

}

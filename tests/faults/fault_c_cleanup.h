#ifndef TOOLS_TESTS_FAULT_C_CLEANUP_H
#define TOOLS_TESTS_FAULT_C_CLEANUP_H

#ifdef __cplusplus
extern "C" {
#endif

/* The cleanups that CallWithCleanup's frame ran. */
extern int g_cCleanups;

/* Returns f(a, b) from a frame of plain C whose local has a cleanup. */
int CallWithCleanup(int (*f)(int, int), int a, int b);

#ifdef __cplusplus
}
#endif

#endif

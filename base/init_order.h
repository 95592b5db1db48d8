/* init_order.h -- the order in which the library's process-wide objects are
 * made.
 *
 * Each subsystem defines its own objects beside its code; the priorities
 * here are the one place where their order is decided. They are made before
 * any other static object of the library, lowest number first, and destroyed
 * in the reverse order after the unload notification has run TkTerminate:
 * the shared exceptions first, as anything may throw them; then the list of
 * libraries kept for component objects, and the source-line lookup, both of
 * which TkTerminate empties. */
#ifndef TOOLS_BASE_INIT_ORDER_H
#define TOOLS_BASE_INIT_ORDER_H

#define TK_INIT_MEMORY_EXCEPTION 101
#define TK_INIT_RESOURCE_EXCEPTION 102
#define TK_INIT_NOT_IMPLEMENTED_EXCEPTION 103
#define TK_INIT_LOADED_LIBRARIES 104
#define TK_INIT_SYMBOL_LOOKUP 105

#endif

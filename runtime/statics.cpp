/* statics.cpp -- the shared exception objects. */
#include "base/init_order.h"
#include "runtime/statics.h"

namespace {

CMemoryException g_memory __attribute__((init_priority(TK_INIT_MEMORY_EXCEPTION)));
CResourceException g_resource __attribute__((init_priority(TK_INIT_RESOURCE_EXCEPTION)));
CNotImplementedException g_notImplemented __attribute__((init_priority(TK_INIT_NOT_IMPLEMENTED_EXCEPTION)));

}  // namespace

namespace tk {

CMemoryException& StaticMemoryException() { return g_memory; }
CResourceException& StaticResourceException() { return g_resource; }
CNotImplementedException& StaticNotImplementedException() { return g_notImplemented; }

}  // namespace tk

/* statics.h -- the exceptions thrown by reference to one process-wide
 * object, made when tools.dll is loaded (runtime/init_order.h). */
#ifndef TOOLS_RUNTIME_STATICS_H
#define TOOLS_RUNTIME_STATICS_H

#include "tools/runtime.h"

namespace tk {

CMemoryException& StaticMemoryException();
CResourceException& StaticResourceException();
CNotImplementedException& StaticNotImplementedException();

}  // namespace tk

#endif

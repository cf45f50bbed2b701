// Linux: glibc's malloc_trim also releases whole free pages inside the heap,
// not only at its top.

#include "platform/HeapTrim.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace qdipc {

void ReturnFreeHeapToSystem() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

}  // namespace qdipc

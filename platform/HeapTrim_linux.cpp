// Linux: glibc's malloc_trim also releases whole free pages inside the heap,
// not only at its top. Other C libraries keep their own policy.

#include "platform/HeapTrim.h"

#include <cstdlib>  // defines __GLIBC__ where glibc is the C library

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

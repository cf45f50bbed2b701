// Windows: the C runtime gives unused heap segments back to the system.

#include "platform/HeapTrim.h"

#include <malloc.h>

namespace qdipc {

void ReturnFreeHeapToSystem() {
    _heapmin();
}

}  // namespace qdipc

// Linux: the program links libvlc when it is built (Debian's libvlc5), so
// there is nothing to find or load at run time.

#include "platform/VlcRuntime.h"

namespace qdipc {

VlcRuntime LoadVlcRuntime() {
    VlcRuntime runtime;
    runtime.state = VlcRuntime::State::Linked;
    return runtime;
}

}  // namespace qdipc

#include "platform/Console.h"

namespace qdipc {

void UseParentConsole() {
    // A program started from a terminal has its streams already.
}

}  // namespace qdipc

// Linked into every GoogleTest program on Windows: the tests open sockets of
// their own, which Winsock allows only after WSAStartup. The program does this
// when its main window starts; a test program does it before main.

#include <cstdio>
#include <cstdlib>

#include "platform/UdpSocket.h"

namespace {

const bool kSocketLibraryStarted = [] {
    if (!qdipc::StartSocketLibrary()) {
        std::fputs("WSAStartup failed\n", stderr);
        std::exit(1);
    }
    return true;
}();

}  // namespace

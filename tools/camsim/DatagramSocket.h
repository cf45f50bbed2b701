#pragma once
// The simulator's UDP sockets: IPv4, allowed to broadcast.

#include <netinet/in.h>

#include <string>

#include "tools/camsim/Endpoint.h"

namespace camsim {

// A UDP socket with SO_BROADCAST set, and endpoint as a sockaddr_in in address.
// -1 with the reason in error when the address is not a dotted quad or no
// socket can be made.
int OpenDatagramSocket(const Endpoint& endpoint, sockaddr_in& address, std::string& error);

}  // namespace camsim

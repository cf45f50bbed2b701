#pragma once
// Reading the arrival interface out of a received datagram's control
// messages (IP_PKTINFO). Only a complete control message counts: when the
// kernel had to cut the control data (MSG_CTRUNC) or a header claims less
// room than an in_pktinfo takes, the interface is unknown (0), never a value
// read from bytes the kernel did not write.

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstring>

namespace qdipc {

inline std::uint32_t ArrivalInterfaceOf(msghdr& message) {
    if (message.msg_control == nullptr || (message.msg_flags & MSG_CTRUNC) != 0) {
        return 0;
    }
    for (cmsghdr* control = CMSG_FIRSTHDR(&message); control != nullptr;
         control = CMSG_NXTHDR(&message, control)) {
        if (control->cmsg_level == IPPROTO_IP && control->cmsg_type == IP_PKTINFO) {
            if (control->cmsg_len < CMSG_LEN(sizeof(in_pktinfo))) {
                return 0;
            }
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(control), sizeof info);
            return info.ipi_ifindex > 0 ? static_cast<std::uint32_t>(info.ipi_ifindex) : 0;
        }
    }
    return 0;
}

}  // namespace qdipc

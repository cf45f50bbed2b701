#include <errno.h>
#include <iconv.h>

#include "platform/TextDecoding.h"

namespace qdipc {

std::optional<std::string> Gb18030ToUtf8(std::string_view bytes) {
    // A converter per call: iconv descriptors carry state and are not to be
    // shared between threads.
    const iconv_t converter = iconv_open("UTF-8", "GB18030");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        return std::nullopt;
    }
    // A GB18030 character of one to four bytes is at most four UTF-8 bytes.
    std::string out(bytes.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char* outPos = out.data();
    std::size_t outLeft = out.size();
    // EILSEQ (an invalid sequence) and EINVAL (an incomplete one at the end)
    // both make the text not GB18030.
    const std::size_t result = iconv(converter, &in, &inLeft, &outPos, &outLeft);
    iconv_close(converter);
    if (result == static_cast<std::size_t>(-1) || inLeft != 0) {
        return std::nullopt;
    }
    out.resize(out.size() - outLeft);
    return out;
}

}  // namespace qdipc

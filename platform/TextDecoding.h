#pragma once
// Text in the cameras' legacy encoding, GB18030 (a superset of GBK, code page
// 936), as UTF-8 for output. TextDecoding_linux.cpp converts with iconv,
// TextDecoding_win.cpp with MultiByteToWideChar (code page 54936); CMake picks
// the file.

#include <optional>
#include <string>
#include <string_view>

namespace qdipc {

// The bytes read as GB18030, in UTF-8; nullopt when they are not valid
// GB18030 (an incomplete sequence at the end included) or the system has no
// converter for it.
std::optional<std::string> Gb18030ToUtf8(std::string_view bytes);

}  // namespace qdipc

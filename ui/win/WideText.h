#pragma once
// The one place where the window's texts cross between UTF-8 (the core's)
// and UTF-16 (the W functions of the Win32 API).

#include <string>
#include <string_view>

namespace qdipc::win {

// UTF-8 to UTF-16; a byte that is not UTF-8 becomes U+FFFD.
std::wstring Wide(std::string_view utf8);
// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf8(std::wstring_view wide);
// UTF-8 lines as an edit control or a tooltip breaks them: each "\n" as
// CR LF.
std::wstring WideLines(std::string_view utf8);

}  // namespace qdipc::win

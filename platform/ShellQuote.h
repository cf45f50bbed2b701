#pragma once
// Quoting of a word put into a command that the operator is told to paste
// (the diagnosis's fixes): a name the system or the network reports, such as
// an interface called "a$(id)b", stays one word and runs nothing.

#include <optional>
#include <string>
#include <string_view>

namespace qdipc {

// For a POSIX shell: the word as it is when it holds only letters, digits and
// "_-.,:/@%+=" (nothing a shell treats specially), else in single quotes,
// each ' written as '\''. An empty word is ''.
std::string ShellQuoted(std::string_view word);

// For cmd.exe: the word in double quotes. Nothing when it holds a character
// that cmd expands or ends a quote on even inside double quotes (" and %),
// or a control character: such a name cannot be written into a command
// that is safe to paste, and the caller says what to do instead.
std::optional<std::string> CmdQuoted(std::string_view word);

}  // namespace qdipc

#pragma once
// The program's options as CLI11 reads them. CLI11 matches the names, splits
// "--name=value", collects repeats and leftovers; the program's own checks
// (values, repeats, which options belong together) and their one-line
// messages stay with the callers, so every option keeps its exact wording.

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qdipc {

class OptionParser {
public:
    OptionParser();
    ~OptionParser();
    OptionParser(const OptionParser&) = delete;
    OptionParser& operator=(const OptionParser&) = delete;

    // names: "--list" or "-h,--help". A flag takes no value; a value option
    // takes exactly one (the next argument, or the text after "=", which may
    // be empty). Both may be given more than once: Count tells.
    void AddFlag(const std::string& names);
    void AddValue(const std::string& names);

    // Reads args (without the program's name). A fault in the form comes
    // back as its one-line message: "--wait needs a value", "--list takes no
    // value". A value option takes the next argument whatever it looks like
    // (--wait -5), as the user's own check of the value will tell. The first name of each option
    // ("--help" for "-h,--help") is the name the accessors take.
    std::optional<std::string> Parse(const std::vector<std::string>& args);

    // What was left over, reported once the values given are checked:
    // "unknown option '--x'" or "unexpected argument 'x'".
    std::optional<std::string> Leftover() const;

    // How often the option was given, and the value of its first time.
    int Count(const std::string& name) const;
    bool Given(const std::string& name) const { return Count(name) > 0; }
    std::string Value(const std::string& name) const;
    // The options in the order they were given (first names), once each.
    std::vector<std::string> Order() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qdipc

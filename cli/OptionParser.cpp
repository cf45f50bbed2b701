#include "cli/OptionParser.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <map>

#include "discovery/CellText.h"

namespace qdipc {
struct OptionParser::Impl {
    CLI::App app;
    std::map<std::string, CLI::Option*> options;  // by first name
    std::vector<std::string> flags;               // every name of every flag
};

OptionParser::OptionParser() : impl_(std::make_unique<Impl>()) {
    CLI::App& app = impl_->app;
    app.set_help_flag();  // --help is the program's own option
    app.allow_extras();   // unknown options and stray words come back to report
    app.allow_windows_style_options(false);
}

OptionParser::~OptionParser() = default;

void OptionParser::AddFlag(const std::string& names) {
    CLI::Option* option = impl_->app.add_flag(names)->disable_flag_override();
    impl_->options[option->get_name()] = option;
    for (const std::string& name : CLI::detail::split(names, ',')) {
        impl_->flags.push_back(name);
    }
}

void OptionParser::AddValue(const std::string& names) {
    CLI::Option* option = impl_->app.add_option(names)->expected(1)->multi_option_policy(
        CLI::MultiOptionPolicy::TakeAll);
    impl_->options[option->get_name()] = option;
}

std::optional<std::string> OptionParser::Parse(const std::vector<std::string>& args) {
    // CLI11 reads "--name=" as "--name" and takes the next argument; here
    // the value is the empty text, as given. A flag with "=" is refused by
    // its name.
    std::vector<std::string> split;
    for (const std::string& arg : args) {
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (equals != std::string::npos && name.size() > 1 && name[0] == '-') {
            if (std::find(impl_->flags.begin(), impl_->flags.end(), name) != impl_->flags.end()) {
                return EscapeControls(name) + " takes no value";
            }
            if (equals + 1 == arg.size() && impl_->options.count(name) != 0) {
                split.push_back(name);
                split.emplace_back();
                continue;
            }
        }
        split.push_back(arg);
    }
    // CLI11 takes the arguments last first.
    std::reverse(split.begin(), split.end());
    try {
        impl_->app.parse(split);
    } catch (const CLI::ArgumentMismatch& e) {
        // The one mismatch left: a value option at the end, or before
        // another option. CLI11 names it before a colon.
        const std::string what = e.what();
        const std::string name = what.substr(0, what.find(':'));
        if (impl_->options.count(name) != 0) {
            return name + " needs a value";
        }
        return EscapeControls(what);
    } catch (const CLI::ParseError& e) {
        return EscapeControls(e.what());
    }
    return std::nullopt;
}

std::optional<std::string> OptionParser::Leftover() const {
    const std::vector<std::string> extras = impl_->app.remaining();
    if (!extras.empty()) {
        const std::string& first = extras.front();
        if (!first.empty() && first[0] == '-') {
            return "unknown option " + QuotedText(first.substr(0, first.find('=')));
        }
        return "unexpected argument " + QuotedText(first);
    }
    return std::nullopt;
}

int OptionParser::Count(const std::string& name) const {
    const auto found = impl_->options.find(name);
    return found == impl_->options.end() ? 0 : static_cast<int>(found->second->count());
}

std::string OptionParser::Value(const std::string& name) const {
    const auto found = impl_->options.find(name);
    if (found == impl_->options.end() || found->second->results().empty()) {
        return {};
    }
    return found->second->results().front();
}

std::vector<std::string> OptionParser::Order() const {
    std::vector<std::string> order;
    for (const CLI::Option* option : impl_->app.parse_order()) {
        const std::string name = option->get_name();
        if (std::find(order.begin(), order.end(), name) == order.end()) {
            order.push_back(name);
        }
    }
    return order;
}

}  // namespace qdipc

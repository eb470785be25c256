#include "cli/CliOptions.h"

namespace velmora::cli {

namespace {

// Fills `target` from "--name=value" or "--name value"; false with `error` set when the value
// is missing, empty or given twice.
bool TakeValue(std::string_view name, const std::vector<std::string_view>& args, std::size_t& i,
               std::optional<std::string>& target, std::string& error) {
    const std::string_view arg = args[i];
    std::string_view value;
    if (arg.size() > name.size()) {
        value = arg.substr(name.size() + 1);  // after "="
    } else if (i + 1 < args.size()) {
        value = args[++i];
    } else {
        error = std::string(name) + " needs a value";
        return false;
    }
    if (value.empty()) {
        error = std::string(name) + " needs a value";
        return false;
    }
    if (target) {
        error = std::string(name) + " given twice";
        return false;
    }
    target = std::string(value);
    return true;
}

bool IsOption(std::string_view arg, std::string_view name) {
    return arg == name || (arg.size() > name.size() && arg.substr(0, name.size()) == name &&
                           arg[name.size()] == '=');
}

}  // namespace

ParseResult ParseOptions(const std::vector<std::string_view>& args) {
    Options options;
    std::optional<std::string> keyword;
    std::string error;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (arg == "--help" || arg == "-h")) {
            options.help = true;
        } else if (!optionsEnded && IsOption(arg, "--site")) {
            if (!TakeValue("--site", args, i, options.site, error)) return {std::nullopt, error};
        } else if (!optionsEnded && IsOption(arg, "--export")) {
            if (!TakeValue("--export", args, i, options.exportFile, error)) {
                return {std::nullopt, error};
            }
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            return {std::nullopt, "unknown option " + std::string(arg)};
        } else if (keyword) {
            return {std::nullopt, "one keyword only (quote a keyword with blanks)"};
        } else {
            keyword = std::string(arg);
        }
    }
    if (options.help) return {options, {}};
    if (!keyword) return {std::nullopt, "a keyword is needed"};
    options.keyword = std::move(*keyword);
    return {options, {}};
}

}  // namespace velmora::cli

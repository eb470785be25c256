#include "cli/CliOptions.h"

#include "journal/JournalFiles.h"
#include "platform/UserDirectories.h"
#include "search/DirectorySite.h"

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

// More digits than this cannot be a search's number (its type holds 18 at least).
constexpr std::size_t kMaxIdDigits = 18;

// A search's number as --history prints it, or "all" (0) where allowed; nothing otherwise.
std::optional<std::int64_t> ParseSearchId(std::string_view text, bool allowAll) {
    if (allowAll && text == "all") return 0;
    if (text.empty() || text.size() > kMaxIdDigits) return std::nullopt;
    std::int64_t id = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        id = id * 10 + (c - '0');
    }
    if (id == 0) return std::nullopt;
    return id;
}

// Each command and what goes with it. The search's option is its keyword.
struct CommandRule {
    Command command;
    const char* option;
    bool takesId;
    bool takesSite;  // and --parallel
    bool takesExport;
    bool takesNoJournal;
};
constexpr CommandRule kCommandRules[] = {
    {Command::kSearch, "KEYWORD", false, true, true, true},
    {Command::kHistory, "--history", false, false, false, false},
    {Command::kRows, "--rows", true, false, true, false},
    {Command::kResume, "--resume", true, true, true, false},
    {Command::kForget, "--forget", true, false, false, false},
};
constexpr const char* kOneCommand = "one of KEYWORD, --history, --rows, --resume, --forget";

}  // namespace

std::string Usage() {
    std::string usage(kUsage);
    const std::pair<std::string_view, std::string> places[] = {
        {"{settings}", ConfigFileDescription(kSettingsFileName)},
        {"{journal}", DataFileDescription(kJournalFileName)}};
    for (const auto& [placeholder, place] : places) {
        usage.replace(usage.find(placeholder), placeholder.size(), place);
    }
    return usage;
}

ParseResult ParseOptions(const std::vector<std::string_view>& args) {
    Options options;
    std::optional<std::string> keyword;
    const CommandRule* command = nullptr;
    std::optional<std::string> idText;
    std::string error;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        const CommandRule* named = nullptr;
        for (const CommandRule& rule : kCommandRules) {
            if (!optionsEnded && rule.command != Command::kSearch &&
                (rule.takesId ? IsOption(arg, rule.option) : arg == rule.option)) {
                named = &rule;
            }
        }
        if (named) {
            if (command && command != named) return {std::nullopt, kOneCommand};
            command = named;
            if (named->takesId && !TakeValue(named->option, args, i, idText, error)) {
                return {std::nullopt, error};
            }
        } else if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (arg == "--help" || arg == "-h")) {
            options.help = true;
        } else if (!optionsEnded && arg == "--no-journal") {
            options.noJournal = true;
        } else if (!optionsEnded && arg == "--clean") {
            options.clean = true;
        } else if (!optionsEnded && arg == "--dedupe") {
            options.dedupe = true;
        } else if (!optionsEnded && arg == "--only-new") {
            options.onlyNew = true;
        } else if (!optionsEnded && IsOption(arg, "--site")) {
            if (!TakeValue("--site", args, i, options.site, error)) return {std::nullopt, error};
        } else if (!optionsEnded && IsOption(arg, "--parallel")) {
            if (!TakeValue("--parallel", args, i, options.parallel, error)) {
                return {std::nullopt, error};
            }
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
    if (keyword && command) return {std::nullopt, kOneCommand};
    if (!keyword && !command) return {std::nullopt, "a keyword is needed"};
    if (keyword) command = &kCommandRules[0];

    options.command = command->command;
    if (command->takesId) {
        const std::optional<std::int64_t> id =
            ParseSearchId(*idText, command->command == Command::kForget);
        if (!id) {
            return {std::nullopt,
                    std::string(command->option) + " needs a search's ID, as --history lists it"};
        }
        options.searchId = *id;
    }
    // The lead options shape the rows a command puts out: those of the commands that export.
    const std::pair<bool, const char*> misplaced[] = {
        {options.site && !command->takesSite, "--site"},
        {options.parallel && !command->takesSite, "--parallel"},
        {options.exportFile && !command->takesExport, "--export"},
        {options.noJournal && !command->takesNoJournal, "--no-journal"},
        {options.clean && !command->takesExport, "--clean"},
        {options.dedupe && !command->takesExport, "--dedupe"},
        {options.onlyNew && !command->takesExport, "--only-new"}};
    for (const auto& [given, name] : misplaced) {
        if (given)
            return {std::nullopt, std::string(name) + " does not go with " + command->option};
    }
    if (keyword) options.keyword = std::move(*keyword);
    return {options, {}};
}

}  // namespace velmora::cli

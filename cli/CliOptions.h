#pragma once
// velmora-cli's command line.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::cli {

inline constexpr const char* kUsage =
    "Usage: velmora-cli [--site URL] [--export FILE] KEYWORD\n"
    "Runs one search of the directory site for KEYWORD (UTF-8), as the window's start button\n"
    "does. Rows go to standard output, one line each: seven tab-separated fields in UTF-8. What\n"
    "the window would show goes to standard error. On both, backslash, tab, CR and LF are\n"
    "written as \\\\, \\t, \\r and \\n, every other control character as \\xHH (U+0000 to\n"
    "U+001F and U+007F) or \\u00HH (U+0080 to U+009F), so nothing from the site reaches the\n"
    "terminal raw. Ctrl-C ends the search and keeps the rows so far.\n"
    "  --site URL     directory base URL, as VELMORA_SITE sets it (e.g. http://127.0.0.1:8080)\n"
    "  --export FILE  save the rows as a spreadsheet when the search ends (FILE without an\n"
    "                 extension gets .xlsx)\n"
    "  --help         this text\n"
    "Without --site or VELMORA_SITE, a line site=URL in $XDG_CONFIG_HOME/velmora/velmora.conf\n"
    "(~/.config/velmora/velmora.conf) names the directory, as it does for the window.\n"
    "Exit status:\n"
    "  0    the search ended (with or without hits)\n"
    "  1    usage error\n"
    "  2    --export saved nothing, or no row with a company name\n"
    "  3    the directory site could not be reached (nothing is exported then)\n"
    "  130  interrupted (nothing is exported then)\n";

struct Options {
    std::string keyword;  // UTF-8
    std::optional<std::string> site;
    std::optional<std::string> exportFile;
    bool help = false;
};

struct ParseResult {
    std::optional<Options> options;  // nothing on a usage error
    std::string error;               // why, for the user
};

// args excludes the program name. "--" ends the options, so a keyword may begin with "-".
ParseResult ParseOptions(const std::vector<std::string_view>& args);

}  // namespace velmora::cli

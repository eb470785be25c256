#pragma once
// velmora-cli's command line.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::cli {

// The help text; Usage() fills in where the settings file and the journal are on this system.
inline constexpr std::string_view kUsage =
    "Usage: velmora-cli [--site URL] [--parallel N] [--export FILE] [--no-journal]\n"
    "                   [LEAD OPTIONS] KEYWORD\n"
    "       velmora-cli --history\n"
    "       velmora-cli --rows ID [--export FILE] [LEAD OPTIONS]\n"
    "       velmora-cli --resume ID [--site URL] [--parallel N] [--export FILE] [LEAD OPTIONS]\n"
    "       velmora-cli --forget ID|all\n"
    "Runs one search of the directory site for KEYWORD (UTF-8), as the window's start button\n"
    "does. Rows go to standard output, one line each: seven tab-separated fields in UTF-8. What\n"
    "the window would show goes to standard error. On both, backslash, tab, CR and LF are\n"
    "written as \\\\, \\t, \\r and \\n, every other control character as \\xHH (U+0000 to\n"
    "U+001F and U+007F) or \\u00HH (U+0080 to U+009F), so nothing from the site reaches the\n"
    "terminal raw. Ctrl-C ends the search and keeps the rows so far.\n"
    "The search and every row, as it completes, are kept in a journal shared with the window,\n"
    "so that rows outlive a crash and a search cut short can be gone on with.\n"
    "  --site URL       directory base URL, as VELMORA_SITE sets it (e.g. http://127.0.0.1:8080);\n"
    "                   with --resume, in place of the one the search used\n"
    "  --parallel N     fetch up to N pages at once (1 to 8), paced by the site's answers: one\n"
    "                   request at a time at first, more while the site answers as fast, fewer\n"
    "                   when it slows down, a pause when it asks for one (Retry-After), and\n"
    "                   one at a time after signs of a block; 1 is the serial search, as\n"
    "                   without it. A value out of range is told on standard error\n"
    "                   (status[3]:) and the serial search runs\n"
    "  --export FILE    save the rows as a spreadsheet when the search ends (FILE without an\n"
    "                   extension gets .xlsx); with --rows, in place of printing them. FILE\n"
    "                   ending in .csv is written as CSV: UTF-8 with a byte order mark, CR LF,\n"
    "                   quoted as RFC 4180 says, the same header; a cell starting with =, +, -,\n"
    "                   @, tab or CR gets a leading ' unless it reads as a telephone number\n"
    "  --no-journal     keep nothing of this search\n"
    "Lead options make the rows printed and exported a lead list (a search then prints it when\n"
    "it ends, not row by row); the journal keeps the rows as they were found:\n"
    "  --clean          cells cleaned: HTML character references decoded, tags, \"mailto:\" and\n"
    "                   control characters removed, blanks collapsed and trimmed; full-width\n"
    "                   letters and digits half-width in telephone, mobile, fax and e-mail;\n"
    "                   e-mail in lower case\n"
    "  --dedupe         cleaned, and the rows of one company merged into its first, each cell\n"
    "                   the first non-empty one: rows are one company when their company links\n"
    "                   are equal, or when their names are equal without the legal form "
    "(有限公司,\n"
    "                   集团, ...) and a bracketed place and they share a telephone or mobile\n"
    "                   number (without country prefix, separators and extension) or an e-mail\n"
    "  --only-new       only the rows whose company (by the keys of --dedupe) no search started\n"
    "                   before the row's own holds (before now, for --no-journal)\n"
    "  --history        list the kept searches, oldest first, one line each, tab-separated:\n"
    "                   ID, start time (ISO 8601, local time), state, row count, keyword (escaped\n"
    "                   as a field is), and how many of its rows were new (what --only-new\n"
    "                   keeps). The state is running, finished, no-hits, stopped, incomplete\n"
    "                   (it ended with pages that could not be fetched), or interrupted: its\n"
    "                   program ended while it ran (killed, crashed, power cut)\n"
    "  --rows ID        print the kept rows of search ID, in the order of the site's listing\n"
    "  --resume ID      go on with search ID, incomplete, stopped or interrupted: its kept rows\n"
    "                   are printed first, then only what is missing is fetched (the result\n"
    "                   pages not walked and the companies without a kept row); at the end the\n"
    "                   search is finished, or incomplete again if pages still failed\n"
    "  --forget ID|all  remove search ID, or every search, with its rows (a running one stays)\n"
    "  --help           this text\n"
    "Without --site or VELMORA_SITE, a line site=URL in the settings file names the directory,\n"
    "as it does for the window, and without --parallel a line parallel=N sets it:\n"
    "  {settings}\n"
    "The journal is the file VELMORA_JOURNAL names, else\n"
    "  {journal}\n"
    "When it cannot be used, a search goes on and standard error says once that its rows are\n"
    "not kept.\n"
    "Exit status:\n"
    "  0    done: the search ended complete (with or without hits), or the journal did what\n"
    "       was asked\n"
    "  1    usage error\n"
    "  2    --export had nothing to save (with --only-new: no company was new), or no row\n"
    "       with a company name\n"
    "  3    the directory site could not be reached (nothing is exported then)\n"
    "  4    the journal cannot do what was asked (no such search, nothing to resume, the\n"
    "       journal unusable, or unreadable for --only-new)\n"
    "  5    incomplete: pages could not be fetched (standard error says how many; the rows\n"
    "       fetched are printed, exported and kept, and --resume fetches the rest)\n"
    "  6    --export could not write FILE: standard error names it and says why (held open\n"
    "       by another program, read-only, no such folder or no right to write there, disk\n"
    "       full, name too long); an existing FILE is left as it was, and the search's rows\n"
    "       are kept in the journal all the same\n"
    "  130  interrupted (nothing is exported then)\n";

std::string Usage();

enum class Command { kSearch, kHistory, kRows, kResume, kForget };

struct Options {
    Command command = Command::kSearch;
    std::string keyword;  // UTF-8; a search's
    std::optional<std::string> site;
    std::optional<std::string> parallel;  // as given; FindDirectorySite judges it
    std::optional<std::string> exportFile;
    std::int64_t searchId = 0;  // --rows, --resume, --forget; 0 for --forget all
    bool noJournal = false;
    // The lead options.
    bool clean = false;
    bool dedupe = false;
    bool onlyNew = false;
    bool help = false;
};

struct ParseResult {
    std::optional<Options> options;  // nothing on a usage error
    std::string error;               // why, for the user
};

// args excludes the program name. "--" ends the options, so a keyword may begin with "-".
ParseResult ParseOptions(const std::vector<std::string_view>& args);

}  // namespace velmora::cli

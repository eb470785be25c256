#include "CliRun.h"

#include <algorithm>

#include "cli/CliWindow.h"
#include "journal/JournalFiles.h"
#include "platform/Utf8Path.h"

namespace velmora::cli {

CliRun RunCli(std::vector<std::string> args, const CliSpawn& spawn) {
    ChildOptions options;
    options.environment = spawn.environment;
    // The test process's own journal unless the entries name one.
    static const test::ScratchFolder folder;
    const std::string journal = std::string(kJournalVariable) + "=";
    if (std::none_of(options.environment.begin(), options.environment.end(),
                     [&](const std::string& entry) { return entry.starts_with(journal); })) {
        options.environment.push_back(journal + Utf8FromPath(folder.path() / "journal.sqlite3"));
    }
    options.output = ChildStream::kPipe;
    options.error = ChildStream::kPipe;
    options.limits = spawn.limits;
    CliRun run;
    ChildProcess child;
    if (!child.Start(VELMORA_CLI_PATH, args, options)) {
        run.startError = child.startError();
        run.startFailure = child.error();
        return run;
    }
    if (spawn.whileRunning) spawn.whileRunning(child);
    while (const std::optional<ChildOutput> output = child.ReadOutput()) {
        (output->fromError ? run.err : run.out) += output->bytes;
        if (!output->fromError && !output->bytes.empty() && spawn.onOutput) {
            spawn.onOutput(child, run.out);
        }
    }
    const ChildExit exit = child.Wait();
    if (exit.exited) run.exitCode = exit.code;
    return run;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

std::string RowLine(const site::CompanyRecord& c) {
    std::string line;
    for (const std::string* field :
         {&c.companyName, &c.contact, &c.telephone, &c.mobile, &c.fax, &c.email, &c.address}) {
        if (!line.empty() || field != &c.companyName) line += '\t';
        line += EscapeField(*field);
    }
    return line;
}

std::vector<std::string> SavedRowLines(const test::SavedWorkbook& saved, int first, int last) {
    std::vector<std::string> lines;
    for (int row = first; row <= last; ++row) {
        std::string line;
        for (char column = 'A'; column <= 'G'; ++column) {
            line +=
                (column == 'A' ? "" : "\t") + EscapeField(saved.Text(column + std::to_string(row)));
        }
        lines.push_back(line);
    }
    return lines;
}

}  // namespace velmora::cli

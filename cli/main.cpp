// velmora-cli: one search of the directory site without a window, on the same engine.

#include <cstdio>
#include <iostream>
#include <memory>
#include <string_view>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/CliWindow.h"
#include "cli/JournalCommands.h"
#include "export/Export.h"
#include "journal/JournalFiles.h"
#include "platform/FatalError.h"
#include "platform/InterruptWatcher.h"
#include "platform/ThisProcess.h"
#include "platform/ThreadStack.h"
#include "search/Engine.h"
#include "text/CodePage.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitUsage = 1;
constexpr int kExitNotExported = 2;
constexpr int kExitSiteUnreachable = 3;
constexpr int kExitJournal = 4;
constexpr int kExitIncomplete = 5;
constexpr int kExitSaveFailed = 6;
// 128 + SIGINT, as shells report a command ended by Ctrl-C; the same on every system.
constexpr int kExitInterrupted = 130;

velmora::LeadListOptions LeadOptions(const velmora::cli::Options& options) {
    return {.clean = options.clean, .merge = options.dedupe, .onlyNew = options.onlyNew};
}

bool AsksForLeadList(const velmora::cli::Options& options) {
    return options.clean || options.dedupe || options.onlyNew;
}

// The full export of the front end's rows, or of their lead list; its messages on standard
// error.
int Export(velmora::Frontend& frontend, const velmora::cli::Options& options) {
    using namespace velmora;
    Exporter exporter(frontend, Text());
    exporter.SetLeadHistory(JournalHistory(JournalPath()));
    const ExportResult exported =
        exporter.ExportToFile(kExportAll, Utf8ToSystem(*options.exportFile), LeadOptions(options));
    switch (exported.outcome) {
        case ExportOutcome::kExported:
            return kExitDone;
        case ExportOutcome::kNoHistory:
            return kExitJournal;
        case ExportOutcome::kSaveFailed:
            return kExitSaveFailed;
        default:
            return kExitNotExported;
    }
}

// The lead list of the front end's rows on standard output.
int PrintLeadList(velmora::Frontend& frontend, const velmora::cli::Options& options) {
    using namespace velmora;
    const std::optional<std::vector<Lead>> leads =
        MakeLeadList(LeadsOf(frontend), LeadOptions(options), JournalHistory(JournalPath()));
    if (!leads) {
        std::cerr << "velmora-cli: journal " << JournalPath()
                  << ": cannot be read, so new companies cannot be told from known ones\n";
        return kExitJournal;
    }
    for (const Lead& lead : *leads) std::cout << cli::RowLine(lead.row) << '\n';
    std::cout.flush();
    return kExitDone;
}

int ShowRows(const velmora::cli::Options& options) {
    using namespace velmora;
    Journal journal(JournalPath());
    // With --export the rows go to the workbook only; a lead list is printed once made.
    std::ostream nowhere(nullptr);
    cli::CliWindow window(options.exportFile || AsksForLeadList(options) ? nowhere : std::cout,
                          std::cerr);
    if (!cli::ShowSearchRows(journal, options.searchId, window, std::cerr)) return kExitJournal;
    if (options.exportFile) return Export(window, options);
    return AsksForLeadList(options) ? PrintLeadList(window, options) : kExitDone;
}

// A search, or the resumption of one.
int RunSearch(const velmora::cli::Options& options) {
    using namespace velmora;
    SearchRequest request{Utf8ToSystem(options.keyword)};
    Text siteOverride = options.site.value_or("");
    if (options.command == cli::Command::kResume) {
        request.resumedJournal = std::make_unique<Journal>(JournalPath());
        const std::optional<StoredSearch> search =
            cli::TakeOverSearch(*request.resumedJournal, options.searchId, std::cerr);
        if (!search) return kExitJournal;
        request.keyword = search->keyword;
        request.resumeId = search->id;
        if (!options.site) siteOverride = search->site;
    }

    // Made before any thread starts, so that the interrupts reach only the watcher.
    InterruptWatcher watcher;

    // A lead list is made of all the rows, so it is printed when the search ends.
    std::ostream nowhere(nullptr);
    cli::CliWindow window(AsksForLeadList(options) ? nowhere : std::cout, std::cerr);
    Engine engine(
        window, {options.noJournal ? std::string() : JournalPath(), SearchOrigin::kCli},
        siteOverride,
        options.parallel ? std::optional<std::string_view>(*options.parallel) : std::nullopt);
    SearchSession& session = engine.session;
    StartSearch(session, std::move(request));
    // The stop button acts only during a batch of two or more workers; Ctrl-C must end the
    // search whatever it is doing, so it runs the stop routine itself rather than pressing the
    // button. Rows already complete have been printed; an unfinished one is not. The watcher
    // starts after the search, so that an early Ctrl-C, held pending, cannot precede the start.
    bool interrupted = false;
    watcher.Start([&] {
        interrupted = true;
        TerminateSearchThreads(session);
    });

    WaitForSearchEnd(session);
    watcher.Stop();
    EndSearchThreads(session);
    std::cout.flush();
    // The rows so far, as they would have been printed row by row.
    const int printed = AsksForLeadList(options) ? PrintLeadList(window, options) : kExitDone;
    if (interrupted) return kExitInterrupted;
    if (session.siteUnreachable) return kExitSiteUnreachable;
    if (printed != kExitDone) return printed;
    const int exported = options.exportFile ? Export(window, options) : kExitDone;
    if (exported != kExitDone) return exported;
    return session.lastEnd == SearchState::kIncomplete ? kExitIncomplete : kExitDone;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace velmora;
    // Before any thread starts; without it the threads keep the system's stack size.
    static_cast<void>(UseThreadStackSize());
    InstallAsTextFatalHandler();
    UseUtf8StandardStreams();
    const std::vector<std::string> arguments = CommandLineArguments(argc, argv);
    std::vector<std::string_view> args(arguments.begin() + (arguments.empty() ? 0 : 1),
                                       arguments.end());
    const cli::ParseResult parsed = cli::ParseOptions(args);
    if (!parsed.options) {
        std::cerr << "velmora-cli: " << cli::EscapeField(parsed.error) << '\n' << cli::Usage();
        return kExitUsage;
    }
    const cli::Options& options = *parsed.options;
    if (options.help) {
        std::cout << cli::Usage();
        return kExitDone;
    }
    switch (options.command) {
        case cli::Command::kHistory: {
            Journal journal(JournalPath());
            return cli::PrintHistory(journal, std::cout, std::cerr) ? kExitDone : kExitJournal;
        }
        case cli::Command::kRows:
            return ShowRows(options);
        case cli::Command::kForget: {
            Journal journal(JournalPath());
            return cli::ForgetSearches(journal, options.searchId, std::cerr) ? kExitDone
                                                                             : kExitJournal;
        }
        case cli::Command::kSearch:
        case cli::Command::kResume:
            break;
    }
    return RunSearch(options);
}

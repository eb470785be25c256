#pragma once
// The spreadsheet export: the rows of the result list written into a new workbook, saved under
// a name picked in the save dialog, read back, counted and reported in a message box. A name
// ending in .csv is written as CSV instead (CsvFile.h), for every export: each format has its
// writer (ExportWriter.h), and the export only picks one by the name. Lead exports write a
// lead list made from the rows (LeadList.h) in place of the rows as the list shows them.
// Everything runs on the window's thread; the export processes the window's pending events
// while it works, so the window stays live and a second export may be asked for meanwhile:
// it is ignored (ExportOutcome::kBusy, no dialog, no message).

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "export/Workbook.h"
#include "leads/LeadList.h"
#include "results/Frontend.h"
#include "results/ResultRow.h"
#include "text/Text.h"
#include "text/TextOps.h"

namespace velmora {

class ExportWriter;

// One sheet column of a variant: its header and the list column it takes its cells from.
struct ExportColumn {
    std::string_view header;  // UTF-8
    ResultColumn listColumn;
};

// What distinguishes the four exports; everything else is ExportToSpreadsheet.
struct ExportVariant {
    std::string_view defaultNamePrefix;     // UTF-8
    std::span<const ExportColumn> columns;  // sheet columns A, B, ... in order
    // The full export lets the window in after the header and after each written row too.
    bool processEventsWhileWriting;
};

extern const ExportVariant kExportAll;
extern const ExportVariant kExportCompanyNames;
extern const ExportVariant kExportMobiles;
extern const ExportVariant kExportEmails;
// The lead exports: every column, each under its own default name.
extern const ExportVariant kExportCleanedMerged;
extern const ExportVariant kExportOnlyNew;

enum class ExportOutcome {
    kExported,         // saved; count holds the rows verified
    kNothingToExport,  // the list is empty
    kCancelled,        // the dialog was cancelled
    kBusy,             // another export is running
    kSaveFailed,       // the file could not be written; an existing one is left as it was
    kNoneVerified,     // saved, but no data row read back with a first cell: reported as failed
    kNothingNew,       // only new companies were asked for and an earlier search holds each one
    kNoHistory,        // only new companies were asked for and the history cannot be read
};

struct ExportResult {
    ExportOutcome outcome;
    int count = 0;
};

// Where a running export stands, so the window can show it: `done` of `total` rows of the
// phase. Called on the window's thread just before the export lets the window process events,
// and once more when the work is over, as saving 1 of 1, before the result is shown.
enum class ExportPhase { kWriting, kVerifying, kSaving };
using ExportProgress = std::function<void(ExportPhase phase, int done, int total)>;

// The current local date and time.
using Clock = std::function<DateTime()>;
DateTime LocalDateTimeNow();

// Column 1 to 26 as "A" to "Z"; the empty text outside.
Text ColumnLetter(int column);

// prefix + the date-time text's part between "日" and "秒" + "秒" (prefix and result in the
// system code page).
Text DefaultExportName(const Text& prefix, const DateTime& now);

// The name a save dialog gave back, with the extension of the filter entry chosen (0 the first)
// when the name has none: "a" under "CSV 文件(*.csv)|*.csv" is "a.csv". Under the first entry
// the name stays as it is, and is saved as a workbook with ".xlsx".
Text NameWithChosenExtension(const Text& name, const Text& filter, std::size_t chosenEntry);

class Exporter {
public:
    // desktopFolder (system code page, ending in "/") is where the save dialog opens.
    Exporter(Frontend& window, Text desktopFolder, Clock clock = LocalDateTimeNow,
             ExportProgress progress = {}, StringStorage storage = StringStorage::kInline);

    // The popup menu's four exports.
    ExportResult ExportAll() { return ExportToSpreadsheet(kExportAll); }
    ExportResult ExportCompanyNames() { return ExportToSpreadsheet(kExportCompanyNames); }
    ExportResult ExportMobiles() { return ExportToSpreadsheet(kExportMobiles); }
    ExportResult ExportEmails() { return ExportToSpreadsheet(kExportEmails); }

    // The lead exports, for the popup menu: every column cleaned, duplicates merged; and the
    // same of only the companies no search before a row's own found (SetLeadHistory). Neither
    // asks for a file name when there is nothing to write.
    ExportResult ExportCleanedMerged() {
        return ExportLeads(kExportCleanedMerged, {.clean = true, .merge = true});
    }
    ExportResult ExportOnlyNew() {
        return ExportLeads(kExportOnlyNew, {.clean = true, .merge = true, .onlyNew = true});
    }

    ExportResult ExportToSpreadsheet(const ExportVariant& variant);
    ExportResult ExportLeads(const ExportVariant& variant, const LeadListOptions& options);
    // The full export into fileName (system code page) without a dialog, with the same
    // messages: what the command line's --export runs.
    ExportResult ExportAllToFile(const Text& fileName);
    // Any export into fileName without a dialog: of the rows as they are, or of their lead list
    // when the options ask for one.
    ExportResult ExportToFile(const ExportVariant& variant, const Text& fileName,
                              const LeadListOptions& options = {});

    // What only-new exports ask which companies are known (JournalHistory); without one they
    // fail with kNoHistory.
    void SetLeadHistory(LeadHistory history) { history_ = std::move(history); }

    // True while an export runs; the window must not go away meanwhile (the export lets it
    // process events, a close request among them).
    bool IsRunning() const { return running_; }

private:
    // fileName: the file to save into, or nullptr to ask the save dialog.
    ExportResult Run(const ExportVariant& variant, const Text* fileName,
                     const LeadListOptions& options);
    // Writes, counts and saves through `writer`, letting the window in as the variant asks.
    // leads: the lead list to write, or nullptr for the list's rows. A failed save leaves the
    // sentence that tells why in failureReason.
    ExportResult Write(ExportWriter& writer, const ExportVariant& variant, const Text& fileName,
                       const std::vector<Lead>* leads, std::string& failureReason);
    Text CellOf(const std::vector<Lead>* leads, int row, ResultColumn column);
    void LetWindowIn(ExportPhase phase, int done, int total);

    Frontend& window_;
    Text desktopFolder_;
    Clock clock_;
    ExportProgress progress_;
    Workbook workbook_;  // Excel程序1 and Excel工作簿1
    LeadHistory history_;
    bool running_ = false;
};

}  // namespace velmora

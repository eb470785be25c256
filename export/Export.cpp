#include "export/Export.h"

#include <ctime>
#include <filesystem>
#include <iterator>
#include <memory>
#include <optional>

#include "export/CsvFile.h"
#include "export/CsvWriter.h"
#include "export/ExportWriter.h"
#include "export/WorkbookWriter.h"
#include "platform/LocalTime.h"
#include "platform/Utf8Path.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

constexpr ExportColumn kAllColumns[] = {
    {"公司名", kCompanyNameColumn}, {"联系人", kContactColumn}, {"电话", kTelephoneColumn},
    {"手机", kMobileColumn},        {"传真", kFaxColumn},       {"邮件", kEmailColumn},
    {"地址", kAddressColumn},
};
static_assert(std::size(kAllColumns) == kResultColumnCount, "the full export has every column");
constexpr ExportColumn kCompanyNameColumns[] = {{"公司名", kCompanyNameColumn}};
constexpr ExportColumn kMobileColumns[] = {{"手机号", kMobileColumn}};
constexpr ExportColumn kEmailColumns[] = {{"邮箱", kEmailColumn}};

// The classic entry first; the second shows the workbooks saved under the default name, which
// gets ".xlsx"; a name ending in ".csv" is saved as CSV.
constexpr std::string_view kSaveFilter =
    "默认保存为 office Excel文件(*.xls)|*.xls|Excel 工作簿(*.xlsx)|*.xlsx|CSV 文件(*.csv)|*.csv";
constexpr std::string_view kEmptyListMessage = "还没进行操作，不能导出！";
constexpr std::string_view kFailureMessage = "数据导出失败!";
constexpr std::string_view kSuccessMessageStart = "数据导出成功! 共：";
constexpr std::string_view kSuccessMessageEnd = " 行记录！！";
constexpr std::string_view kNothingNewMessage = "没有新增的公司：每一家都在以前的搜索中出现过。";
constexpr std::string_view kNoHistoryMessage = "读不到以前的搜索记录，找不出新增的公司！";

// Clears the running flag however the export ends.
class RunningFlag {
public:
    explicit RunningFlag(bool& flag) : flag_(flag) { flag_ = true; }
    ~RunningFlag() { flag_ = false; }
    RunningFlag(const RunningFlag&) = delete;
    RunningFlag& operator=(const RunningFlag&) = delete;

private:
    bool& flag_;
};

// A name ending in ".csv" is saved as CSV, any other as a workbook.
std::unique_ptr<ExportWriter> WriterFor(const Text& fileName, Workbook& workbook) {
    if (IsCsvFileName(fileName)) return std::make_unique<CsvWriter>();
    return std::make_unique<WorkbookWriter>(workbook);
}

}  // namespace

const ExportVariant kExportAll{"全部数据  ", kAllColumns, true};
const ExportVariant kExportCompanyNames{"公司名  ", kCompanyNameColumns, false};
const ExportVariant kExportMobiles{"手机号  ", kMobileColumns, false};
const ExportVariant kExportEmails{"邮箱  ", kEmailColumns, false};
const ExportVariant kExportCleanedMerged{"整理去重  ", kAllColumns, true};
const ExportVariant kExportOnlyNew{"新增公司  ", kAllColumns, true};

DateTime LocalDateTimeNow() {
    const std::optional<LocalTime> local = LocalTimeAt(std::time(nullptr));
    if (!local) return {};
    return {local->year, local->month, local->day, local->hour, local->minute, local->second};
}

Text ColumnLetter(int column) {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    if (column < 1 || column > 26) return {};
    return Text(1, kLetters[column - 1]);
}

Text NameWithChosenExtension(const Text& name, const Text& filter, std::size_t chosenEntry) {
    if (chosenEntry == 0) return name;
    std::string_view rest = filter;
    for (std::size_t field = 0; field < 2 * chosenEntry + 1; ++field) {
        const std::size_t bar = rest.find('|');
        if (bar == rest.npos) return name;
        rest.remove_prefix(bar + 1);
    }
    const std::string_view pattern = rest.substr(0, rest.find('|'));
    const std::filesystem::path chosen = PathFromUtf8(SystemToUtf8(name));
    if (!pattern.starts_with("*.") || !chosen.has_filename() || chosen.has_extension()) return name;
    return ConcatText(name, Text(pattern.substr(1)));
}

Text DefaultExportName(const Text& prefix, const DateTime& now) {
    const Text second = Utf8ToSystem("秒");
    return ConcatText(prefix, TextBetween(ToText(now), Utf8ToSystem("日"), second), second);
}

Exporter::Exporter(Frontend& window, Text desktopFolder, Clock clock, ExportProgress progress,
                   StringStorage storage)
    : window_(window),
      desktopFolder_(std::move(desktopFolder)),
      clock_(std::move(clock)),
      progress_(std::move(progress)),
      workbook_(storage) {}

ExportResult Exporter::ExportToSpreadsheet(const ExportVariant& variant) {
    return Run(variant, nullptr, {});
}

ExportResult Exporter::ExportLeads(const ExportVariant& variant, const LeadListOptions& options) {
    return Run(variant, nullptr, options);
}

ExportResult Exporter::ExportAllToFile(const Text& fileName) {
    return Run(kExportAll, &fileName, {});
}

ExportResult Exporter::ExportToFile(const ExportVariant& variant, const Text& fileName,
                                    const LeadListOptions& options) {
    return Run(variant, &fileName, options);
}

Text Exporter::CellOf(const std::vector<Lead>* leads, int row, ResultColumn column) {
    return leads ? *(*leads)[static_cast<std::size_t>(row)].row.Columns()[column]
                 : window_.ReadCell(row, column);
}

ExportResult Exporter::Run(const ExportVariant& variant, const Text* fileName,
                           const LeadListOptions& options) {
    if (running_) return {ExportOutcome::kBusy};
    RunningFlag running(running_);

    if (window_.RowCount() <= 0) {
        window_.ShowMessage(Utf8ToSystem(kEmptyListMessage), {}, MessageBoxFlag::kOk);
        return {ExportOutcome::kNothingToExport};
    }
    // A lead list is made from the rows as they are now, before the file is asked for: when
    // nothing of it is left there is no file to ask for.
    std::optional<std::vector<Lead>> leads;
    if (options.clean || options.merge || options.onlyNew) {
        leads = MakeLeadList(LeadsOf(window_), options, history_);
        if (!leads) {
            window_.ShowMessage(Utf8ToSystem(kNoHistoryMessage), {}, MessageBoxFlag::kIconWarning);
            return {ExportOutcome::kNoHistory};
        }
        if (leads->empty()) {
            window_.ShowMessage(Utf8ToSystem(kNothingNewMessage), {},
                                MessageBoxFlag::kIconInformation);
            return {ExportOutcome::kNothingNew};
        }
    }
    Text chosen;
    if (fileName != nullptr) {
        chosen = *fileName;
    } else {
        SaveDialogRequest request{
            Utf8ToSystem(kSaveFilter),
            DefaultExportName(Utf8ToSystem(variant.defaultNamePrefix), clock_()), desktopFolder_};
        chosen = window_.AskSaveFileName(request);
        if (chosen.empty()) return {ExportOutcome::kCancelled};
    }

    const std::unique_ptr<ExportWriter> writer = WriterFor(chosen, workbook_);
    std::string failureReason;
    const ExportResult result =
        Write(*writer, variant, chosen, leads ? &*leads : nullptr, failureReason);
    if (result.outcome != ExportOutcome::kExported) {
        std::string message(kFailureMessage);
        if (!failureReason.empty()) message.append(" ").append(failureReason);
        window_.ShowMessage(Utf8ToSystem(message), {}, MessageBoxFlag::kIconWarning);
    } else {
        window_.ShowMessage(ConcatText(Utf8ToSystem(kSuccessMessageStart), ToText(result.count),
                                       Utf8ToSystem(kSuccessMessageEnd)),
                            {}, MessageBoxFlag::kIconInformation);
    }
    return result;
}

ExportResult Exporter::Write(ExportWriter& writer, const ExportVariant& variant,
                             const Text& fileName, const std::vector<Lead>* leads,
                             std::string& failureReason) {
    LetWindowIn(ExportPhase::kWriting, 0, 0);
    writer.WriteHeader(variant.columns);
    // The window goes first, then the rows are counted: a row it appends now is exported, one
    // appended from here on is not (the bound is taken once).
    if (variant.processEventsWhileWriting) LetWindowIn(ExportPhase::kWriting, 0, 0);
    const int rowCount = leads ? static_cast<int>(leads->size()) : window_.RowCount();
    std::vector<Text> cells(variant.columns.size());
    for (int row = 0; row < rowCount; ++row) {
        for (std::size_t c = 0; c < cells.size(); ++c) {
            cells[c] = CellOf(leads, row, variant.columns[c].listColumn);
        }
        writer.WriteRow(cells);
        if (variant.processEventsWhileWriting) {
            LetWindowIn(ExportPhase::kWriting, row + 1, rowCount);
        }
    }
    const int count = writer.CountRecords(
        [&](int done) { LetWindowIn(ExportPhase::kVerifying, done, rowCount); });

    if (progress_) progress_(ExportPhase::kSaving, 0, 1);
    const SaveResult saved = writer.Save(fileName);
    if (progress_) progress_(ExportPhase::kSaving, 1, 1);
    if (!saved) {
        failureReason = saved.failureReason;
        return {ExportOutcome::kSaveFailed};
    }
    if (count == 0) return {ExportOutcome::kNoneVerified};
    return {ExportOutcome::kExported, count};
}

void Exporter::LetWindowIn(ExportPhase phase, int done, int total) {
    if (progress_) progress_(phase, done, total);
    window_.ProcessPendingEvents();
}

}  // namespace velmora

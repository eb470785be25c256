// The full export of a large list: time per export and the process's peak memory.
// Peak memory is the high-water mark of the whole process, so run one storage per process:
//   bench_export --benchmark_filter=Inline    and    bench_export --benchmark_filter=Shared
// The counters: list_MB is the peak after building the list, peak_MB after the exports.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "export/Export.h"
#include "results/ResultRow.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

constexpr int kRows = 100000;

double PeakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
}

// The list as a search leaves it: varied Chinese company data, deterministic.
class ListWindow : public Frontend {
public:
    ListWindow() {
        const char* cities[] = {"深圳市", "广州市", "杭州市", "苏州市",
                                "东莞市", "宁波市", "佛山市"};
        const char* trades[] = {"华强电子", "恒通五金", "金盛纺织", "瑞丰塑胶", "鼎新机械",
                                "宏达包装", "永兴化工", "博远照明", "联创光电", "嘉禾食品"};
        const char* kinds[] = {"科技有限公司", "制品厂", "贸易有限公司", "实业有限公司"};
        const char* surnames[] = {"张", "王", "李", "赵", "陈", "刘", "杨", "黄"};
        const char* givens[] = {"伟", "芳", "娜", "敏", "静", "强", "磊", "洋", "勇", "军"};
        const char* roads[] = {"华强北路", "人民路", "解放大道", "工业园区", "科技园南路"};
        rows_.reserve(kRows);
        char buffer[256];
        for (int i = 0; i < kRows; ++i) {
            std::array<Text, kResultColumnCount> row;
            std::snprintf(buffer, sizeof buffer, "%s%s%s第%d分厂", cities[i % 7],
                          trades[(i / 7) % 10], kinds[(i / 70) % 4], i);
            row[0] = Utf8ToSystem(buffer);
            std::snprintf(buffer, sizeof buffer, "%s%s", surnames[i % 8], givens[(i / 8) % 10]);
            row[1] = Utf8ToSystem(buffer);
            row[2] = "0755-" + std::to_string(83000000 + i);
            row[3] = i % 3 == 0 ? Text() : "+86" + std::to_string(13800000000LL + i * 7);
            row[4] = i % 2 == 0 ? Text() : "0755-" + std::to_string(84000000 + i);
            row[5] = "sales" + std::to_string(i) + "@example.com.cn";
            std::snprintf(buffer, sizeof buffer, "广东省%s%s%d号%d栋%d室", cities[i % 7],
                          roads[i % 5], i % 999 + 1, i % 30 + 1, i % 1200 + 101);
            row[6] = Utf8ToSystem(buffer);
            rows_.push_back(std::move(row));
        }
    }

    void SetStatusText(int, const Text&) override {}
    void SetTimerPeriod(int) override {}
    int AppendRow() override { return -1; }
    void SetCell(int, int, const Text&) override {}
    Text ReadCell(int row, int column) override {
        return rows_[static_cast<size_t>(row)][static_cast<size_t>(column)];
    }
    int RowCount() override { return static_cast<int>(rows_.size()); }
    int ShowMessage(const Text&, const Text&, unsigned) override { return kAnswerOk; }
    bool SetClipboardText(const Text&) override { return true; }
    Text AskSaveFileName(const SaveDialogRequest&) override { return {}; }

private:
    std::vector<std::array<Text, kResultColumnCount>> rows_;
};

void FullExport(benchmark::State& state, StringStorage storage) {
    ListWindow window;
    const double listPeak = PeakMegabytes();
    const auto file = std::filesystem::temp_directory_path() / "velmora-bench-export.xlsx";
    Exporter exporter(window, "/", LocalDateTimeNow, {}, storage);
    for (auto _ : state) {
        const ExportResult result = exporter.ExportAllToFile(file.string());
        if (result.outcome != ExportOutcome::kExported || result.count != kRows) {
            state.SkipWithError("export failed");
            break;
        }
    }
    state.counters["rows"] = kRows;
    state.counters["list_MB"] = listPeak;
    state.counters["peak_MB"] = PeakMegabytes();
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(file)) / 1048576.0;
    std::filesystem::remove(file);
}

BENCHMARK_CAPTURE(FullExport, Inline, StringStorage::kInline)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(FullExport, Shared, StringStorage::kShared)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
}  // namespace velmora

BENCHMARK_MAIN();

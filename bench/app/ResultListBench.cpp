// The result list at 100,000 rows: filling it from a search thread's side, and what the window
// pays to show it (one batch taken in, one screenful painted anywhere in the list).

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTableView>
#include <string>

#include "app/ResultListModel.h"
#include "text/CodePage.h"
#include "window/WindowPort.h"

namespace {

using velmora::kResultColumnCount;
using velmora::ResultListModel;
using velmora::WindowPort;

constexpr int kRows = 100'000;

void FillRows(WindowPort& port, int rows) {
    const velmora::Text cell = velmora::Utf8ToSystem("青岛天成不锈钢有限公司");
    for (int n = 0; n < rows; ++n) {
        int row = port.AppendRow();
        for (int column = 0; column < kResultColumnCount; ++column) port.SetCell(row, column, cell);
    }
}

void BM_FillAndShowHundredThousandRows(benchmark::State& state) {
    for (auto _ : state) {
        WindowPort port;
        ResultListModel model(port.Rows());
        FillRows(port, kRows);
        model.ApplyChanges();
        benchmark::DoNotOptimize(model.rowCount());
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_FillAndShowHundredThousandRows)->Unit(benchmark::kMillisecond);

void BM_PaintScreenfulAtHundredThousandRows(benchmark::State& state) {
    WindowPort port;
    ResultListModel model(port.Rows());
    FillRows(port, kRows);
    model.ApplyChanges();
    QTableView view;
    view.setModel(&model);
    view.resize(712, 383);
    int row = 0;
    for (auto _ : state) {
        row = (row + 7919) % kRows;
        view.scrollTo(model.index(row, 0));
        benchmark::DoNotOptimize(view.grab());
    }
}
BENCHMARK(BM_PaintScreenfulAtHundredThousandRows)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

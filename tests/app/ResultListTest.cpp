// The result list's rows: written from any number of threads without waiting for the window,
// shown through the model in batches, read back whole.

#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/ResultListModel.h"
#include "text/CodePage.h"
#include "window/WindowPort.h"

using namespace velmora;

namespace {

Text CellText(int writer, int sequence, int column) {
    return Utf8ToSystem("公司") + std::to_string(writer) + "-" + std::to_string(sequence) + "-" +
           std::to_string(column);
}

}  // namespace

class ResultListTest : public QObject {
    Q_OBJECT

private slots:
    void rowsFromManyThreadsAllArriveWhole() {
        constexpr int kWriters = 8;
        constexpr int kRowsEach = 500;
        WindowPort port;
        ResultListModel model(port.Rows());
        std::vector<std::thread> writers;
        for (int writer = 0; writer < kWriters; ++writer) {
            writers.emplace_back([&port, writer] {
                for (int sequence = 0; sequence < kRowsEach; ++sequence) {
                    int row = port.AppendRow();
                    for (int column = 0; column < kResultColumnCount; ++column)
                        port.SetCell(row, column, CellText(writer, sequence, column));
                }
            });
        }
        for (std::thread& writer : writers) writer.join();

        QTRY_COMPARE(model.rowCount(), kWriters * kRowsEach);
        std::vector<int> nextSequence(kWriters, 0);
        for (int row = 0; row < port.RowCount(); ++row) {
            // Each row holds one writer's one row, and each writer's rows keep their order.
            std::string first = SystemToUtf8(port.ReadCell(row, 0));
            int writer = std::stoi(first.substr(first.find_first_of("0123456789")));
            int sequence = nextSequence[static_cast<size_t>(writer)]++;
            for (int column = 0; column < kResultColumnCount; ++column) {
                QCOMPARE(port.ReadCell(row, column), CellText(writer, sequence, column));
                QCOMPARE(model.index(row, column).data().toString().toStdString(),
                         SystemToUtf8(CellText(writer, sequence, column)));
            }
        }
        for (int count : nextSequence) QCOMPARE(count, kRowsEach);
    }

    void aHundredThousandRowsReachTheViewInOneInsertion() {
        constexpr int kRows = 100'000;
        WindowPort port;
        ResultListModel model(port.Rows());
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        std::thread([&port] {
            for (int n = 0; n < kRows; ++n) {
                int row = port.AppendRow();
                port.SetCell(row, 0, std::to_string(n));
            }
        }).join();
        QCOMPARE(model.rowCount(), 0);  // nothing reaches the view behind its back
        QTRY_COMPARE(model.rowCount(), kRows);
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(inserted[0][1].toInt(), 0);
        QCOMPARE(inserted[0][2].toInt(), kRows - 1);
        QCOMPARE(model.index(kRows - 1, 0).data().toString(), QString::number(kRows - 1));
    }

    void cellsFilledAfterTheRowIsShownAreRepainted() {
        WindowPort port;
        ResultListModel model(port.Rows());
        int first = port.AppendRow();
        int second = port.AppendRow();
        QTRY_COMPARE(model.rowCount(), 2);
        // A row being filled shows its later cells empty.
        QVERIFY(!model.index(first, 6).data().isValid());

        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        std::thread([&port, second] {
            port.SetCell(second, 6, Utf8ToSystem("北京市海淀区"));
            port.SetCell(second, 0, Utf8ToSystem("甲公司"));
        }).join();
        QTRY_COMPARE(changed.size(), 1);
        QCOMPARE(changed[0][0].toModelIndex().row(), second);
        QCOMPARE(changed[0][1].toModelIndex().row(), second);
        QCOMPARE(model.index(second, 6).data().toString(), QString::fromUtf8("北京市海淀区"));
        QCOMPARE(model.index(second, 0).data().toString(), QString::fromUtf8("甲公司"));
    }

    void cellsOutsideTheTableAreIgnored_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::newRow("row -1") << -1 << 0;
        QTest::newRow("row past the end") << 1 << 0;
        QTest::newRow("column -1") << 0 << -1;
        QTest::newRow("column 7") << 0 << 7;
    }

    void cellsOutsideTheTableAreIgnored() {
        QFETCH(int, row);
        QFETCH(int, column);
        WindowPort port;
        QCOMPARE(port.AppendRow(), 0);
        port.SetCell(row, column, "lost");
        QCOMPARE(port.ReadCell(row, column), Text());
        for (int c = 0; c < kResultColumnCount; ++c) QCOMPARE(port.ReadCell(0, c), Text());
        QCOMPARE(port.RowCount(), 1);
    }

    void viewsComeAndGoWhileRowsKeepArriving() {
        WindowPort port;
        std::atomic<bool> done{false};
        std::thread writer([&port, &done] {
            while (!done.load()) port.SetCell(port.AppendRow(), 0, "row");
        });
        for (int view = 0; view < 20; ++view) {
            auto model = std::make_unique<ResultListModel>(port.Rows());
            QTRY_VERIFY(model->rowCount() > 0);
        }
        done = true;
        writer.join();
        // A model made now still sees every row written meanwhile.
        ResultListModel model(port.Rows());
        QCOMPARE(model.rowCount(), port.RowCount());
    }
};

QTEST_GUILESS_MAIN(ResultListTest)
#include "ResultListTest.moc"

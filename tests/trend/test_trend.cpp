// The trend's store of readings and its CSV on their own; its window with the simulator as the
// sensor.
#include "platform/canvas.h"
#include "platform/testing.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "tests/support/rig.h"
#include "tests/support/support.h"
#include "trend/trend.h"

#include <QChartView>
#include <QFile>
#include <QLineSeries>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>

using namespace qv;

namespace {

// The points of the raw red line, all its pieces, oldest first.
QList<QPointF> rawRed() {
    QList<QPointF> points;
    if (auto *view = rt::CanvasWidget(trendpanel, TRENDP_CHART)->findChild<QChartView *>())
        for (QAbstractSeries *s : view->chart()->series())
            if (s->name() == QLatin1String("RAW RED"))
                points += static_cast<QLineSeries *>(s)->points();
    return points;
}

int shownKept() {
    rt::testing::FlushDisplays();
    int kept = -1;
    rt::GetCtrlVal(trendpanel, TRENDP_KEPT, &kept);
    return kept;
}

bool shown() {
    return rt::testing::PanelWidget(trendpanel)->isVisible();
}

// Runs GO: `then` runs from within the loop once the chart shows a line, and STOP comes `more`
// readings later. Returns when the loop has ended.
bool go(
    int more, std::function<void()> then = [] {}) {
    const std::uint64_t at = trendreadings.added();
    auto done = std::make_shared<bool>(false);
    qvtest::whenever([at] { return trendreadings.added() > at + 1000 && !rawRed().isEmpty(); },
                     [more, then, done] {
                         then();
                         const std::uint64_t now = trendreadings.added();
                         qvtest::whenever(
                             [now, more] { return trendreadings.added() > now + more; },
                             [done] {
                                 qvtest::click(panel, P_BUTTONSTOP);
                                 *done = true;
                             });
                     });
    qvtest::click(panel, P_BUTTONGO);
    return qvtest::waitFor([done] { return *done && poll == 0; }, 20000);
}

} // namespace

class TrendTest : public QObject {
    Q_OBJECT
    std::unique_ptr<qvtest::FlowRig> rig_;

  private slots:
    void initTestCase() {
        qvtest::initRunTime("de_DE.UTF-8"); // the files are the same under a decimal comma
        rig_ = std::make_unique<qvtest::FlowRig>(qvtest::quietSensor("TREND TEST SENSOR V1.00"));
        // A slow wave on red, so that every picture differs from the one before.
        rig_->sim().setReadingSource([](std::uint64_t i) {
            return qvsim::Rgb{std::uint16_t(1000 + 300 * std::sin(double(i) / 400)), 2000, 3000};
        });
        rig_->connect(qvtest::Link::Tcp);
    }

    // Ten minutes, at most the capacity, newest kept; oldest first, each with its own values and
    // time to the microsecond. Steps are exact in binary, so that ages compare exactly.
    void keepsAndDrops() {
        const struct {
            std::size_t capacity;
            int count, kept;
            double step, oldest;
        } rows[] = {
            {ReadingStore::kCapacity, 4801, 4801, 0.125, 0.0}, // ten minutes exactly
            {1000, 5000, 1000, 0.001, 4.0},                    // capacity reached
            {ReadingStore::kCapacity, 4801, 601, 1.0, 4200.0}, // 80 min > 2^32 microseconds
        };
        for (const auto &r : rows) {
            ReadingStore store(r.capacity);
            for (int i = 0; i < r.count; ++i)
                store.add(i * r.step, {std::uint16_t(i), 1, 2, 3, 4, 5});
            QCOMPARE(int(store.size()), r.kept);
            QCOMPARE(store.added(), std::uint64_t(r.count));
            QCOMPARE(store.oldest(), r.oldest);
            QCOMPARE(store.newest(), (r.count - 1) * r.step);
            const TrendReading first = store.at(0), last = store.at(store.size() - 1);
            QCOMPARE(int(first.value[0]), (r.count - r.kept) & 0xFFFF);
            QCOMPARE(int(last.value[0]), (r.count - 1) & 0xFFFF);
            store.add(store.newest() + 0.000001, {7, 7, 7, 7, 7, 7});
            QCOMPARE(qRound64((store.newest() - last.seconds) * 1e6), 1LL);
        }
        // A clock that stepped back is taken as standing still: times never run backwards.
        ReadingStore store(16);
        store.add(10.0, {1, 1, 1, 1, 1, 1});
        store.add(9.5, {2, 2, 2, 2, 2, 2});
        QCOMPARE(store.at(1).seconds, 10.0);
    }

    // One low and high per column, so that a single spike shows; a pause leaves columns empty;
    // readings beyond the capacity are not drawn.
    void columns() {
        const struct {
            QList<double> times;
            QList<int> values;
            std::size_t capacity;
            QList<int> lowHigh; // per column: low, high; -1, -1 when empty
        } rows[] = {
            {{0.005, 0.105, 0.205, 0.505, 0.605}, {5, 9, 7, 3, 4}, 16, {5, 9, 3, 4}},
            {{0.005, 1.905}, {8, 9}, 16, {8, 8, -1, -1, -1, -1, 9, 9}},
            {{0.005, 0.105, 0.605, 0.705}, {1, 2, 3, 4}, 2, {-1, -1, 3, 4}},
        };
        for (const auto &r : rows) {
            ReadingStore store(r.capacity);
            for (int i = 0; i < r.times.size(); ++i) {
                const std::uint16_t v = std::uint16_t(r.values[i]);
                store.add(r.times[i], {v, 0, 0, 0, 0, std::uint16_t(v + 1)});
            }
            const int count = int(r.lowHigh.size() / 2);
            std::vector<TrendColumn> out(count);
            store.columns(0.0, count == 2 ? 1.0 : 2.0, out.data(), count);
            for (int c = 0; c < count; ++c) {
                QCOMPARE(out[c].any, r.lowHigh[2 * c] >= 0);
                if (out[c].any) {
                    QCOMPARE(int(out[c].low[0]), r.lowHigh[2 * c]);
                    QCOMPARE(int(out[c].high[0]), r.lowHigh[2 * c + 1]);
                    QCOMPARE(int(out[c].high[5]), r.lowHigh[2 * c + 1] + 1);
                }
            }
        }
    }

    // Seconds since the first kept reading, raw, calibrated and both spreads; CR LF line ends.
    void savedCsvIsExact() {
        ReadingStore store(2);
        store.add(5.0, {1, 2, 3, 4, 5, 6});
        store.add(100.25, {1000, 1024, 990, 1010, 1000, 1047});
        store.add(100.250001, {65535, 0, 7, 0, 0, 0});
        QTemporaryDir dir;
        const QString path = dir.filePath("trend.csv");
        QVERIFY(WriteTrendCsv(store, path.toLocal8Bit().constData()));
        QCOMPARE(qvtest::fileBytes(path),
                 kTrendCsvHeader + QByteArray("\r\n"
                                              "0.000000,1000,1024,990,1010,1000,1047,34,47\r\n"
                                              "0.000001,65535,0,7,0,0,0,65535,0\r\n"));
        // A folder that is not there: refused.
        QVERIFY(!WriteTrendCsv(store, dir.filePath("missing/trend.csv").toLocal8Bit().constData()));
    }

    void followsGoHoldsStillOnPauseKeepsWhileClosed() {
        qvtest::PopupRecorder popups;
        qvtest::click(panel, P_BUTTONTREND);
        QVERIFY(qvtest::waitFor(shown));
        QList<QPointF> paused;
        int keptAtPause = 0;
        QVERIFY(go(2000, [&] {
            qvtest::grabPanel(trendpanel, qvtest::picture("trend-go.png"));
            qvtest::click(trendpanel, TRENDP_BUTTONPAUSE);
            qvtest::waitFor([] { return trendpaused; });
            paused = rawRed();
            keptAtPause = shownKept();
        }));
        QVERIFY(qvtest::grabPanel(trendpanel, qvtest::picture("trend-paused.png")));
        QCOMPARE(rawRed(), paused);
        QVERIFY2(shownKept() > keptAtPause, "the count of readings kept stood still");
        qvtest::click(trendpanel, TRENDP_BUTTONPAUSE);
        QVERIFY(go(100));
        const QList<QPointF> resumed = rawRed();
        QVERIFY(resumed != paused);
        // Two points at most per column of two pixels, however many readings came.
        QVERIFY(trendreadings.size() > 4000);
        QVERIFY(resumed.size() <= 728);
        for (const QPointF &p : resumed)
            QVERIFY(p.x() >= -60.0 && p.x() <= 0.0 && p.y() >= 700 && p.y() <= 1300);

        // Closed, the window draws nothing new, but the readings are kept.
        rt::testing::PanelWidget(trendpanel)->close();
        QVERIFY(qvtest::waitFor([] { return !shown(); }));
        QVERIFY(go(100));
        QCOMPARE(rawRed(), resumed);
        QCOMPARE(popups.count(), std::size_t(0));
    }

    // TREND shows the window again. A cancelled save writes nothing; a save names the file in
    // the status line as it was typed, and the next starts in its folder; a save that fails
    // names the path in its box.
    void savesWhatIsKept() {
        qvtest::click(panel, P_BUTTONTREND);
        QVERIFY(qvtest::waitFor(shown));
        QTemporaryDir dir;
        const QString name = QString::fromUtf8("Pr\u00FCfung-\u00E4.csv"),
                      path = dir.filePath(name);
        const QString missing = dir.filePath(QString::fromUtf8("fehlt-\u00F6/x.csv"));
        qvtest::PopupRecorder popups;
        popups.saveAs = {"", QFile::encodeName(path).toStdString(),
                         QFile::encodeName(missing).toStdString()};
        const auto save = [&] {
            const std::size_t before = popups.count();
            qvtest::click(trendpanel, TRENDP_BUTTONSAVECSV);
            return qvtest::waitFor([&] { return popups.count() > before; }) &&
                   (qvtest::pump(20), true);
        };
        QVERIFY(save() && !QFile::exists(path));
        QVERIFY(save());
        QCOMPARE(qvtest::shownText(trendpanel, TRENDP_STATUS),
                 QString("SAVED %1 READINGS TO %2").arg(trendreadings.size()).arg(name));
        // Every kept reading (their bytes: savedCsvIsExact), each line with the header's fields
        // and its seconds with a decimal point.
        const QList<QByteArrayList> rows = qvtest::csvRows(qvtest::fileBytes(path));
        QCOMPARE(rows.size(), int(trendreadings.size()) + 1);
        for (const QByteArrayList &row : rows.mid(1)) {
            QCOMPARE(row.size(), rows[0].size());
            QVERIFY2(QRegularExpression("^\\d+\\.\\d{6}$").match(row[0]).hasMatch(), row[0]);
        }
        QVERIFY(save());
        QCOMPARE(QByteArray(popups.last().title.c_str()), QByteArray("ATTENTION!"));
        QVERIFY(QString::fromStdString(popups.last().text).contains(missing));
        QVERIFY(QByteArray(popups.popups[popups.count() - 2].text.c_str())
                    .startsWith(QFile::encodeName(dir.path()) + "/quorvat-trend-"));
    }
};

QTEST_MAIN(TrendTest)
#include "test_trend.moc"

// The trend's store of readings and marks, its CSV, the value axis and where the window goes, on
// their own; its window with the simulator as the sensor.
#include "platform/canvas.h"
#include "platform/settings.h"
#include "platform/testing.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "tests/support/rig.h"
#include "tests/support/support.h"
#include "trend/placement.h"
#include "trend/trend.h"
#include "trend/trendview.h"
#include "trend/trendwindow.h"

#include <QChartView>
#include <QFile>
#include <QGraphicsSimpleTextItem>
#include <QLineSeries>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QValueAxis>

#include <cmath>
#include <memory>

using namespace qv;

namespace {

// The points of the raw red line, all its pieces, oldest first.
QList<QPointF> rawRed() {
    QList<QPointF> points;
    if (auto *view = rt::CanvasWidget(trendpanel, TRENDP_CHART)->findChild<QChartView *>())
        for (QAbstractSeries *s : view->chart()->series())
            if (s->name().startsWith(QLatin1String("RAW R")))
                points += static_cast<QLineSeries *>(s)->points();
    return points;
}

QChart *chart() {
    auto *view = rt::CanvasWidget(trendpanel, TRENDP_CHART)->findChild<QChartView *>();
    return view ? view->chart() : nullptr;
}

QValueAxis *shownAxis() {
    return static_cast<QValueAxis *>(chart()->axes(Qt::Vertical).value(0));
}

// The labels of the marks the chart shows, oldest first.
QStringList markLabels() {
    QList<QGraphicsSimpleTextItem *> items;
    for (QGraphicsItem *item : chart()->childItems())
        if (auto *text = dynamic_cast<QGraphicsSimpleTextItem *>(item); text && text->isVisible())
            items << text;
    std::sort(items.begin(), items.end(), [](auto *a, auto *b) { return a->x() < b->x(); });
    QStringList labels;
    for (auto *item : items)
        labels << item->text();
    return labels;
}

QList<double> markTimes(const ReadingStore &store) {
    QList<double> times;
    for (std::size_t i = 0; i < store.marks(); ++i)
        times << store.markAt(i).seconds;
    return times;
}

// The trend window's inside on the screen.
QRect placeOf(int handle) {
    const int attributes[4] = {rt::ATTR_LEFT, rt::ATTR_TOP, rt::ATTR_WIDTH, rt::ATTR_HEIGHT};
    int r[4] = {};
    for (int i = 0; i < 4; ++i)
        rt::GetPanelAttribute(handle, attributes[i], &r[i]);
    return {r[0], r[1], r[2], r[3]};
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
        // A slow wave on red (a period of 25,000 readings, longer than a column of the narrowest
        // chart holds), so that every picture differs from the one before.
        rig_->sim().setReadingSource([](std::uint64_t i) {
            return qvsim::Rgb{std::uint16_t(1000 + 300 * std::sin(double(i) / 4000)), 2000, 3000};
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

    // A mark goes once it is older than the oldest reading kept (one made before any reading,
    // with the first), or ten minutes old, or beyond its own capacity.
    void marksGoWithTheReadings() {
        ReadingStore store(3);
        const std::uint16_t v[kTrendChannels] = {1, 2, 3, 4, 5, 6};
        store.mark(1.0, TrendEvent::CalibrationStart);
        store.add(2.0, v);
        store.add(3.0, v);
        store.mark(3.5, TrendEvent::CalibrationEnd);
        store.add(4.0, v);
        QCOMPARE(markTimes(store), (QList<double>{1.0, 3.5}));
        store.add(5.0, v); // 2.0 goes
        QCOMPARE(markTimes(store), QList<double>{3.5});
        QCOMPARE(store.markAt(0).event, TrendEvent::CalibrationEnd);
        store.add(6.0, v); // 3.0 goes
        QCOMPARE(markTimes(store), QList<double>{});
        ReadingStore idle;
        idle.mark(0.0, TrendEvent::Finish);
        idle.mark(600.5, TrendEvent::Finish);
        QCOMPARE(markTimes(idle), QList<double>{600.5});
        for (std::size_t i = 0; i < ReadingStore::kMarkCapacity; ++i)
            idle.mark(601.0 + double(i), TrendEvent::Finish);
        QCOMPARE(idle.marks(), ReadingStore::kMarkCapacity);
        QCOMPARE(idle.markAt(0).seconds, 601.0);
    }

    // Off: 0 to 4096 and on in steps of it, like the bars. FIT: the readings' range with a
    // margin, in whole steps, never below 0.
    void valueAxis_data() {
        QTest::addColumn<bool>("fit");
        QTest::addColumn<int>("least");
        QTest::addColumn<int>("most");
        QTest::addColumn<QList<int>>("axis"); // low, high, step
        QTest::addRow("nothing in view") << true << 1 << 0 << QList<int>{0, 4096, 1024};
        QTest::addRow("off") << false << 950 << 1050 << QList<int>{0, 4096, 1024};
        QTest::addRow("off, above 4096") << false << 950 << 5000 << QList<int>{0, 8192, 2048};
        QTest::addRow("a calibration") << true << 950 << 1050 << QList<int>{900, 1100, 50};
        QTest::addRow("flat") << true << 1000 << 1000 << QList<int>{995, 1005, 5};
        QTest::addRow("near 0") << true << 0 << 3 << QList<int>{0, 8, 2};
        QTest::addRow("full range") << true << 0 << 65535 << QList<int>{0, 80000, 20000};
    }
    void valueAxis() {
        QFETCH(bool, fit);
        QFETCH(int, least);
        QFETCH(int, most);
        QFETCH(QList<int>, axis);
        const TrendAxis a = TrendValueAxis(fit, least, most);
        QCOMPARE((QList<int>{a.low, a.high, a.step}), axis);
    }

    // Rectangles with frames (a title bar of 20, borders of 1, as a window manager draws them):
    // the main panel, its commands, the screen's free part -> the trend window.
    void placement_data() {
        QTest::addColumn<QRect>("main");
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QRect>("place");
        const QRect mainTopLeft(0, 0, 762, 533);
        QTest::addRow("1600x1200, main top left: right, whole")
            << mainTopLeft << QRect(0, 0, 1600, 1200) << QRect(770, 0, 762, 509);
        QTest::addRow("1600x1200, main centred: below, as high as it can")
            << QRect(419, 333, 762, 533) << QRect(0, 0, 1600, 1200) << QRect(419, 874, 762, 326);
        QTest::addRow("1920x1080, main top left: right, whole")
            << mainTopLeft << QRect(0, 0, 1920, 1080) << QRect(770, 0, 762, 509);
        QTest::addRow("1920x1080, main centred: right, as wide as it can")
            << QRect(579, 273, 762, 533) << QRect(0, 0, 1920, 1080) << QRect(1349, 273, 571, 509);
        QTest::addRow("1366x768, main top left: right, narrower")
            << mainTopLeft << QRect(0, 0, 1366, 768) << QRect(770, 0, 596, 509);
        QTest::addRow("task bar at the left, main at the right: below")
            << QRect(1158, 0, 762, 533) << QRect(64, 0, 1856, 1080) << QRect(1158, 541, 762, 509);
        QTest::addRow("1024x768: over the readings' right part, smallest")
            << mainTopLeft << QRect(0, 0, 1024, 768) << QRect(482, 35, 542, 321);
        QTest::addRow("640x480: over the readings, smallest")
            << mainTopLeft << QRect(0, 0, 640, 480) << QRect(0, 35, 542, 321);
        QTest::addRow("500x400: no room at all, top left")
            << mainTopLeft << QRect(0, 0, 500, 400) << QRect(0, 0, 542, 321);
    }
    void placement() {
        QFETCH(QRect, main);
        QFETCH(QRect, screen);
        QFETCH(QRect, place);
        // The command group and the status line, inside the frame.
        const QRect commands = QRect(main.left() + 17, main.top() + 364, 728, 154);
        auto rect = [](const QRect &r) {
            return PlaceRect{r.left(), r.top(), r.width(), r.height()};
        };
        const PlaceRect got =
            PlaceBesideMain(rect(main), rect(commands), rect(screen), {762, 509}, {542, 321});
        QCOMPARE(QRect(got.left, got.top, got.width, got.height), place);
        QVERIFY(!place.intersects(commands));
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

    // Seconds since the first line, raw, calibrated and both spreads, an empty event; a mark a
    // line of its own in its place, the reading columns empty; CR LF line ends.
    void savedCsvIsExact() {
        ReadingStore store(2);
        store.add(5.0, {1, 2, 3, 4, 5, 6});
        store.mark(5.5, TrendEvent::CalibrationStart); // goes with the reading after it
        store.add(100.25, {1000, 1024, 990, 1010, 1000, 1047});
        store.mark(100.2500004, TrendEvent::CalibrationEnd);
        store.add(100.250001, {65535, 0, 7, 0, 0, 0});
        store.mark(100.3, TrendEvent::Finish);
        QTemporaryDir dir;
        const QString path = dir.filePath("trend.csv");
        QVERIFY(WriteTrendCsv(store, path.toLocal8Bit().constData()));
        QCOMPARE(qvtest::fileBytes(path),
                 kTrendCsvHeader + QByteArray("\r\n"
                                              "0.000000,1000,1024,990,1010,1000,1047,34,47,\r\n"
                                              "0.000000,,,,,,,,,calibration end\r\n"
                                              "0.000001,65535,0,7,0,0,0,65535,0,\r\n"
                                              "0.050000,,,,,,,,,finish\r\n"));
        QVERIFY(QByteArray(kTrendCsvHeader).endsWith(",delta_cal,event"));
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
        // FIT fits the held picture: every line's range, with its margin; again, 0 to 4096.
        double least = 1e9, most = -1;
        for (QAbstractSeries *series : chart()->series())
            for (const QPointF &p : static_cast<QLineSeries *>(series)->points()) {
                least = std::min(least, p.y());
                most = std::max(most, p.y());
            }
        const TrendAxis fitted = TrendValueAxis(true, int(least), int(most));
        for (bool fit : {true, false}) {
            qvtest::click(trendpanel, TRENDP_BUTTONFIT);
            QVERIFY(qvtest::waitFor([fit] { return trendfit == fit; }));
            const TrendAxis want = fit ? fitted : TrendAxis{0, 4096, 1024};
            QCOMPARE(shownAxis()->min(), double(want.low));
            QCOMPARE(shownAxis()->max(), double(want.high));
        }
        QCOMPARE(rawRed(), paused);
        // The count follows at the pace of the drawing, which a busy machine slows.
        QVERIFY2(qvtest::waitFor([keptAtPause] { return shownKept() > keptAtPause; }),
                 "the count of readings kept stood still");
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

    // A calibration's series and a FINISH are marked where they ran, drawn with their labels,
    // FINISH after STOP too, and saved as lines of their own.
    void marksTheCalibrationAndTheFinish() {
        rig_->reset();
        qvtest::PopupRecorder popups; // yes to everything
        qvtest::click(panel, P_BUTTONTREND);
        QVERIFY(qvtest::waitFor(shown));
        const std::size_t before = trendreadings.marks();
        qvtest::whenever([before] { return trendreadings.marks() == before + 2 && poll; },
                         [] { qvtest::click(panel, P_BUTTONSTOP); });
        qvtest::click(panel, P_BUTTONCALCCF);
        QVERIFY(qvtest::waitFor([before] { return trendreadings.marks() == before + 2; }));
        QVERIFY(qvtest::waitFor(qvtest::commandsLive, 10000));
        qvtest::click(panel, P_BUTTONFINISHCALIB);
        QVERIFY(qvtest::waitFor([before] { return trendreadings.marks() == before + 3; }));
        QVERIFY(qvtest::waitFor(qvtest::commandsLive, 10000));
        QList<TrendEvent> events;
        for (std::size_t i = before; i < trendreadings.marks(); ++i)
            events << trendreadings.markAt(i).event;
        QCOMPARE(events, (QList<TrendEvent>{TrendEvent::CalibrationStart,
                                            TrendEvent::CalibrationEnd, TrendEvent::Finish}));
        qvtest::click(trendpanel, TRENDP_BUTTONFIT);
        QVERIFY(qvtest::waitFor([] { return markLabels().endsWith("FINISH"); }));
        QVERIFY(markLabels().join(' ').endsWith("CALIB. START CALIB. END FINISH"));
        QVERIFY(qvtest::grabPanel(trendpanel, qvtest::picture("trend-marks.png")));
        qvtest::click(trendpanel, TRENDP_BUTTONFIT);
        QTemporaryDir dir;
        const QString path = dir.filePath("marks.csv");
        QVERIFY(WriteTrendCsv(trendreadings, QFile::encodeName(path).constData()));
        QByteArrayList names;
        for (const QByteArray &line : qvtest::fileBytes(path).split('\n'))
            if (!line.isEmpty()) {
                QCOMPARE(line.count(','), 9);
                if (!line.endsWith(",\r"))
                    names << line.mid(line.lastIndexOf(',') + 1).chopped(1);
            }
        QVERIFY(names.join(';').endsWith("calibration start;calibration end;finish"));
    }

    // Beside the main panel, clear of its commands; then where the operator put it, kept in the
    // settings file for the next run; without the file, beside the main panel again.
    void opensBesideTheMainPanelThenWhereItWasPut() {
        QTemporaryDir dir;
        const QByteArray ini = QFile::encodeName(dir.filePath(kSettingsFileName));
        QCOMPARE(rt::SettingsOpen(ini.constData()), 0);
        TrendKeepClear({P_GROUPCOMMANDS, P_DISPSTATUS, P_IPADRESS, P_COMPORT});
        const QRect commands = qvtest::widget(panel, P_GROUPCOMMANDS)
                                   ->geometry()
                                   .united(qvtest::widget(panel, P_DISPSTATUS)->geometry())
                                   .translated(placeOf(panel).topLeft());
        QList<QRect> places;
        auto open = [&] {
            qvtest::loadPanels(); // as at the next start
            rt::DisplayPanel(panel);
            qvtest::click(panel, P_BUTTONTREND);
            QVERIFY(qvtest::waitFor(shown));
            places << placeOf(trendpanel);
        };
        open();
        QVERIFY(!places[0].intersects(commands));
        rt::SetPanelPos(trendpanel, 77, 66);
        rt::testing::PanelWidget(trendpanel)->close();
        QVERIFY(qvtest::waitFor([] { return !shown(); }));
        QVERIFY(qvtest::fileBytes(ini).contains("left=66\ntop=77\n"));
        open();
        QCOMPARE(places[1], QRect(QPoint(66, 77), places[0].size()));
        QVERIFY(QFile::remove(ini));
        open();
        QCOMPARE(places[2], places[0]);
        rt::SettingsClose();
    }
};

QTEST_MAIN(TrendTest)
#include "test_trend.moc"

// The trend window with the simulator as the sensor: TREND opens it beside the main panel, it
// follows GO, holds still on PAUSE while the readings are still kept, keeps them while closed,
// and SAVE CSV writes what is kept. The pictures it takes are for looking at.
#include "platform/canvas.h"
#include "platform/testing.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "tests/support/rig.h"
#include "tests/support/support.h"
#include "trend/trend.h"

#include <QChartView>
#include <QCoreApplication>
#include <QDir>
#include <QLineSeries>
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

class TrendWindowTest : public QObject {
    Q_OBJECT
    std::unique_ptr<qvtest::SensorRig> rig_;

  private slots:
    void initTestCase() {
        qvtest::loadPanels();
        rig_ = std::make_unique<qvtest::SensorRig>(qvtest::quietSensor("TREND TEST SENSOR V1.00"));
        qvtest::setStartupSizes();
        // A slow wave on red, so that every picture differs from the one before.
        rig_->sim().setReadingSource([](std::uint64_t i) {
            return qvsim::Rgb{std::uint16_t(1000 + 300 * std::sin(double(i) / 400)), 2000, 3000};
        });
        rig_->connect(qvtest::Link::Tcp);
    }

    void followsGoHoldsStillOnPauseKeepsWhileClosed() {
        qvtest::PopupRecorder popups;
        const QString shots = QCoreApplication::applicationDirPath() + "/screenshots/";
        QDir().mkpath(shots);
        qvtest::click(panel, P_BUTTONTREND);
        QVERIFY(qvtest::waitFor(shown));
        QList<QPointF> paused;
        int keptAtPause = 0;
        QVERIFY(go(2000, [&] {
            qvtest::grabPanel(trendpanel, shots + "trend-go.png");
            qvtest::click(trendpanel, TRENDP_BUTTONPAUSE);
            qvtest::waitFor([] { return trendpaused; });
            paused = rawRed();
            keptAtPause = shownKept();
        }));
        QVERIFY(!paused.isEmpty());
        QVERIFY(qvtest::grabPanel(trendpanel, shots + "trend-paused.png"));
        QCOMPARE(rawRed(), paused);
        QVERIFY2(shownKept() > keptAtPause, "the count of readings kept stood still");
        qvtest::click(trendpanel, TRENDP_BUTTONPAUSE);
        QVERIFY(go(100));
        QVERIFY(!trendpaused);
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
        QCOMPARE(qvtest::ctrlText(trendpanel, TRENDP_STATUS), QByteArray(""));
    }

    // TREND shows the window again. A cancelled save writes nothing; a save names the file in
    // the status line, and the next starts in its folder.
    void savesWhatIsKept() {
        qvtest::click(panel, P_BUTTONTREND);
        QVERIFY(qvtest::waitFor(shown));
        QTemporaryDir dir;
        const QString path = dir.filePath("kept.csv");
        qvtest::PopupRecorder popups;
        popups.saveAs = {"", path.toStdString(), ""};
        for (int i = 1; i <= 3; ++i) {
            qvtest::click(trendpanel, TRENDP_BUTTONSAVECSV);
            QVERIFY(qvtest::waitFor([&] { return popups.count() == std::size_t(i); }));
            qvtest::pump(20);
            QCOMPARE(QFile::exists(path), i > 1);
        }
        QCOMPARE(QByteArray(popups.last().title.c_str()), QByteArray("SAVE CSV"));
        QVERIFY(QByteArray(popups.last().text.c_str())
                    .startsWith(QFile::encodeName(dir.path()) + "/quorvat-trend-"));
        const QList<QByteArray> lines = qvtest::fileBytes(path).split('\n');
        QCOMPARE(lines.size() - 2, qsizetype(trendreadings.size())); // header, empty tail
        QVERIFY(lines[0].startsWith("seconds,raw_r"));
        QVERIFY(lines[1].startsWith("0.000000,"));
        QVERIFY(lines[1].contains(",2000,3000,") && lines[1].endsWith("\r"));
        QCOMPARE(qvtest::ctrlText(trendpanel, TRENDP_STATUS),
                 "SAVED " + QByteArray::number(qulonglong(trendreadings.size())) +
                     " READINGS TO kept.csv");
    }
};

QTEST_MAIN(TrendWindowTest)
#include "test_trendwindow.moc"

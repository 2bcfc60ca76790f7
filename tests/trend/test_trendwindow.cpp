// The trend window with the simulator as the sensor: TREND opens it beside the main panel, it
// follows GO, holds still on PAUSE while the readings are still kept, and SAVE CSV writes what is
// kept. The pictures it takes are for looking at.
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

using namespace qv;
using qvtest::Link;

namespace {

// The points of one line, all its pieces, oldest first.
QList<QPointF> line(const char *name) {
    QList<QPointF> points;
    if (auto *view = rt::CanvasWidget(trendpanel, TRENDP_CHART)->findChild<QChartView *>())
        for (QAbstractSeries *s : view->chart()->series())
            if (s->name() == QLatin1String(name))
                points += static_cast<QLineSeries *>(s)->points();
    return points;
}

QByteArray trendStatus() {
    char text[300] = "";
    rt::GetCtrlVal(trendpanel, TRENDP_STATUS, text);
    return text;
}

int shownKept() {
    rt::testing::FlushDisplays();
    int kept = -1;
    rt::GetCtrlVal(trendpanel, TRENDP_KEPT, &kept);
    return kept;
}

QString picture(const char *name) {
    const QString dir = QCoreApplication::applicationDirPath() + "/screenshots";
    QDir().mkpath(dir);
    return dir + "/" + name;
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
        rig_->connect(Link::Tcp);
    }

    void followsGoAndHoldsStillOnPause() {
        qvtest::click(panel, P_BUTTONTREND);
        QVERIFY(qvtest::waitFor([] { return rt::testing::PanelWidget(trendpanel)->isVisible(); }));
        QVERIFY(rt::CanvasWidget(trendpanel, TRENDP_CHART)->findChild<QChartView *>());
        QList<QPointF> paused, stillPaused, resumed;
        int keptAtPause = 0, keptLater = 0;
        const std::uint64_t start = trendreadings.added();
        qvtest::whenever(
            [&] { return trendreadings.added() > start + 2000 && !line("RAW RED").isEmpty(); },
            [&] {
                qvtest::grabPanel(trendpanel, picture("trend-go.png"));
                qvtest::click(trendpanel, TRENDP_BUTTONPAUSE);
                qvtest::whenever(
                    [] { return trendpaused; },
                    [&] {
                        paused = line("RAW RED");
                        keptAtPause = shownKept();
                        const std::uint64_t at = trendreadings.added();
                        qvtest::whenever(
                            [at] { return trendreadings.added() > at + 2000; },
                            [&] {
                                qvtest::grabPanel(trendpanel, picture("trend-paused.png"));
                                stillPaused = line("RAW RED");
                                keptLater = shownKept();
                                qvtest::click(trendpanel, TRENDP_BUTTONPAUSE);
                                qvtest::whenever([] { return !trendpaused; },
                                                 [&] {
                                                     resumed = line("RAW RED");
                                                     qvtest::click(panel, P_BUTTONSTOP);
                                                 });
                            });
                    });
            });
        qvtest::PopupRecorder popups;
        qvtest::click(panel, P_BUTTONGO);
        QVERIFY(qvtest::waitFor([&] { return !resumed.isEmpty(); }, 20000));
        qvtest::pump(30);
        QCOMPARE(popups.count(), std::size_t(0));
        QVERIFY(!paused.isEmpty());
        QCOMPARE(stillPaused, paused);
        QVERIFY2(keptLater > keptAtPause, "the count of readings kept stood still");
        QVERIFY(resumed != paused);
        QCOMPARE(trendStatus(), QByteArray(""));
        // Two points at most per column of two pixels, however many readings came.
        QVERIFY(trendreadings.size() > 4000);
        QVERIFY(resumed.size() <= 728);
        for (const QPointF &p : resumed)
            QVERIFY(p.x() >= -60.0 && p.x() <= 0.0 && p.y() >= 700 && p.y() <= 1300);
    }

    void savesWhatIsKept() {
        QTemporaryDir dir;
        const QString path = dir.filePath("kept.csv");
        qvtest::PopupRecorder popups;
        popups.saveAs = {"", path.toStdString()}; // cancelled once, then a file
        qvtest::click(trendpanel, TRENDP_BUTTONSAVECSV);
        qvtest::pump(50);
        QVERIFY(!QFile::exists(path));
        qvtest::click(trendpanel, TRENDP_BUTTONSAVECSV);
        QVERIFY(qvtest::waitFor([&] { return QFile::exists(path); }));
        QCOMPARE(popups.count(), std::size_t(2));
        QCOMPARE(QByteArray(popups.last().title.c_str()), QByteArray("SAVE CSV"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().split('\n');
        QCOMPARE(lines.size() - 2, qsizetype(trendreadings.size())); // header, empty tail
        QVERIFY(lines[0].startsWith("seconds,raw_r"));
        QVERIFY(lines[1].startsWith("0.000000,"));
        QVERIFY(lines[1].contains(",2000,3000,") && lines[1].endsWith("\r"));
        QCOMPARE(trendStatus(), QByteArray("SAVED ") +
                                    QByteArray::number(qulonglong(trendreadings.size())) +
                                    " READINGS TO kept.csv");
        // The next save starts in the folder of this one.
        popups.saveAs = {""};
        qvtest::click(trendpanel, TRENDP_BUTTONSAVECSV);
        QVERIFY(qvtest::waitFor([&] { return popups.count() == 3; }));
        QVERIFY(QByteArray(popups.last().text.c_str())
                    .startsWith(QDir::toNativeSeparators(dir.path()).toLocal8Bit() +
                                "/quorvat-trend-"));
    }

    // The close box hides the window; readings are still kept while it is closed.
    void closedWindowStillKeeps() {
        rt::testing::PanelWidget(trendpanel)->close();
        QVERIFY(qvtest::waitFor([] { return !rt::testing::PanelWidget(trendpanel)->isVisible(); }));
        const std::uint64_t before = trendreadings.added();
        const QList<QPointF> shown = line("RAW RED");
        qvtest::whenever([before] { return trendreadings.added() > before + 100; },
                         [] { qvtest::click(panel, P_BUTTONSTOP); });
        qvtest::click(panel, P_BUTTONGO);
        QVERIFY(qvtest::waitFor([before] { return trendreadings.added() > before + 100; }));
        qvtest::pump(50);
        QCOMPARE(line("RAW RED"), shown);
    }
};

QTEST_MAIN(TrendWindowTest)
#include "test_trendwindow.moc"

#include "trend/trendview.h"

#include "platform/canvas.h"
#include "platform/userint.h"
#include "platform/utility.h"
#include "trend/trend.h"

#include <QChart>
#include <QChartView>
#include <QElapsedTimer>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace qv {

using namespace rt;

namespace {

// A redraw may come once a screen frame, and may take at most this share of the time: the GO
// loop runs on the same thread, and every millisecond spent drawing is one it waits. A column
// holds 1/6 s of the minute, so even a few pictures a second show every new column.
constexpr double kFrameSeconds = 1.0 / 60.0;
constexpr double kDrawShare = 0.01;
constexpr int kValueStep = 4096; // the bars' range; the axis grows in steps of it
// A line breaks where no reading came for this long (between two GO runs, say); shorter pauses,
// such as the half second between a calibration's series and its GO, are bridged. Each line has
// a few pieces; beyond them the last piece bridges the rest.
constexpr double kGapSeconds = 1.0;
constexpr int kPieces = 8;

// clang-format off
struct Line {
    const char *name;
    int color;
    bool dashed;
};
const Line kLines[kTrendChannels] = {
    {"RAW RED",    0xD03030, false},
    {"RAW GREEN",  0x2E9E3E, false},
    {"RAW BLUE",   0x2F62D8, false},
    {"CAL. RED",   0xD03030, true},
    {"CAL. GREEN", 0x2E9E3E, true},
    {"CAL. BLUE",  0x2F62D8, true},
};
// clang-format on

// Times what the trend window's repaints take, painting and showing them: they come after the
// redraw itself, from the event loop. It handles the update itself, so as to time all of it.
class PaintTimer : public QObject {
  public:
    using QObject::QObject;
    double seconds = 0;

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() != QEvent::UpdateRequest || inside_)
            return false;
        inside_ = true;
        QElapsedTimer t;
        t.start();
        watched->event(event);
        seconds += static_cast<double>(t.nsecsElapsed()) * 1e-9;
        inside_ = false;
        return true;
    }

  private:
    bool inside_ = false;
};

struct View {
    int panel = 0;
    QPointer<QChartView> chart;  // a child of the canvas: goes with its panel
    PaintTimer *paint = nullptr; // a child of the chart
    QLineSeries *series[kTrendChannels][kPieces] = {};
    QValueAxis *valueAxis = nullptr;
    int valueTop = kValueStep;
    QTimer *timer = nullptr;
    bool following = false;
    bool due = false;        // the timer is set for a redraw
    double lastStart = -1e9; // Timer() when the last redraw began
    double drawSeconds = 0;  // its own time; its painting is counted by `paint`
    std::vector<TrendColumn> columns;
    QList<QPointF> points;
};

View g_view;

QColor rgb(int c) {
    return QColor((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF);
}

void draw();

void showKept() {
    SetCtrlVal(g_view.panel, TRENDP_KEPT, static_cast<long long>(trendreadings.size()));
}

bool build(int panel, int canvas) {
    QWidget *area = CanvasWidget(panel, canvas);
    if (!area) {
        std::fprintf(stderr, "quorvat: the trend window has no chart area (control %d)\n", canvas);
        return false;
    }
    View &v = g_view;
    v.panel = panel;
    v.valueTop = kValueStep;
    auto *chart = new QChart;
    chart->setBackgroundRoundness(0);
    chart->setMargins(QMargins(4, 4, 8, 4));
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->legend()->setMarkerShape(QLegend::MarkerShapeFromSeries);
    QFont font = area->font();
    chart->legend()->setFont(font);

    auto *timeAxis = new QValueAxis;
    timeAxis->setRange(-kTrendSpanSeconds, 0);
    timeAxis->setTickCount(7);
    timeAxis->setLabelFormat("%.0f");
    timeAxis->setTitleText("TIME [s], 0 = LAST READING");
    v.valueAxis = new QValueAxis;
    v.valueAxis->setRange(0, kValueStep);
    v.valueAxis->setTickCount(5);
    v.valueAxis->setLabelFormat("%.0f");
    v.valueAxis->setTitleText("VALUE");
    for (QValueAxis *axis : {timeAxis, v.valueAxis}) {
        axis->setLabelsFont(font);
        axis->setTitleFont(font);
    }
    chart->addAxis(timeAxis, Qt::AlignBottom);
    chart->addAxis(v.valueAxis, Qt::AlignLeft);
    for (int k = 0; k < kTrendChannels; ++k)
        for (int piece = 0; piece < kPieces; ++piece) {
            auto *s = new QLineSeries;
            s->setName(kLines[k].name);
            QPen pen(rgb(kLines[k].color));
            pen.setWidthF(1.5);
            if (kLines[k].dashed)
                pen.setDashPattern({4, 3});
            s->setPen(pen);
            chart->addSeries(s);
            s->attachAxis(timeAxis);
            s->attachAxis(v.valueAxis);
            if (piece > 0) // one legend entry per line
                chart->legend()->markers(s).value(0)->setVisible(false);
            v.series[k][piece] = s;
        }
    v.chart = new QChartView(chart, area);
    v.paint = new PaintTimer(v.chart);
    area->window()->installEventFilter(v.paint);
    auto *layout = new QVBoxLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(v.chart);
    v.chart->show();

    // A discarded panel takes the chart with it; a later show builds a new one.
    QObject::connect(v.chart, &QObject::destroyed, [] {
        g_view.following = false;
        g_view.due = false;
        g_view.timer->stop();
    });
    if (v.timer)
        return true;
    v.timer = new QTimer; // lives as long as the program, like the readings
    v.timer->setSingleShot(true);
    QObject::connect(v.timer, &QTimer::timeout, [] {
        View &w = g_view;
        w.due = false;
        if (!w.following || !w.chart)
            return;
        if (trendpaused) {
            // The picture holds still; the count of readings kept goes on.
            w.lastStart = Timer();
            w.drawSeconds = w.paint->seconds = 0;
            showKept();
            return;
        }
        // By now the last picture has been painted too: its whole cost decides whether this
        // one may come yet.
        const double cost = w.drawSeconds + w.paint->seconds;
        const double wait = w.lastStart + std::max(kFrameSeconds, cost / kDrawShare) - Timer();
        if (wait > 0) {
            w.due = true;
            w.timer->start(static_cast<int>(std::ceil(wait * 1000)));
            return;
        }
        draw();
    });
    return true;
}

// Each line is the range of its channel per column of two pixels: as cheap at 12,000 readings a
// second as at 20, and a spike of one reading still shows.
void draw() {
    View &v = g_view;
    if (!v.chart)
        return;
    v.lastStart = Timer();
    v.paint->seconds = 0;
    const ReadingStore &store = trendreadings;
    const int count =
        std::clamp(static_cast<int>(v.chart->chart()->plotArea().width()) / 2, 60, 2048);
    v.columns.resize(static_cast<std::size_t>(count));
    const double newest = store.newest();
    store.columns(newest - kTrendSpanSeconds, newest, v.columns.data(), count);
    const double perColumn = kTrendSpanSeconds / count;
    const int gapColumns = static_cast<int>(std::ceil(kGapSeconds / perColumn));
    int highest = 0;
    for (int k = 0; k < kTrendChannels; ++k) {
        int piece = 0, empty = 0;
        v.points.clear();
        for (int col = 0; col < count; ++col) {
            const TrendColumn &c = v.columns[static_cast<std::size_t>(col)];
            if (!c.any) {
                ++empty;
                continue;
            }
            if (empty >= gapColumns && !v.points.isEmpty() && piece + 1 < kPieces) {
                v.series[k][piece++]->replace(v.points);
                v.points.clear();
            }
            empty = 0;
            const double x = -kTrendSpanSeconds + (col + 0.5) * perColumn;
            v.points.append(QPointF(x, c.low[k]));
            if (c.high[k] != c.low[k])
                v.points.append(QPointF(x, c.high[k]));
            highest = std::max<int>(highest, c.high[k]);
        }
        v.series[k][piece++]->replace(v.points);
        for (; piece < kPieces; ++piece)
            if (v.series[k][piece]->count() > 0)
                v.series[k][piece]->clear();
    }
    const int top = std::max(kValueStep, (highest + kValueStep - 1) / kValueStep * kValueStep);
    if (top != v.valueTop) {
        v.valueTop = top;
        v.valueAxis->setRange(0, top);
    }
    showKept();
    v.drawSeconds = Timer() - v.lastStart;
}

} // namespace

void TrendViewShow(int panel, int canvas) {
    if (!g_view.chart && !build(panel, canvas))
        return;
    g_view.following = true;
    draw();
}

void TrendViewStop() {
    View &v = g_view;
    v.following = false;
    v.due = false;
    if (v.timer)
        v.timer->stop();
}

void TrendViewReadingAdded() {
    View &v = g_view;
    if (!v.following || v.due)
        return;
    v.due = true;
    const double wait = v.lastStart + kFrameSeconds - Timer();
    v.timer->start(wait > 0 ? static_cast<int>(std::ceil(wait * 1000)) : 0);
}

void TrendViewDraw() {
    draw();
}

} // namespace qv

#include "trend/trendview.h"

#include "platform/canvas.h"
#include "platform/userint.h"
#include "platform/utility.h"
#include "trend/trend.h"

#include <QChart>
#include <QChartView>
#include <QElapsedTimer>
#include <QGraphicsLineItem>
#include <QGraphicsSimpleTextItem>
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
// Marks drawn at most, the newest: a calibration makes two, and takes seconds.
constexpr std::size_t kMarksShown = 16;
constexpr int kMarkColor = 0x505050;
constexpr int kLabelRows = 3; // labels of marks close together go one under the other

// clang-format off
struct Line {
    const char *name;
    const char *shortName; // for the legend of a window made narrower than the resource's
    int color;
    bool dashed;
};
const Line kLines[kTrendChannels] = {
    {"RAW RED",    "RAW R",  0xD03030, false},
    {"RAW GREEN",  "RAW G",  0x2E9E3E, false},
    {"RAW BLUE",   "RAW B",  0x2F62D8, false},
    {"CAL. RED",   "CAL. R", 0xD03030, true},
    {"CAL. GREEN", "CAL. G", 0x2E9E3E, true},
    {"CAL. BLUE",  "CAL. B", 0x2F62D8, true},
};
// Below this width of the chart the full names no longer fit the legend's one row.
constexpr int kFullNamesWidth = 680;
// clang-format on

const char *markLabel(TrendEvent event) {
    switch (event) {
    case TrendEvent::CalibrationStart:
        return "CALIB. START";
    case TrendEvent::CalibrationEnd:
        return "CALIB. END";
    case TrendEvent::Finish:
        return "FINISH";
    }
    return "";
}

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
    TrendAxis axis{0, kValueStep, kValueStep / 4};
    int least = 1, most = 0; // the range of the readings in the picture; none while least > most
    struct MarkItem {
        QGraphicsLineItem *line;
        QGraphicsSimpleTextItem *label;
    };
    std::vector<MarkItem> markItems;                      // children of the chart
    std::vector<std::pair<double, TrendEvent>> markShown; // seconds before the newest, oldest first
    QTimer *timer = nullptr;
    bool following = false;
    bool due = false;        // the timer is set for a redraw
    double lastStart = -1e9; // Timer() when the last redraw began
    double drawSeconds = 0;  // its own time; its painting is counted by `paint`
    std::vector<TrendColumn> columns;
    QList<QPointF> points;
};

View g_view;

void draw();

void applyAxis() {
    View &v = g_view;
    const TrendAxis a = TrendValueAxis(trendfit, v.least, v.most);
    if (a == v.axis)
        return;
    v.axis = a;
    v.valueAxis->setRange(a.low, a.high);
    v.valueAxis->setTickCount((a.high - a.low) / a.step + 1);
}

// A dashed line through the plot for each mark in the picture, its label at the top.
void placeMarks() {
    View &v = g_view;
    if (!v.chart)
        return;
    QChart *chart = v.chart->chart();
    const QRectF plot = chart->plotArea();
    while (v.markItems.size() < v.markShown.size()) {
        auto *line = new QGraphicsLineItem(chart);
        QPen pen(ColorOf(kMarkColor));
        pen.setStyle(Qt::DashLine);
        line->setPen(pen);
        auto *label = new QGraphicsSimpleTextItem(chart);
        label->setBrush(ColorOf(kMarkColor));
        label->setFont(v.chart->font());
        for (QGraphicsItem *item :
             {static_cast<QGraphicsItem *>(line), static_cast<QGraphicsItem *>(label)})
            item->setZValue(100); // over the lines
        v.markItems.push_back({line, label});
    }
    double rowEnd[kLabelRows];
    std::fill(std::begin(rowEnd), std::end(rowEnd), plot.left() - 1);
    for (std::size_t i = 0; i < v.markItems.size(); ++i) {
        const View::MarkItem &item = v.markItems[i];
        const bool shown = i < v.markShown.size();
        item.line->setVisible(shown);
        item.label->setVisible(shown);
        if (!shown)
            continue;
        const double x =
            chart->mapToPosition(QPointF(v.markShown[i].first, v.axis.low), v.series[0][0]).x();
        item.line->setLine(x, plot.top(), x, plot.bottom());
        item.label->setText(markLabel(v.markShown[i].second));
        const QRectF box = item.label->boundingRect();
        // Near the right edge the label goes to the left of its line.
        const double left = x + 3 + box.width() > plot.right() ? x - 3 - box.width() : x + 3;
        const auto free = std::find_if(std::begin(rowEnd), std::end(rowEnd),
                                       [left](double end) { return end < left; });
        const int row = free == std::end(rowEnd) ? 0 : static_cast<int>(free - std::begin(rowEnd));
        item.label->setPos(left, plot.top() + 2 + row * box.height());
        rowEnd[row] = left + box.width() + 4;
    }
}

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
    v.axis = {0, kValueStep, kValueStep / 4};
    v.least = 1;
    v.most = 0;
    v.markItems.clear(); // went with the chart before
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
    timeAxis->setTitleText("TIME [s], 0 = LAST READING OR MARK");
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
            QPen pen(ColorOf(kLines[k].color));
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
    QObject::connect(chart, &QChart::plotAreaChanged, [] { placeMarks(); });
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
    // 0 is the newest reading, or a mark after it: a FINISH after STOP shows.
    double newest = store.newest();
    if (store.marks() > 0)
        newest = std::max(newest, store.markAt(store.marks() - 1).seconds);
    store.columns(newest - kTrendSpanSeconds, newest, v.columns.data(), count);
    const double perColumn = kTrendSpanSeconds / count;
    const int gapColumns = static_cast<int>(std::ceil(kGapSeconds / perColumn));
    int least = 65535, most = -1;
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
            least = std::min<int>(least, c.low[k]);
            most = std::max<int>(most, c.high[k]);
        }
        v.series[k][piece++]->replace(v.points);
        for (; piece < kPieces; ++piece)
            if (v.series[k][piece]->count() > 0)
                v.series[k][piece]->clear();
    }
    v.least = most < 0 ? 1 : least;
    v.most = most < 0 ? 0 : most;
    applyAxis();
    v.markShown.clear();
    for (std::size_t i = store.marks(); i-- > 0 && v.markShown.size() < kMarksShown;) {
        const TrendMark mark = store.markAt(i);
        if (mark.seconds < newest - kTrendSpanSeconds)
            break;
        v.markShown.insert(v.markShown.begin(), {mark.seconds - newest, mark.event});
    }
    placeMarks();
    showKept();
    v.drawSeconds = Timer() - v.lastStart;
}

} // namespace

TrendAxis TrendValueAxis(bool fit, int least, int most) {
    if (least > most)
        return {0, kValueStep, kValueStep / 4};
    if (!fit) {
        const int top = std::max(kValueStep, (most + kValueStep - 1) / kValueStep * kValueStep);
        return {0, top, top / 4};
    }
    const int margin = std::max((most - least) / 10, 5);
    int low = std::max(0, least - margin), high = most + margin;
    // The smallest of 1, 2, 5, 10, 20 ... that spans the range in four steps.
    int step = 1;
    for (int power = 1; step * 4 < high - low; power *= 10)
        for (int m : {1, 2, 5})
            if ((step = m * power) * 4 >= high - low)
                break;
    low = low / step * step;
    high = (high + step - 1) / step * step;
    return {low, high, step};
}

void TrendViewShow(int panel, int canvas) {
    View &v = g_view;
    if (!v.chart && !build(panel, canvas))
        return;
    const bool full = CanvasWidget(panel, canvas)->width() >= kFullNamesWidth;
    for (int k = 0; k < kTrendChannels; ++k)
        for (QLineSeries *s : v.series[k])
            s->setName(full ? kLines[k].name : kLines[k].shortName);
    v.following = true;
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

void TrendViewFit() {
    if (g_view.chart)
        applyAxis();
}

} // namespace qv

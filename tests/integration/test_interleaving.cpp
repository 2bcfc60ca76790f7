// Every long action against every operator input that can come during its wait, over TCP and a
// pseudo-terminal, while the program pumps events or is blocked. Each cell checks that no reply
// is decoded from another request's, no frame carries a value the operator did not set, the
// buttons come back and a close is honoured; AUTO POWER and CALIBRATE SENSOR end as their
// inputs say. The log ends with the matrix.
// QUORVAT_INTERLEAVING_ROWS picks rows (see rowSelected).
#include "app/startup.h"
#include "link/commands.h"
#include "link/link.h"
#include "platform/testing.h"
#include "record/record.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "tests/support/rig.h"
#include "tests/support/support.h"
#include "trend/trend.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QSet>
#include <QTest>
#include <QTimer>

#include <map>
#include <mutex>
#include <tuple>
#include <utility>

using namespace qv;
using qvtest::Link;
namespace cmd = qvsim::command;

namespace {

enum class Action {
    Go,
    SendPower,
    Calculate,
    Finish,
    GetCf,
    StartupCheck,
    Try,
    Discard,
    Reopen,
    GoReopen,
    AutoPower,
    Calibrate
};
// clang-format off
enum class Input { SendPower, GetCf, SendCf, Go, Calculate, Finish, AutoPower, Calibrate, Stop,
                   Connect, Try, Accept, Discard, Close, Type };
// clang-format on
// Pumping: the input comes while the action waits pumping events. Blocked: while it runs a
// stretch that pumps nothing. Queued: queued together with the click that starts the action.
enum class Timing { Pumping, Blocked, Queued };

struct InputRow {
    const char *name;
    int *panelHandle; // its button's panel; null for the close box and typing
    int control;
};
// clang-format off
const InputRow kInputs[] = {
    {"SEND POWER", &panel, P_BUTTONSENDPOWER}, {"GET CF", &panel, P_BUTTONGETCF},
    {"SEND CF", &panel, P_BUTTONSENDCF},       {"GO", &panel, P_BUTTONGO},
    {"CALCULATE", &panel, P_BUTTONCALCCF},     {"FINISH", &panel, P_BUTTONFINISHCALIB},
    {"AUTO POWER", &panel, P_BUTTONAUTOPOWER}, {"CALIBRATE SENSOR", &panel, P_BUTTONCALIBRATE},
    {"STOP", &panel, P_BUTTONSTOP},            {"CONNECT", &panel, P_BUTTONCONNECT},
    {"TRY", &interfacepanel, INTERFACEP_BUTTONTRYTOCONNECT},
    {"ACCEPT", &interfacepanel, INTERFACEP_BUTTONACCEPT},
    {"DISCARD", &interfacepanel, INTERFACEP_BUTTONDISCARD},
    {"close", nullptr, 0},                     {"typing", nullptr, 0},
};
// Each action, the input that starts it, and the request (nth of its code) during whose wait
// the input comes: pumping, inside that wait made long by a late reply; blocked, queued by the
// simulator's thread as the request arrives (for write-only frames, before a pause).
struct Trigger {
    int code, nth;
};
struct ActionRow {
    const char *name;
    Input start;
    Trigger pumping, blocked;
};
const ActionRow kActions[] = {
    {"GO",             Input::Go,        {cmd::GetData, 3},    {cmd::GetData, 3}},
    {"SEND POWER",     Input::SendPower, {cmd::GetCf, 1},      {cmd::SetPara, 1}},
    {"CALCULATE",      Input::Calculate, {cmd::GetData, 33},   {cmd::SetCf, 1}},
    {"FINISH",         Input::Finish,    {cmd::GetCf, 1},      {cmd::SetParaEnd, 1}},
    {"GET CF",         Input::GetCf,     {cmd::GetCf, 1},      {cmd::GetCf, 1}},
    {"start-up check", Input::Go,        {cmd::GetVersion, 1}, {cmd::GetVersion, 1}},
    {"TRY",            Input::Try,       {cmd::GetVersion, 1}, {cmd::GetVersion, 1}},
    {"DISCARD",        Input::Discard,   {cmd::GetVersion, 1}, {cmd::GetVersion, 1}},
    // The line goes, idle or under GO, and is opened again by itself: its check is the wait.
    {"reopening",      Input::Type,      {cmd::GetVersion, 1}, {cmd::GetVersion, 1}},
    {"GO reopening",   Input::Go,        {cmd::GetVersion, 1}, {cmd::GetVersion, 1}},
    // Inside the search's first readings, or the pause after its calibration block; in the
    // sequence, the calibration's 30th reading after AUTO POWER's 10.
    {"AUTO POWER",     Input::AutoPower, {cmd::GetData, 5},    {cmd::SetPara, 1}},
    {"CALIBRATE SENSOR", Input::Calibrate, {cmd::GetData, 40}, {cmd::SetPara, 1}},
};
// clang-format on
const char *kTimings[] = {"pumping", "blocked", "queued with the action's click"};

constexpr char kVersion[] = "INTERLEAVING TEST SENSOR V2.1";
// Every factor triple and POWER a frame may carry: the operator's, the sensor's, the calculation's.
// AUTO POWER finds this sensor, whose readings do not follow POWER, at the POWER it starts from.
const QSet<QByteArray> kLegalFactors = {"1001 1002 1003", "1111 1112 1113", "1024 1024 1024"};
constexpr unsigned short kPower = 700, kTypedPower = 321, kFactoryPower = 250;
const QSet<QByteArray> kAllowedTitles = {"SEND POWER", "CONFIRM CALCULATION!",
                                         "INFO!",      "CALIBRATION PASSED!",
                                         "AUTO POWER", "CALIBRATE SENSOR"};

// An input as the events it is made of, each with the widget it goes to.
using Events = std::vector<std::pair<QPointer<QObject>, QEvent *>>;

void post(Events events) {
    for (auto &[target, event] : events)
        QCoreApplication::postEvent(target, event); // thread-safe
}

// Posts the blocked input from the simulator's thread, at the armed request.
struct SimWatch {
    std::mutex m;
    std::string pattern;
    int remaining = 0;
    Events events;

    void arm(const Trigger &t, Events input) {
        const std::lock_guard<std::mutex> hold(m);
        pattern = ": " + qvsim::commandName(t.code) + " ";
        remaining = t.nth;
        events = std::move(input);
    }
    void seen(const std::string &line) {
        const std::lock_guard<std::mutex> hold(m);
        if (remaining <= 0 || line.find(pattern) == std::string::npos || --remaining > 0)
            return;
        post(std::move(events));
        events.clear();
    }
    bool fired() {
        const std::lock_guard<std::mutex> hold(m);
        return remaining <= 0 && events.empty();
    }
    void disarm() {
        const std::lock_guard<std::mutex> hold(m);
        remaining = 0;
        for (auto &[target, event] : events)
            delete event;
        events.clear();
    }
};
SimWatch g_watch;

// Guarded handlers: each records its commits, and whether one started while an action ran.
struct Entry {
    rt::CtrlCallbackPtr real;
    int entered = 0;
};
std::map<int, Entry> g_entries; // by control ID; main and connection panel IDs do not clash
QStringList g_faults;           // what went wrong in the current cell

int guarded(int panelHandle, int control, int event, void *, int d1, int d2) {
    Entry &e = g_entries[control];
    if (event == rt::EVENT_COMMIT) {
        ++e.entered;
        if (busy > 0)
            g_faults << QString("%1 started inside an action").arg(control);
    }
    return e.real(panelHandle, control, event, nullptr, d1, d2);
}

QByteArray triple(unsigned a, unsigned b, unsigned c) {
    return QByteArray::number(a) + ' ' + QByteArray::number(b) + ' ' + QByteArray::number(c);
}

unsigned wordAt(const qvsim::Frame &f, int offset) {
    return unsigned(f[offset]) << 8 | f[offset + 1];
}

// The matrix: by (link, timing, action), what each input did, in the order of the inputs.
std::map<std::tuple<int, int, int>, QStringList> g_rows;

} // namespace

class InterleavingTest : public QObject {
    Q_OBJECT
    std::unique_ptr<qvtest::FlowRig> rig_;
    qvsim::Simulator &sim() { return rig_->sim(); }

    // The line goes as when the sensor is unplugged or its server restarts, and comes back.
    void loseTheLine(Link link) {
        if (link == Link::Tcp) {
            sim().dropTcpConnections();
        } else {
            sim().closePty();
            QVERIFY(sim().reopenPty());
        }
    }

    Events eventsFor(Input i) {
        Events out;
        if (i == Input::Close) {
            out.emplace_back(rt::testing::PanelWidget(panel), new QCloseEvent);
        } else if (i == Input::Type) {
            QWidget *power = qvtest::widget(panel, P_EDITPOWER);
            const auto key = [&](int k, Qt::KeyboardModifiers m, const QString &text) {
                out.emplace_back(power, new QKeyEvent(QEvent::KeyPress, k, m, text));
                out.emplace_back(power, new QKeyEvent(QEvent::KeyRelease, k, m, text));
            };
            key(Qt::Key_A, Qt::ControlModifier, "");
            for (const char c : QByteArray::number(kTypedPower))
                key(c, Qt::NoModifier, QString(QChar(c)));
            key(Qt::Key_Return, Qt::NoModifier, "\r");
        } else {
            QWidget *w = qvtest::widget(*kInputs[int(i)].panelHandle, kInputs[int(i)].control);
            const QPointF at = QRectF(w->rect()).center();
            for (const auto &[t, held] : {std::pair(QEvent::MouseButtonPress, Qt::LeftButton),
                                          std::pair(QEvent::MouseButtonRelease, Qt::NoButton)})
                out.emplace_back(w, new QMouseEvent(t, at, w->mapToGlobal(at), Qt::LeftButton, held,
                                                    Qt::NoModifier));
        }
        return out;
    }

  private slots:
    void initTestCase() {
        qvsim::Options o = qvtest::quietSensor(kVersion);
        o.onEvent = [](const std::string &line) { g_watch.seen(line); };
        rig_ = std::make_unique<qvtest::FlowRig>(std::move(o));
        StartLinkWatch();
    }

    void cleanupTestCase() {
        g_watch.disarm();
        QString out;
        int table = -1;
        for (const auto &[key, cells] : g_rows) {
            const auto [link, timing, action] = key;
            if (link * 3 + timing != table) {
                table = link * 3 + timing;
                out += QString("\n%1, input while %2\n\n| action |")
                           .arg(qvtest::linkName(Link(link)), kTimings[timing]);
                for (const InputRow &i : kInputs)
                    out += QString(" %1 |").arg(i.name);
                out += "\n|---|" + QString("---|").repeated(int(std::size(kInputs))) + "\n";
            }
            out += QString("| %1 | %2 |\n").arg(kActions[action].name, cells.join(" | "));
        }
        qInfo().noquote() << out;
    }

    void matrix_data() {
        QTest::addColumn<Action>("action");
        QTest::addColumn<Link>("link");
        QTest::addColumn<Timing>("timing");
        QTest::addColumn<Input>("input");
        for (int a = 0; a < int(std::size(kActions)); ++a)
            for (Link l : {Link::Tcp, Link::Serial})
                for (int t = 0; t <= int(Timing::Queued); ++t)
                    for (int i = 0; i <= int(Input::Type); ++i) {
                        const QByteArray tag = QByteArray(kActions[a].name) + '/' +
                                               qvtest::linkName(l) + '/' + kTimings[t] + '/' +
                                               kInputs[i].name;
                        if (qvtest::rowSelected("QUORVAT_INTERLEAVING_ROWS", tag))
                            QTest::newRow(tag.constData())
                                << Action(a) << l << Timing(t) << Input(i);
                    }
    }

    void matrix() {
        QFETCH(Action, action);
        QFETCH(Link, link);
        QFETCH(Timing, timing);
        QFETCH(Input, input);
        g_faults.clear();
        QStringList &cells = g_rows[{int(link), int(timing), int(action)}];
        cells << "?";

        rig_->reset(kVersion, [](std::uint64_t) { return qvsim::Rgb{1000, 1000, 1000}; });
        sim().setFactors({1111, 1112, 1113});
        // The panels afresh, their buttons guarded, the operator's values set.
        qvtest::loadPanels();
        for (Input i : {Input::SendPower, Input::GetCf, Input::SendCf, Input::Go, Input::Calculate,
                        Input::Finish, Input::AutoPower, Input::Calibrate, Input::Try,
                        Input::Accept, Input::Discard}) {
            const InputRow &b = kInputs[int(i)];
            g_entries[b.control] = {};
            rt::GetCtrlAttribute(*b.panelHandle, b.control, rt::ATTR_CALLBACK_FUNCTION_POINTER,
                                 &g_entries[b.control].real);
            rt::InstallCtrlCallback(*b.panelHandle, b.control, guarded, nullptr);
        }
        rig_->select(link);
        // clang-format off
        qvtest::enter({.power = kPower, .setValue = 1000, .maxDelta = 100,
                       .red = 1001, .green = 1002, .blue = 1003});
        // clang-format on
        rt::SetCtrlVal(panel, P_STRINGSERIAL, "MATRIX-1");
        qvtest::PopupRecorder popups; // every confirmation answered yes
        if (action != Action::StartupCheck)
            rig_->connect(link); // the watch checks the version
        if (kInputs[int(input)].panelHandle == &interfacepanel || action == Action::Try ||
            action == Action::Discard)
            QVERIFY(qvtest::openConnectionPanel());
        dataRawR = dataRawG = dataRawB = 1000;
        meanR = meanG = meanB = 0;
        popups.popups.clear();
        sim().clearFrames();
        const std::uint64_t shownBefore = trendreadings.added();
        const auto records = [&] {
            return qvtest::csvRows(qvtest::fileBytes(rig_->file(kRecordFileName)));
        };
        const qsizetype recordedBefore = records().size();

        const ActionRow &act = kActions[int(action)];
        const bool reopen = action == Action::Reopen || action == Action::GoReopen;
        const bool lostQueued = action == Action::Reopen && timing == Timing::Queued;
        bool lost = false;
        const Trigger trigger = timing == Timing::Blocked ? act.blocked : act.pumping;
        bool operated = false;
        if (timing == Timing::Pumping && qvsim::replySize(trigger.code) > 0)
            sim().addFault(
                qvsim::Fault::late(120).forCommand(trigger.code).onlyNth(unsigned(trigger.nth)));
        else if (timing == Timing::Blocked)
            g_watch.arm(trigger, eventsFor(input));

        // The pumping input; STOP once a GO loop has shown a few readings; and what the program
        // holds, looked at all the time.
        std::size_t framesAtClose = 0, popupsAtClose = 0;
        bool closeSeen = false;
        int goBase = -1;
        QTimer watch;
        watch.setInterval(1);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (timing == Timing::Pumping && !operated &&
                rig_->framesOf(trigger.code) >= trigger.nth) {
                operated = true;
                post(eventsFor(input));
            }
            if (poll == 1 && goBase < 0)
                goBase = rig_->framesOf(cmd::GetData);
            if (action == Action::GoReopen && !lost && rig_->framesOf(cmd::GetData) >= 3) {
                lost = true;
                loseTheLine(link);
            }
            if (poll == 0)
                goBase = -1;
            else if ((!reopen || rig_->framesOf(cmd::GetVersion) > 0) &&
                     rig_->framesOf(cmd::GetData) >= goBase + 8)
                qvtest::click(panel, P_BUTTONSTOP);
            // A line back clears the readings: another sensor may be on it.
            if ((dataRawR != 1000 || dataRawG != 1000 || dataRawB != 1000) &&
                !(reopen && dataRawR + dataRawG + dataRawB == 0))
                g_faults << QString("reading %1 %2 %3").arg(dataRawR).arg(dataRawG).arg(dataRawB);
            // At start-up there is none until the check's reply.
            if (QByteArray(version) != kVersion && (action != Action::StartupCheck || version[0]))
                g_faults << "version " + QByteArray(version);
            if (!kLegalFactors.contains(triple(cfrot, cfgruen, cfblau)) &&
                triple(cfrot, cfgruen, cfblau) != "0 0 0")
                g_faults << "factors " + triple(cfrot, cfgruen, cfblau);
            // A command queued with the loss of the line runs while it is away, and says so.
            if (qvtest::statusLine() == "TIMEOUT" && !lostQueued)
                g_faults << "a reply went missing";
            if (closing && !closeSeen) {
                closeSeen = true;
                // A request written before the close may still be on its way; on a loaded
                // machine the simulator's thread can take a while to see it.
                sim().waitForFrames(sim().counters().framesReceived + 1,
                                    std::chrono::milliseconds(1000));
                framesAtClose = sim().frames().size();
                popupsAtClose = popups.count();
            }
        });
        watch.start();

        const InputRow &start = kInputs[int(act.start)];
        const int before = g_entries[start.control].entered;
        const bool clicked = action != Action::StartupCheck && action != Action::Reopen;
        if (action == Action::Reopen)
            loseTheLine(link);
        if (timing == Timing::Queued) {
            if (clicked)
                post(eventsFor(act.start));
            post(eventsFor(input));
            operated = true;
        } else if (clicked) {
            qvtest::click(*start.panelHandle, start.control);
        }
        if (action == Action::StartupCheck)
            InitVars();
        else if (clicked)
            QVERIFY(qvtest::waitFor([&] { return g_entries[start.control].entered > before; }));
        // Done when the input came, the program is idle and stays so a moment.
        const auto idle = [&] {
            return busy == 0 && poll == 0 &&
                   (timing == Timing::Blocked ? g_watch.fired() : operated) &&
                   (!reopen || closing || (!LinkLost() && rig_->framesOf(cmd::GetVersion) > 0));
        };
        bool settled = false;
        for (int round = 0; round < 200 && !settled; ++round)
            settled = qvtest::waitFor(idle, 100) && (qvtest::pump(60), idle());
        watch.stop();
        g_watch.disarm();
        QVERIFY2(settled, "the cell did not come to rest");

        // No frame with a value the operator did not set.
        unsigned lastPower = 0;
        for (const qvsim::Frame &f : sim().frames()) {
            if (f[3] == cmd::SetPara)
                lastPower = wordAt(f, 4);
            if (f[3] == cmd::SetCf &&
                !kLegalFactors.contains(triple(wordAt(f, 4), wordAt(f, 6), wordAt(f, 8))))
                g_faults << "SETCF " + triple(wordAt(f, 4), wordAt(f, 6), wordAt(f, 8));
            if (f[3] == cmd::SetPara &&
                !QSet<unsigned>{kPower, kTypedPower, kFactoryPower}.contains(wordAt(f, 4)))
                g_faults << QString("SETPARA POWER %1").arg(wordAt(f, 4));
        }
        // FINISH asks before writing factors no CALCULATE made on this line: answered yes.
        const auto finishAsks = [](const qvtest::Popup &p) {
            return p.kind == rt::PopupKind::Confirm && p.title == "ATTENTION!" &&
                   p.text.find("FINISH CALIBRATION would write") != std::string::npos;
        };
        for (const qvtest::Popup &p : popups.popups)
            if (!kAllowedTitles.contains(QByteArray(p.title.c_str())) && !finishAsks(p) &&
                !(lostQueued && (p.text == InfoTimeoutVer || p.text == "CALIBRATION FAILED!")))
                g_faults << QString("box \"%1\": %2").arg(p.title.c_str(), p.text.c_str());
        if (meanR != 0 && (meanR != 1000 || meanG != 1000 || meanB != 1000))
            g_faults << QString("means %1 %2 %3").arg(meanR).arg(meanG).arg(meanB);
        if (!kLegalFactors.contains(triple(qvtest::boxValue(P_EDITCFR), qvtest::boxValue(P_EDITCFG),
                                           qvtest::boxValue(P_EDITCFB))))
            g_faults << "factor boxes";
        // Every reading requested was shown, also one that STOP, CONNECT or a close came during.
        // (One request may go with the line, its reply never sent.)
        const std::uint64_t shown = trendreadings.added() - shownBefore;
        if (shown != std::uint64_t(rig_->framesOf(cmd::GetData)) &&
            !(reopen && shown + 1 == std::uint64_t(rig_->framesOf(cmd::GetData))))
            g_faults
                << QString("%1 readings shown of %2").arg(shown).arg(rig_->framesOf(cmd::GetData));
        if (!qvtest::commandsLive())
            g_faults << "buttons still dimmed";
        // Red tells the operator a series or a finish runs (CALCULATE's 33rd reading is red).
        for (int c : {P_BUTTONCALCCF, P_BUTTONFINISHCALIB})
            if (qvtest::attr(panel, c, rt::ATTR_CMD_BUTTON_COLOR) != kColorLightGrey)
                g_faults << QString("button %1 left red").arg(c);
        // A close ends the program after the wait it came in; nothing is sent or asked after.
        QString what = input == Input::Close ? "closed" : "stopped";
        if (input == Input::Close) {
            if (!closing || !rt::testing::TakeQuitRequest())
                g_faults << "close not honoured";
            else if (sim().frames().size() != framesAtClose || popups.count() != popupsAtClose)
                g_faults << "went on after the close";
        } else if (input == Input::Connect) {
            // Never dimmed, it opens the panel (which DISCARD then hides) and ends a GO loop.
            const bool opened = rt::testing::PanelWidget(interfacepanel)->isVisible();
            what = opened ? "opened" : "not opened";
            if (!opened && action != Action::Discard)
                g_faults << "CONNECT did not open the connection panel";
            if (action == Action::Go && timing != Timing::Queued && // else it comes first
                rig_->framesOf(cmd::GetData) >= 8)                  // the watch's STOP came first
                g_faults << "CONNECT did not end GO";
        } else if (input == Input::Type) {
            what = qvtest::boxValue(P_EDITPOWER) == kTypedPower ? "typed" : "not typed";
        } else if (input != Input::Stop) {
            const int ran =
                g_entries[kInputs[int(input)].control].entered - (act.start == input ? 1 : 0);
            what = ran > 0 ? "ran after" : "dropped";
        }
        // AUTO POWER and CALIBRATE SENSOR find and pass, or STOP ends them after the step under
        // way: the old POWER back, nothing written to the EEPROM. A STOP counts once the action's
        // question is answered: AUTO POWER asks after the pump that handles a STOP queued with it.
        if ((action == Action::AutoPower || action == Action::Calibrate) && input != Input::Close) {
            // Its own line: AUTO POWER's by hand has no sequence_id. Another button may run after.
            const bool power = action == Action::AutoPower;
            QByteArray result = "none";
            for (const QByteArrayList &l : records().mid(recordedBefore))
                if (l.value(3) == (power ? "power" : "sequence") &&
                    (!power || l.value(1).isEmpty()))
                    result = l.value(30);
            const bool stopped = result.endsWith("stopped");
            if (input == Input::Stop)
                what = stopped ? "stopped" : "ran through";
            if (stopped != (input == Input::Stop && !(power && timing == Timing::Queued)) ||
                (!stopped && result != (power ? "found" : "pass")) ||
                (stopped && (power ? qvtest::boxValue(P_EDITPOWER) != kPower || lastPower != kPower
                                   : rig_->framesOf(cmd::SetCf) + rig_->framesOf(cmd::SetParaEnd))))
                g_faults << "ended " + result;
        }
        closing = 0;
        busy = 0;
        rt::testing::TakeQuitRequest();
        rt::HidePanel(interfacepanel);

        cells.last() = what + (g_faults.isEmpty() ? "" : " FAILED");
        QVERIFY2(g_faults.isEmpty(), qPrintable(g_faults.join("; ")));
    }
};

QTEST_MAIN(InterleavingTest)
#include "test_interleaving.moc"

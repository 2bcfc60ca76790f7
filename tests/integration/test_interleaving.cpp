// Every long action against every operator action that can come during its wait, over TCP and
// over a pseudo-terminal, the operator's input arriving while the program pumps events and while
// it is blocked (queued until its next pump). Each cell checks that no reply is decoded from
// another request's, that no frame carries a value the operator did not set, that the buttons
// come back, and that a close is honoured. The log ends with the matrix.
//
// QUORVAT_INTERLEAVING_ROWS=GO,TRY (row names below) runs those rows only.
#include "app/startup.h"
#include "calibration/calibration.h"
#include "link/connectpanel.h"
#include "link/link.h"
#include "platform/testing.h"
#include "platform/utility.h"
#include "protocol/codec.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "tests/support/rig.h"
#include "tests/support/support.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QSet>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <map>
#include <mutex>

using namespace qv;
using qvtest::Link;

namespace {

enum class Action { Go, SendPower, Calculate, Finish, GetCf, StartupCheck, Try, Discard };
enum class Input {
    SendPower,
    GetCf,
    SendCf,
    Go,
    Calculate,
    Finish,
    Stop,
    Connect,
    Try,
    Accept,
    Discard,
    Close,
    Type
};
// Pumping: the input comes while the action waits pumping events. Blocked: it queues up while the
// action runs a stretch that pumps nothing. Queued: it was made together with the click that
// starts the action, both queued while the program was busy before.
enum class Timing { Pumping, Blocked, Queued };

const char *name(Action a) {
    static const char *n[] = {"GO",     "SEND POWER",     "CALCULATE", "FINISH",
                              "GET CF", "start-up check", "TRY",       "DISCARD"};
    return n[int(a)];
}
const char *name(Input i) {
    static const char *n[] = {"SEND POWER", "GET CF", "SEND CF", "GO",  "CALCULATE",
                              "FINISH",     "STOP",   "CONNECT", "TRY", "ACCEPT",
                              "DISCARD",    "close",  "typing"};
    return n[int(i)];
}
const char *name(Timing t) {
    static const char *n[] = {"pumping", "blocked", "queued with the action's click"};
    return n[int(t)];
}

constexpr char kVersion[] = "INTERLEAVING TEST SENSOR V2.1";
// What the operator has set, and what the sensor and the calculation give: every factor triple
// and POWER value a frame may carry.
constexpr unsigned short kBoxes[3] = {1001, 1002, 1003};
const QSet<QByteArray> kLegalFactors = {"1001 1002 1003", "1111 1112 1113", "1024 1024 1024"};
constexpr unsigned short kPower = 700, kTypedPower = 321, kFactoryPower = 250;
const QSet<QByteArray> kAllowedTitles = {"SEND POWER", "CONFIRM CALCULATION!", "INFO!",
                                         "CALIBRATION PASSED!"};

struct Button {
    int *panelHandle;
    int control;
};

// The button of an action or an input on the main or the connection panel.
Button buttonOf(Input i) {
    switch (i) {
    case Input::SendPower:
        return {&panel, P_BUTTONSENDPOWER};
    case Input::GetCf:
        return {&panel, P_BUTTONGETCF};
    case Input::SendCf:
        return {&panel, P_BUTTONSENDCF};
    case Input::Go:
        return {&panel, P_BUTTONGO};
    case Input::Calculate:
        return {&panel, P_BUTTONCALCCF};
    case Input::Finish:
        return {&panel, P_BUTTONFINISHCALIB};
    case Input::Stop:
        return {&panel, P_BUTTONSTOP};
    case Input::Connect:
        return {&panel, P_BUTTONCONNECT};
    case Input::Try:
        return {&interfacepanel, INTERFACEP_BUTTONTRYTOCONNECT};
    case Input::Accept:
        return {&interfacepanel, INTERFACEP_BUTTONACCEPT};
    case Input::Discard:
        return {&interfacepanel, INTERFACEP_BUTTONDISCARD};
    default:
        return {&panel, 0};
    }
}

Input inputOf(Action a) {
    static const Input n[] = {Input::Go,    Input::SendPower, Input::Calculate, Input::Finish,
                              Input::GetCf, Input::Go,        Input::Try,       Input::Discard};
    return n[int(a)];
}

bool onConnectionPanel(Input i) {
    return i == Input::Try || i == Input::Accept || i == Input::Discard;
}

// The request during whose wait the input comes. Pumping: a timer fires inside that wait, made
// long by a late reply. Blocked: the simulator's thread queues the input as the request arrives,
// which for the write-only frames is right before a pause that pumps nothing.
struct Trigger {
    int code;
    int nth;
};

Trigger triggerOf(Action a, Timing t) {
    using namespace qvsim::command;
    const bool blocked = t == Timing::Blocked;
    switch (a) {
    case Action::Go:
        return {GetData, 3};
    case Action::SendPower:
        return blocked ? Trigger{SetPara, 1} : Trigger{GetCf, 1};
    case Action::Calculate:
        return blocked ? Trigger{SetCf, 1} : Trigger{GetData, 30};
    case Action::Finish:
        return blocked ? Trigger{SetParaEnd, 1} : Trigger{GetCf, 1};
    case Action::GetCf:
        return {GetCf, 1};
    default:
        return {GetVersion, 1};
    }
}

// The simulator's thread reports each request; the blocked input is posted from there.
struct SimWatch {
    std::mutex m;
    std::string pattern;
    int remaining = 0;
    std::vector<std::pair<QPointer<QObject>, QEvent *>> events;

    void arm(const Trigger &t, std::vector<std::pair<QPointer<QObject>, QEvent *>> input) {
        const std::lock_guard<std::mutex> hold(m);
        pattern = ": " + qvsim::commandName(t.code) + " ";
        remaining = t.nth;
        events = std::move(input);
    }
    void seen(const std::string &line) {
        const std::lock_guard<std::mutex> hold(m);
        if (remaining <= 0 || line.find(pattern) == std::string::npos || --remaining > 0)
            return;
        for (auto &[target, event] : events)
            QCoreApplication::postEvent(target, event); // thread-safe; the program is busy
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

void guard(int panelHandle, int control, rt::CtrlCallbackPtr real) {
    g_entries[control] = {real, 0};
    rt::InstallCtrlCallback(panelHandle, control, guarded, nullptr);
}

int attr(int panelHandle, int control, int attribute) {
    int v = -1;
    rt::GetCtrlAttribute(panelHandle, control, attribute, &v);
    return v;
}

bool buttonsBack() {
    for (int c : {P_BUTTONSENDPOWER, P_BUTTONSENDCF, P_BUTTONGETCF, P_BUTTONGO, P_BUTTONCALCCF,
                  P_BUTTONFINISHCALIB})
        if (attr(panel, c, rt::ATTR_DIMMED) != 0)
            return false;
    return busy == 0 && attr(interfacepanel, INTERFACEP_BUTTONTRYTOCONNECT, rt::ATTR_DIMMED) == 0 &&
           attr(interfacepanel, INTERFACEP_BUTTONDISCARD, rt::ATTR_DIMMED) == 0;
}

unsigned short boxValue(int control) {
    unsigned short v = 0;
    rt::GetCtrlVal(panel, control, &v);
    return v;
}

QByteArray triple(unsigned a, unsigned b, unsigned c) {
    return QByteArray::number(a) + ' ' + QByteArray::number(b) + ' ' + QByteArray::number(c);
}

unsigned wordAt(const qvsim::Frame &f, int offset) {
    return unsigned(f[offset]) << 8 | f[offset + 1];
}

struct Cell {
    Action action;
    Link link;
    Timing timing;
    Input input;
    bool pass;
    QString what; // what the input did
};
std::vector<Cell> g_cells;

} // namespace

Q_DECLARE_METATYPE(Action)
Q_DECLARE_METATYPE(Input)
Q_DECLARE_METATYPE(Timing)

class InterleavingTest : public QObject {
    Q_OBJECT
    std::unique_ptr<qvtest::ScratchProject> project_;
    std::unique_ptr<qvtest::SensorRig> rig_;
    qvsim::Simulator &sim() { return rig_->sim(); }

    // The panels afresh, their buttons guarded, the link made, the operator's values set.
    void freshPanels(Link link) {
        qvtest::loadPanels();
        for (Input i : {Input::SendPower, Input::GetCf, Input::SendCf, Input::Go, Input::Calculate,
                        Input::Finish, Input::Try, Input::Accept, Input::Discard}) {
            const Button b = buttonOf(i);
            rt::CtrlCallbackPtr real = nullptr;
            rt::GetCtrlAttribute(*b.panelHandle, b.control, rt::ATTR_CALLBACK_FUNCTION_POINTER,
                                 &real);
            guard(*b.panelHandle, b.control, real);
        }
        rig_->select(link);
        rt::SetCtrlVal(panel, P_EDITPOWER, kPower);
        rt::SetCtrlVal(panel, P_EDITSETVALUE, 1000);
        rt::SetCtrlVal(panel, P_EDITMAXDELTA, 100);
        rt::SetCtrlVal(panel, P_EDITCFR, kBoxes[0]);
        rt::SetCtrlVal(panel, P_EDITCFG, kBoxes[1]);
        rt::SetCtrlVal(panel, P_EDITCFB, kBoxes[2]);
    }

    void openConnectionPanel() {
        qvtest::click(panel, P_BUTTONCONNECT);
        QVERIFY(
            qvtest::waitFor([] { return rt::testing::PanelWidget(interfacepanel)->isVisible(); }));
    }

    // The input as events on the real widgets, to be posted later from another thread.
    std::vector<std::pair<QPointer<QObject>, QEvent *>> eventsFor(Input i) {
        std::vector<std::pair<QPointer<QObject>, QEvent *>> out;
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
            const Button b = buttonOf(i);
            QWidget *w = qvtest::widget(*b.panelHandle, b.control);
            const QPointF at = QRectF(w->rect()).center();
            for (QEvent::Type t : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
                out.emplace_back(w, new QMouseEvent(t, at, w->mapToGlobal(at), Qt::LeftButton,
                                                    t == QEvent::MouseButtonPress ? Qt::LeftButton
                                                                                  : Qt::NoButton,
                                                    Qt::NoModifier));
        }
        return out;
    }

    // The input as the operator makes it, from a timer inside the program's own wait.
    static void operate(Input i) {
        if (i == Input::Close) {
            rt::testing::PanelWidget(panel)->close();
        } else if (i == Input::Type) {
            QWidget *power = qvtest::widget(panel, P_EDITPOWER);
            QTest::keyClick(power, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(power, QString::number(kTypedPower));
            QTest::keyClick(power, Qt::Key_Return);
        } else {
            const Button b = buttonOf(i);
            qvtest::click(*b.panelHandle, b.control);
        }
    }

  private slots:
    void initTestCase() {
        qvtest::initRunTime();
        project_ = std::make_unique<qvtest::ScratchProject>();
        // Where start-up would keep the history, and the calibration record beside it.
        rt::CopyText(ipComboBoxFileName,
                     project_->file(kHistoryFileName).toLocal8Bit().constData());
        qvsim::Options o = qvtest::quietSensor(kVersion);
        o.onEvent = [](const std::string &line) { g_watch.seen(line); };
        rig_ = std::make_unique<qvtest::SensorRig>(std::move(o));
        qvtest::setStartupSizes();
        target = 1;
    }

    void cleanupTestCase() {
        g_watch.disarm();
        QString out;
        for (Link link : {Link::Tcp, Link::Serial})
            for (Timing timing : {Timing::Pumping, Timing::Blocked, Timing::Queued}) {
                QString head = QString("\n%1, input while %2\n\n| action |")
                                   .arg(qvtest::linkName(link), name(timing));
                QString rule = "|---|";
                for (int i = 0; i <= int(Input::Type); ++i) {
                    head += QString(" %1 |").arg(name(Input(i)));
                    rule += "---|";
                }
                QString body;
                for (int a = 0; a <= int(Action::Discard); ++a) {
                    QString row = QString("| %1 |").arg(name(Action(a)));
                    bool any = false;
                    for (int i = 0; i <= int(Input::Type); ++i)
                        for (const Cell &c : g_cells)
                            if (c.action == Action(a) && c.link == link && c.timing == timing &&
                                c.input == Input(i)) {
                                row += QString(" %1%2 |").arg(c.what, c.pass ? "" : " FAILED");
                                any = true;
                            }
                    if (any)
                        body += row + "\n";
                }
                if (!body.isEmpty())
                    out += head + "\n" + rule + "\n" + body;
            }
        qInfo().noquote() << out;
    }

    void matrix_data() {
        QTest::addColumn<Action>("action");
        QTest::addColumn<Link>("link");
        QTest::addColumn<Timing>("timing");
        QTest::addColumn<Input>("input");
        const QList<QByteArray> only = qgetenv("QUORVAT_INTERLEAVING_ROWS").split(',');
        for (int a = 0; a <= int(Action::Discard); ++a) {
            if (!only.value(0).isEmpty() && !only.contains(name(Action(a))))
                continue;
            for (Link l : {Link::Tcp, Link::Serial})
                for (Timing t : {Timing::Pumping, Timing::Blocked, Timing::Queued})
                    for (int i = 0; i <= int(Input::Type); ++i)
                        QTest::addRow("%s/%s/%s/%s", name(Action(a)), qvtest::linkName(l), name(t),
                                      name(Input(i)))
                            << Action(a) << l << t << Input(i);
        }
    }

    void matrix() {
        QFETCH(Action, action);
        QFETCH(Link, link);
        QFETCH(Timing, timing);
        QFETCH(Input, input);
        g_faults.clear();
        g_cells.push_back({action, link, timing, input, false, "?"});

        sim().clearFaults();
        sim().resetToFactory();
        sim().setVersion(kVersion);
        sim().setFactors({1111, 1112, 1113});
        sim().setReadingSource([](std::uint64_t) { return qvsim::Rgb{1000, 1000, 1000}; });
        freshPanels(link);
        qvtest::PopupRecorder popups; // every confirmation answered yes
        if (action != Action::StartupCheck) {
            rig_->connect(link);
            QCOMPARE(QByteArray(version), QByteArray(kVersion));
        }
        if (onConnectionPanel(input) || action == Action::Try || action == Action::Discard)
            openConnectionPanel();
        dataRawR = dataRawG = dataRawB = 1000;
        meanR = meanG = meanB = 0;
        popups.popups.clear();
        sim().clearFrames();

        const Trigger trigger = triggerOf(action, timing);
        QTimer pumping;
        bool operated = false;
        if (timing == Timing::Pumping) {
            if (qvsim::replySize(trigger.code) > 0)
                sim().addFault(qvsim::Fault::late(120)
                                   .forCommand(trigger.code)
                                   .onlyNth(unsigned(trigger.nth)));
            pumping.setInterval(2);
            QObject::connect(&pumping, &QTimer::timeout, [&] {
                if (rig_->framesOf(trigger.code) < trigger.nth)
                    return;
                pumping.stop();
                operated = true;
                operate(input);
            });
            pumping.start();
        } else if (timing == Timing::Blocked) {
            g_watch.arm(trigger, eventsFor(input));
        }

        // The operator's other hand: STOP once a GO loop has shown a few readings. And what
        // the program holds, looked at all the time: readings, version, factors, status.
        std::size_t framesAtClose = 0, popupsAtClose = 0;
        bool closeSeen = false;
        int goBase = -1;
        QTimer watch;
        watch.setInterval(1);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (poll == 1 && goBase < 0)
                goBase = rig_->framesOf(qvsim::command::GetData);
            if (poll == 0)
                goBase = -1;
            else if (rig_->framesOf(qvsim::command::GetData) >= goBase + 8)
                qvtest::click(panel, P_BUTTONSTOP);
            if (dataRawR != 1000 || dataRawG != 1000 || dataRawB != 1000)
                g_faults << QString("reading %1 %2 %3").arg(dataRawR).arg(dataRawG).arg(dataRawB);
            if (QByteArray(version) != kVersion)
                g_faults << "version " + QByteArray(version);
            if (!kLegalFactors.contains(triple(cfrot, cfgruen, cfblau)) &&
                triple(cfrot, cfgruen, cfblau) != "0 0 0")
                g_faults << "factors " + triple(cfrot, cfgruen, cfblau);
            char status[64] = "";
            rt::GetCtrlVal(panel, P_DISPSTATUS, status);
            if (QByteArray(status) == "TIMEOUT")
                g_faults << "a reply went missing";
            if (closing && !closeSeen) {
                closeSeen = true;
                // A request written before the close may still be on its way to the sensor;
                // none can be written while this waits.
                sim().waitForFrames(sim().counters().framesReceived + 1,
                                    std::chrono::milliseconds(50));
                framesAtClose = sim().frames().size();
                popupsAtClose = popups.count();
            }
        });
        watch.start();

        bool returned = false;
        const Button start = buttonOf(inputOf(action));
        const int before = g_entries[start.control].entered;
        if (timing == Timing::Queued) {
            auto events = action == Action::StartupCheck ? decltype(eventsFor(input)){}
                                                         : eventsFor(inputOf(action));
            for (auto &e : eventsFor(input))
                events.push_back(e);
            for (auto &[target, event] : events)
                QCoreApplication::postEvent(target, event);
            operated = true;
        } else if (action != Action::StartupCheck) {
            qvtest::click(*start.panelHandle, start.control);
        }
        if (action == Action::StartupCheck)
            InitVars();
        else
            QVERIFY(qvtest::waitFor([&] { return g_entries[start.control].entered > before; }));
        returned = true;
        // Done when the input came, the program is idle and stays so a moment.
        const auto idle = [&] {
            return returned && busy == 0 && poll == 0 &&
                   (timing == Timing::Blocked ? g_watch.fired() : operated);
        };
        bool settled = false;
        for (int round = 0; round < 200 && !settled; ++round)
            settled = qvtest::waitFor(idle, 100) && (qvtest::pump(60), idle());
        watch.stop();
        pumping.stop();
        g_watch.disarm();
        QVERIFY2(settled, "the cell did not come to rest");

        // No frame with a value the operator did not set.
        for (const qvsim::Frame &f : sim().frames()) {
            if (f[3] == qvsim::command::SetCf &&
                !kLegalFactors.contains(triple(wordAt(f, 4), wordAt(f, 6), wordAt(f, 8))))
                g_faults << "SETCF " + triple(wordAt(f, 4), wordAt(f, 6), wordAt(f, 8));
            if (f[3] == qvsim::command::SetPara &&
                !QSet<unsigned>{kPower, kTypedPower, kFactoryPower}.contains(wordAt(f, 4)))
                g_faults << QString("SETPARA POWER %1").arg(wordAt(f, 4));
        }
        for (const qvtest::Popup &p : popups.popups)
            if (!kAllowedTitles.contains(QByteArray(p.title.c_str())))
                g_faults << QString("box \"%1\"").arg(p.title.c_str());
        if (meanR != 0 && (meanR != 1000 || meanG != 1000 || meanB != 1000))
            g_faults << QString("means %1 %2 %3").arg(meanR).arg(meanG).arg(meanB);
        if (!kLegalFactors.contains(
                triple(boxValue(P_EDITCFR), boxValue(P_EDITCFG), boxValue(P_EDITCFB))))
            g_faults << "factor boxes";
        // The buttons come back, whatever happened.
        if (!buttonsBack())
            g_faults << "buttons still dimmed";
        // A close ends the program after the wait it came in; nothing is sent or asked after.
        QString what;
        if (input == Input::Close) {
            if (!closing || !rt::testing::TakeQuitRequest())
                g_faults << "close not honoured";
            else if (sim().frames().size() != framesAtClose || popups.count() != popupsAtClose)
                g_faults << "went on after the close";
            what = "closed";
        } else if (input == Input::Stop) {
            what = "stopped";
        } else if (input == Input::Connect) {
            what = rt::testing::PanelWidget(interfacepanel)->isVisible() ? "opened" : "not opened";
        } else if (input == Input::Type) {
            what = boxValue(P_EDITPOWER) == kTypedPower ? "typed" : "not typed";
        } else {
            const int ran =
                g_entries[buttonOf(input).control].entered - (inputOf(action) == input ? 1 : 0);
            what = ran > 0 ? "ran after" : "dropped";
        }
        closing = 0;
        busy = 0;
        rt::testing::TakeQuitRequest();
        rt::HidePanel(interfacepanel);

        g_cells.back().pass = g_faults.isEmpty();
        g_cells.back().what = what;
        QVERIFY2(g_faults.isEmpty(), qPrintable(g_faults.join("; ")));
    }
};

QTEST_MAIN(InterleavingTest)
#include "test_interleaving.moc"

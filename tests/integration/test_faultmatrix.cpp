// Every sensor command and the link check, over both links, under every fault the sensor or
// the line can show. Each case must end in its documented outcome, within its time limit,
// with the state that must survive intact. The matrix is printed at the end of the log.
#include "calibration/calibration.h"
#include "link/link.h"
#include "platform/rs232.h"
#include "platform/utility.h"
#include "protocol/codec.h"
#include "protocol/commands.h"
#include "shell/controls.h"
#include "shell/refresh.h"
#include "shell/state.h"
#include "tests/support/rig.h"
#include "tests/support/support.h"

#include <QTest>

#include <cstring>
#include <map>
#include <set>

using namespace qv;
using qvtest::Link;

namespace {

enum class Cmd { SendPara, SendCalibPara, SendCF, GetCF, GetPara, GoTurn, CalibReading, Check };
enum class Fault { NoReply, Late, Short, Long, Garbage, Pieces, Disconnect, Vanish, Flood };
// ok: the command did its work without a report. report: "TIMEOUT" and the one box (for the
// check: "TIMEOUT" and "CONNECTION FAILURE", no box; for a calibration reading: "CALIBRATION
// FAILED!").
enum class Outcome { Ok, Report };

const char *name(Cmd c) {
    static const char *n[] = {"SendPara", "SendCalibPara", "SendCF",         "GetCF",
                              "GetPara",  "GO turn",       "calib. reading", "link check"};
    return n[int(c)];
}
const char *name(Fault f) {
    static const char *n[] = {"no reply", "late",       "short",    "long", "garbage",
                              "pieces",   "disconnect", "vanishes", "flood"};
    return n[int(f)];
}
const char *name(Outcome o) {
    return o == Outcome::Ok ? "ok" : "report";
}

bool writeOnly(Cmd c) {
    return c == Cmd::SendPara || c == Cmd::SendCalibPara || c == Cmd::SendCF;
}

int requestCode(Cmd c) {
    switch (c) {
    case Cmd::GetCF:
        return qvsim::command::GetCf;
    case Cmd::GetPara:
        return qvsim::command::GetParaRam;
    case Cmd::GoTurn:
    case Cmd::CalibReading:
        return qvsim::command::GetData;
    case Cmd::Check:
        return qvsim::command::GetVersion;
    case Cmd::SendPara:
        return qvsim::command::SetPara;
    case Cmd::SendCalibPara:
        return qvsim::command::SetPara;
    case Cmd::SendCF:
        return qvsim::command::SetCf;
    }
    return qvsim::kAnyCommand;
}

// The outcomes the documented behaviour allows, and how long the case may take.
struct Expectation {
    std::set<Outcome> outcomes;
    double limit;
};

Expectation expected(Cmd c, Link link, Fault f) {
    const bool serial = link == Link::Serial;
    const double wait = c == Cmd::Check && !serial ? 5.0 : 2.0;
    const double fast = 1.5;
    const Expectation ok{{Outcome::Ok}, fast}, report{{Outcome::Report}, wait + 0.6};
    if (writeOnly(c)) {
        // Nothing is awaited after a write-only frame, so faults of the reply change nothing.
        // A line that is gone fails the write.
        if (f == Fault::Vanish)
            return report;
        if (f == Fault::Disconnect) // the sensor drops the line at the first frame: later
            return {{Outcome::Ok, Outcome::Report}, fast}; // writes may or may not see it
        return ok;
    }
    switch (f) {
    case Fault::Short: // on TCP the receive callback waits for the rest as long as the wait
    case Fault::NoReply:
    case Fault::Late: // past the limit
    case Fault::Disconnect:
    case Fault::Vanish:
        return report;
    case Fault::Long: // a serial queue holding more than the reply fails; TCP takes its part
        return serial ? report : ok;
    case Fault::Garbage: // the codec checks nothing: bytes of the right count are a reply
    case Fault::Pieces:  // all pieces come within the limit
        return {{Outcome::Ok}, c == Cmd::Check ? wait : fast + 1.0};
    case Fault::Flood:
        // TCP takes unread bytes as the start of the reply; on the serial line the queue
        // usually holds more than the reply at the poll, and exactly the reply now and then.
        return {{Outcome::Ok, Outcome::Report}, wait + 0.6};
    }
    return report;
}

struct Row {
    Cmd cmd;
    Link link;
    Fault fault;
    Outcome outcome;
    double seconds;
    bool pass;
};
std::vector<Row> g_rows;

QByteArray status() {
    char text[64] = "";
    rt::GetCtrlVal(panel, P_DISPSTATUS, text);
    return text;
}

} // namespace

Q_DECLARE_METATYPE(Cmd)
Q_DECLARE_METATYPE(Fault)

class FaultMatrixTest : public QObject {
    Q_OBJECT
    std::unique_ptr<qvtest::SensorRig> rig_;
    qvsim::Simulator &sim() { return rig_->sim(); }

    qvsim::Fault simFault(Fault f, Cmd c) {
        const int reply = int(qvsim::replySize(requestCode(c)));
        qvsim::Fault sf;
        switch (f) {
        case Fault::NoReply:
            sf = qvsim::Fault::noReply();
            break;
        case Fault::Late:
            sf = qvsim::Fault::late(c == Cmd::Check ? 5600 : 2600);
            break;
        case Fault::Short:
            sf = qvsim::Fault::shortReply(1);
            break;
        case Fault::Long:
            sf = qvsim::Fault::longReply(5);
            break;
        case Fault::Garbage:
            sf = qvsim::Fault::garbage();
            break;
        case Fault::Pieces:
            sf = qvsim::Fault::pieces(8, 15);
            break;
        case Fault::Disconnect:
            sf = qvsim::Fault::disconnect(unsigned(reply / 2));
            break;
        default:
            break;
        }
        sf.forCommand(requestCode(c));
        if (c == Cmd::CalibReading || c == Cmd::GoTurn)
            sf.onlyNth(1);
        return sf;
    }

    // Runs one command as the program runs it; returns its outcome as the operator sees it.
    Outcome run(Cmd c, const qvtest::PopupRecorder &popups) {
        switch (c) {
        case Cmd::SendPara:
            SendPara();
            break;
        case Cmd::SendCalibPara:
            SendCalibPara();
            break;
        case Cmd::SendCF:
            SendCF();
            break;
        case Cmd::GetCF:
            GetCF();
            break;
        case Cmd::GetPara:
            GetPara();
            break;
        case Cmd::GoTurn:
            qvtest::whenever([this] { return rig_->framesOf(qvsim::command::GetData) >= 1; },
                             [] { poll = 0; });
            GetData();
            break;
        case Cmd::CalibReading:
            CalcCF();
            break;
        case Cmd::Check:
            CheckComLine();
            break;
        }
        if (c == Cmd::Check)
            return status() == QByteArray(version) && version[0] ? Outcome::Ok : Outcome::Report;
        for (const qvtest::Popup &p : popups.popups)
            if (p.text == InfoTimeoutVer || p.text == "CALIBRATION FAILED!")
                return Outcome::Report;
        return Outcome::Ok;
    }

  private slots:
    void initTestCase() {
        qvtest::loadPanels();
        qvtest::setStartupSizes();
        target = 1;
        rig_ = std::make_unique<qvtest::SensorRig>();
    }

    void cleanupTestCase() {
        QString table = "\n| command | link | fault | expected | outcome | seconds |\n"
                        "|---|---|---|---|---|---|\n";
        for (const Row &r : g_rows) {
            QStringList allowed;
            for (Outcome o : expected(r.cmd, r.link, r.fault).outcomes)
                allowed << name(o);
            table += QString("| %1 | %2 | %3 | %4 | %5%6 | %7 |\n")
                         .arg(name(r.cmd), qvtest::linkName(r.link), name(r.fault),
                              allowed.join(" or "), name(r.outcome), r.pass ? "" : " FAILED")
                         .arg(r.seconds, 0, 'f', 2);
        }
        qInfo().noquote() << table;
    }

    void matrix_data() {
        QTest::addColumn<Cmd>("cmd");
        QTest::addColumn<Link>("link");
        QTest::addColumn<Fault>("fault");
        for (int c = 0; c <= int(Cmd::Check); ++c)
            for (Link l : {Link::Tcp, Link::Serial})
                for (int f = 0; f <= int(Fault::Flood); ++f)
                    QTest::addRow("%s/%s/%s", name(Cmd(c)), qvtest::linkName(l), name(Fault(f)))
                        << Cmd(c) << l << Fault(f);
    }

    void matrix() {
        QFETCH(Cmd, cmd);
        QFETCH(Link, link);
        QFETCH(Fault, fault);
        const Expectation want = expected(cmd, link, fault);

        // A clean start: a fresh sensor state and link, nothing left over.
        sim().clearFaults();
        sim().resetToFactory();
        sim().setReadingSource(nullptr);
        {
            qvtest::PopupRecorder quiet;
            rig_->connect(link);
            QCOMPARE(status(), QByteArray("QUORVAT SENSOR SIMULATOR V1.0"));
        }
        rt::SetCtrlVal(panel, P_EDITSETVALUE, 1000);
        rt::SetCtrlVal(panel, P_EDITMAXDELTA, 1000);
        rt::SetCtrlVal(panel, P_EDITCFR, 1111);
        rt::SetCtrlVal(panel, P_EDITCFG, 1112);
        rt::SetCtrlVal(panel, P_EDITCFB, 1113);
        cfrot = 1111;
        for (int i = 0; i < kParaWords; ++i)
            pp[i] = u16(0xA000 + i);
        dataRawR = 4242;
        meanR = 4343;
        const QByteArray versionBefore(version);
        const int ptyUpsBefore = rig_->ptyGeneration();
        sim().clearFrames();

        qvtest::PopupRecorder popups;
        if (fault == Fault::Vanish) {
            if (link == Link::Serial) {
                sim().closePty();
            } else {
                sim().dropTcpConnections();
                QVERIFY(qvtest::waitFor([&] { return tcpcon == 0; }));
            }
        } else if (fault == Fault::Flood) {
            sim().startFlood(20000);
            qvtest::pump(30);
        } else {
            sim().addFault(simFault(fault, cmd));
        }
        const u16 ppBefore = pp[100];
        const double t0 = rt::Timer();
        const Outcome outcome = run(cmd, popups);
        const double took = rt::Timer() - t0;
        sim().stopFlood();

        const bool allowed = want.outcomes.count(outcome) > 0;
        g_rows.push_back({cmd, link, fault, outcome, took, allowed && took <= want.limit});
        QVERIFY2(allowed, name(outcome));
        QVERIFY2(took <= want.limit, qPrintable(QString::number(took)));

        // What each report looks like, and what survives it.
        if (outcome == Outcome::Report) {
            QCOMPARE(status(), QByteArray("TIMEOUT"));
            int boxes = 0;
            for (const qvtest::Popup &p : popups.popups)
                boxes += p.text == InfoTimeoutVer || p.text == "CALIBRATION FAILED!";
            QCOMPARE(boxes, cmd == Cmd::Check ? 0 : 1);
            if (cmd == Cmd::Check)
                QCOMPARE(QByteArray(version), versionBefore);
            if (cmd == Cmd::GetCF) {
                unsigned short shown = 0;
                rt::GetCtrlVal(panel, P_EDITCFR, &shown);
                QCOMPARE(shown, (unsigned short)1111);
                QCOMPARE(cfrot, u16(1111));
            }
            if (cmd == Cmd::GetPara)
                QCOMPARE(pp[100], ppBefore);
            if (cmd == Cmd::GoTurn)
                QCOMPARE(dataRawR, u16(4242));
            if (cmd == Cmd::CalibReading)
                QCOMPARE(meanR, u16(4343));
        } else if (cmd == Cmd::SendCF && fault != Fault::Disconnect) {
            QVERIFY(qvtest::waitFor([&] {
                return sim().factors() == qvsim::Factors{1111, 1112, 1113};
            }));
        } else if (cmd == Cmd::SendPara && fault != Fault::Disconnect && fault != Fault::Flood) {
            QVERIFY(qvtest::waitFor([&] { return sim().counters().framesReceived >= 33; }));
            QCOMPARE(sim().ram(), qvsim::factoryImage());
        }
        if (fault == Fault::Vanish && link == Link::Serial)
            QVERIFY(sim().reopenPty());
        // A dropped serial line comes back as a new pseudo-terminal (perhaps under the same
        // path): wait until it is up, so the next case opens the new one.
        if (fault == Fault::Disconnect && link == Link::Serial)
            QVERIFY(qvtest::waitFor(
                [&] { return rig_->ptyGeneration() > ptyUpsBefore && !sim().ptyPath().empty(); }));
        // Let late bytes arrive before the next case reconnects.
        if (fault == Fault::Late)
            qvtest::pump(cmd == Cmd::Check ? 1000 : 800);
    }
};

QTEST_MAIN(FaultMatrixTest)
#include "test_faultmatrix.moc"

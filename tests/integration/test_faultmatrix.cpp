// Every sensor command, one GO turn, one calibration reading and the link check, over both links,
// under every fault the sensor or the line can show: each case ends in its documented outcome,
// the state intact, a report after a missing reply having waited the whole limit. The matrix,
// with each case's seconds, ends the log. QUORVAT_FAULTMATRIX_ROWS picks rows (rowSelected).
#include "calibration/calibration.h"
#include "calibration/sequence.h"
#include "link/commands.h"
#include "link/link.h"
#include "platform/utility.h"
#include "record/record.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "tests/support/rig.h"
#include "tests/support/support.h"

#include <QTest>
#include <QTimer>

#include <algorithm>
#include <tuple>

using namespace qv;
using qvtest::Link;
namespace command = qvsim::command;

namespace {

// Rows are named by the program's procedures (GetData: a GO turn; CalcCF: a calibration reading).
enum class Cmd { SendPara, SendCalibPara, SendCF, GetCF, GetPara, GetData, CalcCF, CheckComLine };
enum class Fault { NoReply, Late, Short, Long, Garbage, Pieces, Disconnect, Vanish, Flood, LateGo };

struct CmdRow {
    const char *name;
    int request;
    void (*run)();
};
// clang-format off
const CmdRow kCmds[] = {
    {"SendPara",      command::SetPara,    [] { SendPara(); }},
    {"SendCalibPara", command::SetPara,    [] { SendCalibPara(); }},
    {"SendCF",        command::SetCf,      [] { SendCF(); }},
    {"GetCF",         command::GetCf,      [] { GetCF(); }},
    {"GetPara",       command::GetParaRam, GetPara},
    {"GetData",       command::GetData,    GetData},
    {"CalcCF",        command::GetData,    CalcCF},
    {"CheckComLine",  command::GetVersion, [] { CheckComLine(); }},
};
// clang-format on

// The outcomes allowed for a command awaiting a reply, over TCP and serial, and for a write-only
// one (the first three). ok: done without a report. report: "TIMEOUT" and one box (none for the
// check; "CALIBRATION FAILED!" for a calibration reading). lost: a GO turn whose line went waits
// for it, and STOP leaves the reason in the status line. `waits`: a report must have waited the
// whole limit for a reply that never came whole.
struct FaultRow {
    const char *name, *tcp, *serial, *write;
    bool waits;
};
// Short: its last byte past the limit, not waited for. Long: more bytes than the reply fail on
// either line. Garbage: bytes of the right count are a reply. Disconnect: the line dropped at the
// first frame may or may not fail a later write. Flood: unasked bytes are dropped before the
// request, but some may come with the reply and fail it. Late GO reading: a GO turn's reading
// comes during the next command (GET CF, a calibration reading, the link check), before its own
// reply: never taken as that reply.
// clang-format off
const FaultRow kFaults[] = {
    {"no reply",   "report",       "report",       "ok",           true},
    {"late",       "report",       "report",       "ok",           true}, // past the limit
    {"short",      "report",       "report",       "ok",           true},
    {"long",       "report",       "report",       "ok",           false},
    {"garbage",    "ok",           "ok",           "ok",           false},
    {"pieces",     "ok",           "ok",           "ok",           false}, // all within the limit
    {"disconnect", "report",       "report",       "ok or report", false},
    {"vanishes",   "report",       "report",       "report",       false},
    {"flood",      "ok or report", "ok or report", "ok",           false},
    {"late GO reading", "ok or report", "ok or report", "",         false},
};
// clang-format on

constexpr char kSimVersion[] = "QUORVAT SENSOR SIMULATOR V1.0";

double limitOf(Cmd c, Link link) {
    return c == Cmd::CheckComLine && link == Link::Tcp ? 5.0 : 2.0;
}

QString g_table =
    "\n| command | link | fault | expected | outcome | seconds |\n|---|---|---|---|---|---|\n";

} // namespace

class FaultMatrixTest : public QObject {
    Q_OBJECT
    std::unique_ptr<qvtest::FlowRig> rig_;
    qvsim::Simulator &sim() { return rig_->sim(); }

    // The simulator's fault for those up to Disconnect; late bytes come 0.6 s past the limit.
    static qvsim::Fault simFault(Fault f, Cmd c, Link link) {
        const int request = kCmds[int(c)].request;
        const unsigned reply = unsigned(qvsim::replySize(request));
        const unsigned late = unsigned(limitOf(c, link) * 1000) + 600;
        const qvsim::Fault faults[] = {qvsim::Fault::noReply(),
                                       qvsim::Fault::late(late),
                                       qvsim::Fault::pieces(reply > 1 ? reply - 1 : 1, late),
                                       qvsim::Fault::longReply(5),
                                       qvsim::Fault::garbage(),
                                       qvsim::Fault::pieces(8, 15),
                                       qvsim::Fault::disconnect(reply / 2)};
        qvsim::Fault sf = faults[int(f)];
        sf.forCommand(request);
        if (c == Cmd::CalcCF || c == Cmd::GetData)
            sf.onlyNth(1);
        return sf;
    }

    // A table none of whose rows the entry runs gets a row "none" that skips: Qt Test wants one.
    static void skipWithoutRows() {
        if (QByteArray(QTest::currentDataTag()) == "none")
            QSKIP("this entry runs none of the table's rows");
    }
    static int reports(const qvtest::PopupRecorder &popups) {
        return int(std::count_if(popups.popups.begin(), popups.popups.end(), [](const auto &p) {
            return p.text == InfoTimeoutVer || p.text == "CALIBRATION FAILED!";
        }));
    }

  private slots:
    void initTestCase() { rig_ = std::make_unique<qvtest::FlowRig>(); }

    void cleanupTestCase() { qInfo().noquote() << g_table; }

    void matrix_data() {
        int rows = 0;
        QTest::addColumn<Cmd>("cmd");
        QTest::addColumn<Link>("link");
        QTest::addColumn<Fault>("fault");
        for (int c = 0; c <= int(Cmd::CheckComLine); ++c)
            for (Link l : {Link::Tcp, Link::Serial})
                for (int f = 0; f <= int(Fault::LateGo); ++f) {
                    if (Fault(f) == Fault::LateGo && Cmd(c) != Cmd::GetCF &&
                        Cmd(c) != Cmd::CalcCF && Cmd(c) != Cmd::CheckComLine)
                        continue;
                    const QByteArray tag = QByteArray(kCmds[c].name) + '/' + qvtest::linkName(l) +
                                           '/' + kFaults[f].name;
                    if (qvtest::rowSelected("QUORVAT_FAULTMATRIX_ROWS", tag) && ++rows)
                        QTest::newRow(tag.constData()) << Cmd(c) << l << Fault(f);
                }
        if (rows == 0)
            QTest::newRow("none") << Cmd::SendPara << Link::Tcp << Fault::NoReply;
    }

    void matrix() {
        skipWithoutRows();
        QFETCH(Cmd, cmd);
        QFETCH(Link, link);
        QFETCH(Fault, fault);
        const FaultRow &f = kFaults[int(fault)];
        const bool write = cmd <= Cmd::SendCF, waitsLimit = f.waits && !write;
        const bool goLost =
            cmd == Cmd::GetData && (fault == Fault::Disconnect || fault == Fault::Vanish);
        const QString want = goLost              ? "lost"
                             : write             ? f.write
                             : link == Link::Tcp ? f.tcp
                                                 : f.serial;

        // A clean start: a fresh sensor state and link, nothing left over. A late GO reading
        // stands out from the readings after it.
        if (fault == Fault::LateGo)
            rig_->reset(nullptr, [](std::uint64_t n) {
                return n == 0 ? qvsim::Rgb{3000, 3000, 3000} : qvsim::Rgb{1000, 1000, 1000};
            });
        else
            rig_->reset();
        {
            qvtest::PopupRecorder quiet;
            rig_->connect(link);
            QCOMPARE(qvtest::statusLine(), QByteArray(kSimVersion));
        }
        // clang-format off
        qvtest::enter({.power = 250, .setValue = 1000, .maxDelta = 1000,
                       .red = 1111, .green = 1112, .blue = 1113});
        // clang-format on
        cfrot = 1111;
        pp[100] = 0xA064;
        dataRawR = 4242;
        meanR = 4343;
        const int ptyUpsBefore = rig_->ptyGeneration();
        sim().clearFrames();
        if (fault == Fault::LateGo) {
            // GO's turn times out, its reading 0.6 s behind; the command follows at once.
            sim().addFault(qvsim::Fault::late(2600).forCommand(command::GetData).onlyNth(1));
            qvtest::PopupRecorder goBox;
            QTimer::singleShot(0, [] { poll = 0; });
            GetData();
            QCOMPARE(goBox.count(), std::size_t(1));
        }

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
        } else if (fault != Fault::LateGo) {
            sim().addFault(simFault(fault, cmd, link));
        }
        const double t0 = rt::Timer();
        if (cmd == Cmd::GetData) // one turn: STOP at the first pump, which comes inside it
            QTimer::singleShot(0, [] { poll = 0; });
        kCmds[int(cmd)].run();
        const double took = rt::Timer() - t0;
        const bool reported = cmd == Cmd::CheckComLine
                                  ? qvtest::statusLine() != version || !version[0]
                                  : reports(popups) > 0;
        sim().stopFlood();

        const QByteArray status = qvtest::statusLine();
        const bool lost =
            status == "LINK LOST - RECONNECTING" || status == "Server has closed connection!" ||
            status == "Serial line has failed!" || status == "Serial device has gone!";
        const QString outcome = reported ? "report" : lost ? "lost" : "ok";
        const bool allowed = want.split(" or ").contains(outcome);
        const bool waited = !waitsLimit || took >= limitOf(cmd, link);
        g_table += QString("| %1 | %2 | %3 | %4 | %5%6 | %7 |\n")
                       .arg(kCmds[int(cmd)].name, qvtest::linkName(link), f.name, want, outcome,
                            allowed && waited ? "" : " FAILED")
                       .arg(took, 0, 'f', 2);
        QVERIFY2(allowed, qPrintable(outcome));
        QVERIFY2(waited, qPrintable(QString::number(took)));

        // What each report looks like; nothing is taken from a reply that failed.
        if (reported) {
            QCOMPARE(qvtest::statusLine(), QByteArray("TIMEOUT"));
            QCOMPARE(reports(popups), cmd == Cmd::CheckComLine ? 0 : 1);
            QCOMPARE(QByteArray(version), QByteArray(kSimVersion));
            QCOMPARE(qvtest::boxValue(P_EDITCFR), 1111);
            QCOMPARE(std::make_tuple(cfrot, dataRawR, meanR),
                     std::make_tuple(u16(1111), u16(4242), u16(4343)));
            if (!write) // the writes build the parameters from the boxes
                QCOMPARE(pp[100], u16(0xA064));
        } else if (fault == Fault::LateGo) { // taken: only the command's own reply
            QCOMPARE(QByteArray(version), QByteArray(kSimVersion));
            if (cmd == Cmd::GetCF)
                QCOMPARE(cfrot, u16(1024));
            if (cmd == Cmd::CalcCF)
                QCOMPARE(std::make_tuple(meanR, meanG, meanB), std::make_tuple(1000, 1000, 1000));
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
        if (waitsLimit && fault != Fault::NoReply)
            qvtest::pump(int((limitOf(cmd, link) + 1.0 - took) * 1000));
    }

    // CALIBRATE SENSOR with one reply missing in each of its steps: the run ends there, as
    // "fail <step> timeout" in the record and on the panel, with no box but its confirmation,
    // and nothing more goes to the sensor: its factors stay as found until SEND CF has run.
    void sequence_data() {
        QTest::addColumn<Link>("link");
        QTest::addColumn<int>("code"); // the request left unanswered, and which one of its kind
        QTest::addColumn<int>("nth");
        QTest::addColumn<bool>("sent"); // SEND CF had run
        int rows = 0;
        // AUTO POWER takes its 10 readings at the simulator's POWER, then come the calibration's
        // 100 and the check's 20; the finish reads the factors back.
        // clang-format off
        const struct { const char *step; int code, nth; bool sent; } steps[] = {
            {"link",      command::GetVersion, 1,   false},
            {"getcf",     command::GetCf,      1,   false},
            {"power",     command::GetData,    5,   false},
            {"calculate", command::GetData,    60,  false},
            {"verify",    command::GetData,    120, true},
            {"finish",    command::GetCf,      2,   true},
        };
        // clang-format on
        for (const auto &s : steps)
            for (Link l : {Link::Tcp, Link::Serial}) {
                const QByteArray tag = QByteArray("sequence/") + s.step + '/' + qvtest::linkName(l);
                if (qvtest::rowSelected("QUORVAT_FAULTMATRIX_ROWS", tag) && ++rows)
                    QTest::newRow(tag.constData()) << l << s.code << s.nth << s.sent;
            }
        if (rows == 0)
            QTest::newRow("none") << Link::Tcp << 0 << 0 << false;
    }
    void sequence() {
        skipWithoutRows();
        QFETCH(Link, link);
        QFETCH(int, code);
        QFETCH(int, nth);
        QFETCH(bool, sent);
        rig_->reset();
        sim().setFactors({1100, 950, 1200});
        {
            qvtest::PopupRecorder quiet;
            rig_->connect(link);
        }
        // clang-format off
        qvtest::enter({.power = 250, .setValue = 1000, .maxDelta = 100,
                       .red = 1024, .green = 1024, .blue = 1024});
        // clang-format on
        rt::SetCtrlVal(panel, P_STRINGSERIAL, "FAULT-1");
        sim().clearFrames();
        sim().addFault(qvsim::Fault::noReply().forCommand(code).onlyNth(unsigned(nth)));
        qvtest::PopupRecorder popups;
        const double t0 = rt::Timer();
        CalibrateSensor();
        const QByteArray step = QByteArray(QTest::currentDataTag()).split('/').value(1);
        const QByteArray result = qvtest::csvRows(qvtest::fileBytes(rig_->file(kRecordFileName)))
                                      .last()
                                      .value(30)
                                      .trimmed();
        g_table += QString("| sequence | %1 | %2 timeout | fail %2 timeout | %3 | %4 |\n")
                       .arg(qvtest::linkName(link), step.constData(), result.constData())
                       .arg(rt::Timer() - t0, 0, 'f', 2);
        QCOMPARE(result, "fail " + step + " timeout");
        QCOMPARE(popups.count(), std::size_t(1));
        const QByteArray shown = qvtest::ctrlText(panel, P_DISPRESULT); // in capitals, whole
        QVERIFY2(shown.startsWith("FAIL: ") && shown == shown.toUpper(), shown.constData());
        const qvsim::Factors factors = sim().factors(), found{1100, 950, 1200};
        QCOMPARE(factors != found, sent);
        // The default parameters go only with the finish.
        QCOMPARE(rig_->framesOf(command::SetParaEnd) > 0, step == "finish");
        qvtest::pump(500); // the late requests' turn passes before the next case
    }
};

QTEST_MAIN(FaultMatrixTest)
#include "test_faultmatrix.moc"

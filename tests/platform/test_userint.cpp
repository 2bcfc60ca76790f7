// The run-time's panels and controls, driven the way the program and an operator drive them.
#include "platform/canvas.h"
#include "platform/testing.h"
#include "platform/thread.h"
#include "platform/userint.h"
#include "platform/utility.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

using namespace qv::rt;

namespace {

struct Event {
    int control, event, data1;
};
std::vector<Event> g_events;
int g_keyResult = 0;

bool g_skipFocus = false;

int record(int, int control, int event, void *, int data1, int) {
    if (g_skipFocus && event == EVENT_GOT_FOCUS)
        return 0;
    g_events.push_back({control, event, data1});
    return event == EVENT_KEYPRESS ? g_keyResult : 0;
}

int g_closes = 0;
int recordPanel(int, int event, void *, int, int) {
    if (event == EVENT_CLOSE)
        ++g_closes;
    return 0;
}

const char kPanels[] = R"({ "panels": [ { "resource": 5, "name": "T", "title": "T",
  "width": 400, "height": 300, "callback": "panelCb", "controls": [
    { "id": 1, "name": "BUTTON", "kind": "command_button", "label": "OK", "left": 10, "top": 10,
      "width": 80, "height": 24, "callback": "cb" },
    { "id": 2, "name": "TEXT", "kind": "string", "label": "Name", "left": 10, "top": 60,
      "width": 120, "height": 22, "callback": "cb", "value": "abc", "max_entry_length": 10 },
    { "id": 3, "name": "NUM", "kind": "numeric", "left": 10, "top": 110, "width": 80,
      "height": 22, "min": 0, "max": 1000, "value": 5, "callback": "cb" },
    { "id": 4, "name": "RING", "kind": "ring", "left": 10, "top": 160, "width": 100, "height": 22,
      "items": [ {"label": "A", "value": 0}, {"label": "B", "value": 1} ], "value": 1,
      "callback": "cb" },
    { "id": 5, "name": "STATUS", "kind": "text_indicator", "left": 200, "top": 10, "width": 150,
      "height": 22 },
    { "id": 6, "name": "AREA", "kind": "canvas", "left": 200, "top": 60, "width": 180,
      "height": 120 } ] } ] })";

struct PaintCounter : QObject {
    int count = 0;
    bool eventFilter(QObject *, QEvent *e) override {
        count += e->type() == QEvent::Paint;
        return false;
    }
};

int pumpUntil(std::size_t events, int ms = 2000) {
    const double end = Timer() + ms / 1000.0;
    while (g_events.size() < events && Timer() < end)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    return static_cast<int>(g_events.size());
}

} // namespace

class UserIntTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    int panel_ = 0;

    QWidget *w(int control) { return testing::ControlWidget(panel_, control); }

  private slots:
    void initTestCase() {
        static int argc = 1;
        static char name[] = "t", *argv[] = {name, nullptr};
        QVERIFY(InitRunTimeEngine(argc, argv) == 1);
        SetCallbackResolver([](const std::string &n) {
            CallbackEntry e;
            if (n == "cb")
                e.control = record;
            if (n == "panelCb")
                e.panel = recordPanel;
            return e;
        });
        QFile f(dir_.filePath("t.uir"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(kPanels);
        f.close();
        SetProjectDirForTesting(dir_.path().toLocal8Bit().constData());
    }

    void init() {
        panel_ = LoadPanel(0, "t.uir", 5);
        QVERIFY(panel_ > 0);
        DisplayPanel(panel_);
        QVERIFY(QTest::qWaitForWindowActive(testing::PanelWidget(panel_)));
        g_events.clear();
        g_keyResult = 0;
        g_skipFocus = false;
    }

    void cleanup() { DiscardPanel(panel_); }

    void loadFailuresHaveTheirCodes() {
        QCOMPARE(LoadPanel(0, "missing.uir", 5), kUIEFileNotFound);
        QFile bad(dir_.filePath("bad.uir"));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("{ \"panels\": [ ");
        bad.close();
        QCOMPARE(LoadPanel(0, "bad.uir", 5), kUIEBadFormat);
        QCOMPARE(LoadPanel(0, "t.uir", 9), kUIEPanelNotFound);
        QVERIFY(QByteArray(LastResourceError()).contains("no panel 9"));
        QCOMPARE(SetCtrlVal(999, 1, 1), kUIEPanelInvalid);
        QCOMPARE(SetCtrlVal(panel_, 99, 1), kUIECtrlInvalid);
        QCOMPARE(DiscardPanel(999), kUIEPanelInvalid);
    }

    // The program's own drawing goes in a canvas, and nowhere else; the run-time still places,
    // hides and dims it.
    void canvasIsTheProgramsToDrawIn() {
        QWidget *area = CanvasWidget(panel_, 6);
        QVERIFY(area);
        QCOMPARE(area->geometry(), QRect(200, 60, 180, 120));
        QVERIFY(!CanvasWidget(panel_, 5) && !CanvasWidget(panel_, 99) && !CanvasWidget(999, 6));
        auto *mine = new QLabel("drawn", area);
        SetCtrlAttribute(panel_, 6, ATTR_VISIBLE, 0);
        QVERIFY(!mine->isVisibleTo(testing::PanelWidget(panel_)));
        int style = 0;
        GetCtrlAttribute(panel_, 6, ATTR_CTRL_STYLE, &style);
        QCOMPARE(style, CTRL_CANVAS);
        QCOMPARE(SetCtrlVal(panel_, 6, 1), kUIETypeMismatch);
    }

    void saveFilePopupAnswers_data() {
        QTest::addColumn<QByteArray>("chosen");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("path");
        QTest::newRow("a file") << QByteArray("/tmp/a.csv") << 64 << 1 << QByteArray("/tmp/a.csv");
        QTest::newRow("cancelled") << QByteArray() << 64 << 0 << QByteArray();
        QTest::newRow("exactly fits")
            << QByteArray("/tmp/a.csv") << 11 << 1 << QByteArray("/tmp/a.csv");
        // A cut path would name another file.
        QTest::newRow("one too long")
            << QByteArray("/tmp/a.csv") << 10 << kUIEValueInvalid << QByteArray();
    }
    void saveFilePopupAnswers() {
        QFETCH(QByteArray, chosen);
        QFETCH(int, size);
        QFETCH(int, result);
        QFETCH(QByteArray, path);
        std::string title, suggested;
        SetSaveFileHandler([&](const std::string &t, const std::string &s) {
            title = t;
            suggested = s;
            return chosen.toStdString();
        });
        std::vector<char> out(std::size_t(size), 'x');
        QCOMPARE(SaveFilePopupText("SAVE", "x.csv", out.data(), out.size()), result);
        SetSaveFileHandler({});
        QCOMPARE(QByteArray(out.data()), path);
        QCOMPARE(title, std::string("SAVE"));
        QCOMPARE(suggested, std::string("x.csv"));
        QCOMPARE(SaveFilePopupText("SAVE", "x.csv", nullptr, 8), kUIEValueInvalid);
    }

    void closeBoxReportsAndLeavesThePanelOpen() {
        g_closes = 0;
        testing::PanelWidget(panel_)->close();
        QVERIFY(QTest::qWaitFor([] { return g_closes == 1; }));
        QVERIFY(testing::PanelWidget(panel_)->isVisible());
    }

    void valuesKeepTheirBytesAndFitTheBuffer() {
        const char latin[] = "Sensor \xE9\xFC\x01 text";
        QCOMPARE(SetCtrlVal(panel_, 5, latin), 0);
        char out[64];
        QCOMPARE(GetCtrlVal(panel_, 5, out), 0);
        QCOMPARE(QByteArray(out), QByteArray(latin));
        char small[5];
        std::memset(small, 'x', sizeof small);
        QCOMPARE(GetCtrlVal(panel_, 5, small), 0);
        QCOMPARE(QByteArray(small), QByteArray("Sens"));
        QCOMPARE(SetCtrlVal(panel_, 3, 70000), 0); // held to the control's range
        unsigned short v = 0;
        QCOMPARE(GetCtrlVal(panel_, 3, &v), 0);
        QCOMPARE(v, static_cast<unsigned short>(1000));
        QCOMPARE(GetCtrlVal(panel_, 2, &v), kUIETypeMismatch);
        QCOMPARE(SetCtrlVal(panel_, 4, 7), kUIEValueInvalid);
        int protocol = -1;
        QCOMPARE(GetCtrlVal(panel_, 4, &protocol), 0);
        QCOMPARE(protocol, 1);
    }

    void buttonsCommitAndRightClicksAreReported() {
        g_skipFocus = true;
        QTest::mouseClick(w(1), Qt::LeftButton);
        QTest::mouseClick(w(1), Qt::RightButton, {}, QPoint(5, 7));
        QCOMPARE(pumpUntil(2), 2);
        QCOMPARE(g_events[0].event, EVENT_COMMIT);
        QCOMPARE(g_events[1].event, EVENT_RIGHT_CLICK);
        QCOMPARE(g_events[1].data1, 7); // vertical position first
        SetCtrlAttribute(panel_, 1, ATTR_DIMMED, 1);
        QTest::mouseClick(w(1), Qt::LeftButton);
        QCOMPARE(pumpUntil(3, 100), 2);
    }

    // A key press comes before the text changes, and only typing raises a value change.
    void typingRaisesKeyPressThenValueChanged() {
        SetActiveCtrl(panel_, 2);
        pumpUntil(1); // got focus
        QCOMPARE(g_events.back().event, EVENT_GOT_FOCUS);
        g_events.clear();
        QTest::keyClick(w(2), Qt::Key_D);
        QCOMPARE(g_events.size(), std::size_t(2));
        QCOMPARE(g_events[0].event, EVENT_KEYPRESS);
        QCOMPARE(g_events[0].data1, int('d'));
        QCOMPARE(g_events[1].event, EVENT_VAL_CHANGED);
        g_events.clear();
        SetCtrlVal(panel_, 2, "new");
        SetCtrlAttribute(panel_, 2, ATTR_TEXT_SELECTION_START, 1);
        SetCtrlAttribute(panel_, 2, ATTR_TEXT_SELECTION_LENGTH, 2);
        QApplication::processEvents();
        QVERIFY(g_events.empty());
        QCOMPARE(static_cast<QLineEdit *>(w(2))->selectedText(), QString("ew"));
        QTest::keyClick(w(2), Qt::Key_Return);
        QCOMPARE(pumpUntil(2), 2);
        QCOMPARE(g_events[1].event, EVENT_COMMIT);
    }

    void keyCodesAndSwallowing() {
        SetActiveCtrl(panel_, 2);
        pumpUntil(1);
        const struct {
            Qt::Key key;
            Qt::KeyboardModifiers mods;
            int code;
        } keys[] = {{Qt::Key_Up, {}, VAL_UP_ARROW_VKEY},
                    {Qt::Key_Down, {}, VAL_DOWN_ARROW_VKEY},
                    {Qt::Key_Backspace, {}, VAL_BACKSPACE_VKEY},
                    {Qt::Key_Delete, {}, VAL_FWD_DELETE_VKEY},
                    {Qt::Key_Backtab, Qt::ShiftModifier, VAL_TAB_VKEY | VAL_SHIFT_MODIFIER},
                    {Qt::Key_unknown, {}, 'A'}};
        for (const auto &k : keys) {
            g_events.clear();
            g_keyResult = 1; // swallow, so the focus stays put
            if (k.key == Qt::Key_unknown)
                QTest::keyClick(w(2), 'A'); // a shifted character arrives as itself
            else
                QTest::keyClick(w(2), k.key, k.mods);
            QVERIFY(!g_events.empty());
            QCOMPARE(g_events[0].event, EVENT_KEYPRESS);
            QCOMPARE(g_events[0].data1, k.code);
        }
        // Swallowed keys never reached the text.
        char text[32];
        GetCtrlVal(panel_, 2, text);
        QCOMPARE(QByteArray(text), QByteArray("abc"));
        g_keyResult = 0;
        QTest::keyClick(w(2), Qt::Key_Z);
        GetCtrlVal(panel_, 2, text);
        QCOMPARE(QByteArray(text), QByteArray("abcz"));
    }

    // A string control's label is a caption beside it, never its text.
    void stringLabelsAreCaptions() {
        const int ctrl = NewCtrl(panel_, CTRL_STRING_LS, "Host name", 220, 200);
        QVERIFY(ctrl > 0);
        char text[32] = "x";
        QCOMPARE(GetCtrlVal(panel_, ctrl, text), 0);
        QCOMPARE(QByteArray(text), QByteArray(""));
        QCOMPARE(GetCtrlVal(panel_, 2, text), 0);
        QCOMPARE(QByteArray(text), QByteArray("abc"));
        QStringList captions;
        for (const QLabel *l : testing::PanelWidget(panel_)->findChildren<QLabel *>())
            captions << l->text();
        QVERIFY(captions.contains("Host name"));
        QVERIFY(captions.contains("Name"));
    }

    void fakedKeystrokeReachesTheFocusedControl() {
        SetActiveCtrl(panel_, 2);
        QCOMPARE(FakeKeystroke('q'), 0);
        pumpUntil(10, 100);
        char text[32];
        GetCtrlVal(panel_, 2, text);
        QCOMPARE(QByteArray(text), QByteArray("abcq"));
        QCOMPARE(GetActiveCtrl(panel_), 2);
    }

    void listRules() {
        const int ring = NewCtrl(panel_, CTRL_POPUP_RING, "", 200, 200);
        QVERIFY(ring > 5);
        QCOMPARE(SetCtrlAttribute(panel_, ring, ATTR_DATA_TYPE, VAL_STRING), 0);
        for (const char *v : {"one", "two", "three"})
            QCOMPARE(InsertListItem(panel_, ring, -1, v, v), 0);
        QCOMPARE(InsertListItem(panel_, ring, 0, "zero", "zero"), 0);
        QCOMPARE(InsertListItem(panel_, ring, 9, "x", "x"), kUIEIndexInvalid);
        int n = 0, index = 0;
        GetNumListItems(panel_, ring, &n);
        QCOMPARE(n, 4);
        GetIndexFromValue(panel_, ring, &index, "two");
        QCOMPARE(index, 2);
        GetIndexFromValue(panel_, ring, &index, "none");
        QCOMPARE(index, -1);
        QCOMPARE(DeleteListItem(panel_, ring, 1, -1), 0);
        GetNumListItems(panel_, ring, &n);
        QCOMPARE(n, 1);
        char value[3];
        QCOMPARE(GetValueFromIndex(panel_, ring, 0, value), 0);
        QCOMPARE(QByteArray(value), QByteArray("ze")); // cut to fit
        int len = 0;
        GetValueLengthFromIndex(panel_, ring, 0, &len);
        QCOMPARE(len, 4);
        QCOMPARE(DeleteListItem(panel_, ring, 5, 1), kUIEIndexInvalid);
        QCOMPARE(GetNumListItems(panel_, 2, &n), kUIENotList);
    }

    void choosingARingItemRaisesValueChangedThenCommit() {
        const int ring = NewCtrl(panel_, CTRL_POPUP_RING, "", 200, 200);
        SetCtrlAttribute(panel_, ring, ATTR_DATA_TYPE, VAL_STRING);
        InsertListItem(panel_, ring, -1, "first", "first");
        InsertListItem(panel_, ring, -1, "second", "second");
        InstallCtrlCallback(panel_, ring, record, nullptr);
        g_skipFocus = true;
        SetActiveCtrl(panel_, ring);
        QTest::keyClick(w(ring), Qt::Key_Space);
        QVERIFY(QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }));
        QWidget *menu = QApplication::activePopupWidget();
        QTest::keyClick(menu, Qt::Key_Down);
        QTest::keyClick(menu, Qt::Key_Return);
        QCOMPARE(pumpUntil(3), 3);
        QCOMPARE(g_events[0].event, EVENT_KEYPRESS);
        QCOMPARE(g_events[0].data1, int(' '));
        QCOMPARE(g_events[1].event, EVENT_VAL_CHANGED);
        QCOMPARE(g_events[2].event, EVENT_COMMIT);
        char value[16];
        GetCtrlVal(panel_, ring, value);
        QCOMPARE(QByteArray(value), QByteArray("second"));
    }

    // Giving a control a tab position shifts the ones in between, and Tab follows the order.
    void tabPositionsMoveTheOthers() {
        auto pos = [&](int c) {
            int p = -1;
            GetCtrlAttribute(panel_, c, ATTR_CTRL_TAB_POSITION, &p);
            return p;
        };
        QCOMPARE(pos(2), 1);
        QCOMPARE(pos(4), 3);
        QCOMPARE(SetCtrlAttribute(panel_, 4, ATTR_CTRL_TAB_POSITION, 1), 0);
        QCOMPARE(pos(4), 1);
        QCOMPARE(pos(2), 2);
        QCOMPARE(pos(3), 3);
        SetActiveCtrl(panel_, 1);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(GetActiveCtrl(panel_), 4);
        int count = 0, first = 0, next = 0;
        GetPanelAttribute(panel_, ATTR_NUM_CTRLS, &count);
        GetPanelAttribute(panel_, ATTR_PANEL_FIRST_CTRL, &first);
        GetCtrlAttribute(panel_, 6, ATTR_NEXT_CTRL, &next);
        QCOMPARE(count, 6);
        QCOMPARE(first, 1);
        QCOMPARE(next, 0);
    }

    // A program loop that pumps while it waits must neither spin nor overrun its clock.
    void pumpingWaitEndsOnTime() {
        testing::ResetPump();
        const double start = Timer();
        int passes = 0;
        while (Timer() - start < 0.3) {
            ProcessSystemEvents();
            ++passes;
        }
        const double took = Timer() - start;
        QVERIFY2(took < 0.3 + 0.05, qPrintable(QString::number(took)));
        QVERIFY2(passes < 100000, "the pump spun instead of waiting");
        // Posted work is handled at once, not after a wait.
        bool ran = false;
        QTimer::singleShot(0, [&] { ran = true; });
        const double t0 = Timer();
        while (!ran && Timer() - t0 < 1)
            ProcessSystemEvents();
        QVERIFY(ran);
    }

    // Displays changed in a tight loop are drawn together, at most about once per 16 ms, and
    // the last value is the one left on the screen.
    void displayChangesAreDrawnTogether() {
        auto *label = qobject_cast<QLabel *>(w(5));
        QVERIFY(label);
        // Even after a quiet spell a change waits for the event loop, where the others made
        // meanwhile join it.
        SetCtrlVal(panel_, 5, "first");
        QTRY_COMPARE(label->text(), QString("first"));
        QTest::qWait(40);
        SetCtrlVal(panel_, 5, "second");
        QCOMPARE(label->text(), QString("first"));
        QTRY_COMPARE(label->text(), QString("second"));

        PaintCounter paints;
        label->installEventFilter(&paints);
        testing::ResetPump();
        QElapsedTimer t;
        t.start();
        int i = 0;
        while (t.elapsed() < 320) {
            SetCtrlVal(panel_, 5, QByteArray::number(++i).constData());
            ProcessSystemEvents();
        }
        const int during = paints.count;
        QVERIFY2(during >= 2, qPrintable(QString::number(during)));
        QVERIFY2(during <= 320 / 16 + 3, qPrintable(QString::number(during)));
        QTRY_COMPARE(label->text(), QString::number(i));
    }

    void boundedTextCopies() {
        char dest[8] = "ab";
        QVERIFY(AppendText(dest, "cde"));
        QVERIFY(!AppendText(dest, "fghij"));
        QCOMPARE(QByteArray(dest), QByteArray("abcdefg"));
        QVERIFY(!CopyText(dest, "0123456789"));
        QCOMPARE(QByteArray(dest), QByteArray("0123456"));
        char upper[] = "ab-\xE9z";
        StringUpperCase(upper);
        QCOMPARE(QByteArray(upper), QByteArray("AB-\xE9Z"));
    }
    // The holder may take its lock again; another thread waits until every hold is released.
    void locksAdmitTheirHolderAgain() {
        int lock = 0;
        QCOMPARE(CmtNewLock("", 0, &lock), 0);
        QCOMPARE(CmtGetLock(lock), 0);
        QCOMPARE(CmtGetLock(lock), 0);
        std::atomic<int> stage{0}, otherRelease{0}, otherDiscard{0};
        std::thread other([&] {
            otherRelease = CmtReleaseLock(lock);
            otherDiscard = CmtDiscardLock(lock);
            stage = 1;
            CmtGetLock(lock); // blocks until both holds below are gone
            stage = 2;
            CmtReleaseLock(lock);
        });
        while (stage.load() == 0)
            std::this_thread::yield();
        QCOMPARE(otherRelease.load(), kCmtNotLockOwner);
        QCOMPARE(otherDiscard.load(), kCmtLockInUse);
        QCOMPARE(CmtReleaseLock(lock), 0);
        QCOMPARE(stage.load(), 1); // still held once
        QCOMPARE(CmtReleaseLock(lock), 0);
        other.join();
        QCOMPARE(stage.load(), 2);
        QCOMPARE(CmtReleaseLock(lock), kCmtNotLockOwner);
        QCOMPARE(CmtDiscardLock(lock), 0);
        QCOMPARE(CmtGetLock(lock), kCmtLockInvalid);
        QCOMPARE(CmtDiscardLock(lock), kCmtLockInvalid);
        QCOMPARE(CmtNewLock("", 0, nullptr), kCmtValueInvalid);
    }

    // A deferred call runs on the thread it names, from that thread's event processing, in order.
    void deferredCallsRunOnTheirThread() {
        static std::vector<std::pair<int, unsigned>> ran;
        ran.clear();
        auto note = [](void *data) {
            ran.push_back(
                {static_cast<int>(reinterpret_cast<std::intptr_t>(data)), CmtGetCurrentThreadID()});
        };
        const unsigned ui = CmtGetCurrentThreadID();
        QVERIFY(ui > 0);
        QCOMPARE(CmtGetCurrentThreadID(), ui);
        QCOMPARE(PostDeferredCallToThread(note, reinterpret_cast<void *>(1), ui), 0);
        QCOMPARE(PostDeferredCallToThread(note, reinterpret_cast<void *>(2), ui), 0);
        QVERIFY(ran.empty()); // not before events are processed
        QVERIFY(QTest::qWaitFor([] { return ran.size() == 2; }));
        QCOMPARE(ran[0], std::make_pair(1, ui));
        QCOMPARE(ran[1].first, 2);

        // A worker with an event loop gets its calls; one without, and an ended one, refuse.
        QThread worker;
        std::atomic<unsigned> workerId{0};
        QObject::connect(&worker, &QThread::started, [&] { workerId = CmtGetCurrentThreadID(); });
        worker.start();
        QVERIFY(QTest::qWaitFor([&] { return workerId.load() != 0; }));
        QVERIFY(workerId.load() != ui);
        static std::atomic<unsigned> ranOn{0};
        QCOMPARE(PostDeferredCallToThread([](void *) { ranOn = CmtGetCurrentThreadID(); }, nullptr,
                                          workerId),
                 0);
        QVERIFY(QTest::qWaitFor([] { return ranOn.load() != 0; }));
        QCOMPARE(ranOn.load(), workerId.load());
        worker.quit();
        worker.wait();
        unsigned plainId = 0;
        std::thread plain([&] { plainId = CmtGetCurrentThreadID(); });
        plain.join();
        QCOMPARE(PostDeferredCallToThread(note, nullptr, plainId), kUIEThreadInvalid);
        QCOMPARE(PostDeferredCallToThread(note, nullptr, 0), kUIEThreadInvalid);
        QCOMPARE(PostDeferredCallToThread(nullptr, nullptr, ui), kUIEValueInvalid);
    }
};

QTEST_MAIN(UserIntTest)
#include "test_userint.moc"

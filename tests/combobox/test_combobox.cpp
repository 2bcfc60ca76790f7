// The combo box on a panel of its own, through its calls as the program makes them and its keys
// and clicks as the operator makes them.
#include "combobox/combobox.h"
#include "combobox/testing.h"
#include "platform/testing.h"
#include "platform/thread.h"
#include "platform/userint.h"
#include "tests/support/support.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

#include <cstring>
#include <functional>

using namespace qv;
using namespace qv::rt;
using qvtest::attr;
using qvtest::ctrlText;

namespace {

// Tab order is creation order; sizes are the run-time's default, 100 by 20.
enum : int { BEFORE = 1, FLAT = 2, SUNK = 3, NUM = 4, NOTE = 5, AFTER = 6, PLAIN = 7 };

// clang-format off
const char kPanels[] = R"({"panels": [{"resource": 7, "width": 360, "height": 230, "controls": [
  {"id": 1, "kind": "command_button", "left": 10, "top": 10},
  {"id": 2, "kind": "string", "left": 100, "top": 50, "callback": "user"},
  {"id": 3, "kind": "string", "look": 2, "left": 100, "top": 110, "callback": "user"},
  {"id": 4, "kind": "numeric", "left": 250, "top": 50},
  {"id": 5, "kind": "text_message", "label": "Note", "left": 250, "top": 110},
  {"id": 6, "kind": "command_button", "left": 250, "top": 180},
  {"id": 7, "kind": "string", "left": 10, "top": 180}
]}]})";
// clang-format on

struct Seen {
    int control, event;
    void *data;
    int data1;
};
std::vector<Seen> seen;
std::function<void(const Seen &)> onEvent; // runs where the program's own handler would
int userData = 0;                          // its address is the string controls' callback data

int user(int, int control, int event, void *data, int data1, int) {
    seen.push_back({control, event, data, data1});
    if (onEvent)
        onEvent(seen.back());
    return 0;
}

int count(int event) {
    return int(
        std::count_if(seen.begin(), seen.end(), [&](const Seen &s) { return s.event == event; }));
}

QRect geometry(int panel, int ctrl) {
    return QRect(attr(panel, ctrl, ATTR_LEFT), attr(panel, ctrl, ATTR_TOP),
                 attr(panel, ctrl, ATTR_WIDTH), attr(panel, ctrl, ATTR_HEIGHT));
}

ComboRec *recordOf(int panel, int ctrl) {
    void *data = nullptr;
    GetCtrlAttribute(panel, ctrl, ATTR_CALLBACK_DATA, &data);
    return static_cast<ComboRec *>(data);
}

QWidget *popup() {
    return QApplication::activePopupWidget();
}

} // namespace

class ComboBoxTest : public QObject {
    Q_OBJECT
    std::unique_ptr<qvtest::ScratchProject> project_;
    int panel_ = 0;
    int ring_ = 0;

    // A combo box on `ctrl` holding `items`, with the focus in its text field. Ends the run when
    // creation fails: every test after it would only crash.
    QLineEdit *combo(int ctrl, const QByteArrayList &items) {
        if (Combo_NewComboBox(panel_, ctrl) != ctrl)
            qFatal("no combo box on control %d", ctrl);
        for (const QByteArray &item : items)
            Combo_InsertComboItem(panel_, ctrl, -1, item.constData());
        ring_ = recordOf(panel_, ctrl)->ringCtrl;
        SetActiveCtrl(panel_, ctrl);
        QApplication::processEvents();
        seen.clear();
        return static_cast<QLineEdit *>(testing::ControlWidget(panel_, ctrl));
    }
    bool focusOn(int ctrl) {
        return QTest::qWaitFor([&] { return !popup() && GetActiveCtrl(panel_) == ctrl; });
    }
    // `open` (Down or Up) in the text field, then `steps` Down and Enter in the list.
    bool pick(QLineEdit *e, int steps, Qt::Key open = Qt::Key_Down) {
        const int commits = count(EVENT_COMMIT);
        QTest::keyClick(e, open);
        if (!QTest::qWaitFor([] { return popup() != nullptr; }) || GetActiveCtrl(panel_) != ring_)
            return false;
        for (int i = 0; i < steps; ++i)
            QTest::keyClick(popup(), Qt::Key_Down);
        QTest::keyClick(popup(), Qt::Key_Return);
        return QTest::qWaitFor([&] { return count(EVENT_COMMIT) > commits; });
    }

  private slots:
    void initTestCase() {
        qvtest::initRunTime();
        SetCallbackResolver([](const std::string &n) {
            CallbackEntry e;
            if (n == "user")
                e.control = user;
            return e;
        });
        project_ = std::make_unique<qvtest::ScratchProject>();
        QVERIFY(qvtest::writeFile(project_->file("combo.uir"), kPanels));
    }
    void init() {
        panel_ = LoadPanel(0, "combo.uir", 7);
        QVERIFY(panel_ > 0);
        for (int c : {FLAT, SUNK})
            SetCtrlAttribute(panel_, c, ATTR_CALLBACK_DATA, static_cast<void *>(&userData));
        DisplayPanel(panel_);
        QVERIFY(QTest::qWaitForWindowActive(testing::PanelWidget(panel_)));
        seen.clear();
        onEvent = nullptr;
    }
    void cleanup() {
        combo_testing::SetAllocator(nullptr);
        if (popup())
            popup()->close();
        DiscardPanel(panel_);
    }

    // Ring in front, then the text field, the frame behind both; the ring directly before the
    // text field in the tab order.
    void creationPlacesRingAndFrame() {
        const struct {
            int ctrl, frameStyle;
            QRect frame, ring;
        } rows[] = {{FLAT, CTRL_DECORATION, {80, 49, 121, 22}, {81, 50, 20, 20}},
                    {SUNK, CTRL_DECORATION_LS, {80, 108, 122, 24}, {82, 110, 20, 20}}};
        for (const auto &[ctrl, frameStyle, frame, ring] : rows) {
            SetCtrlAttribute(panel_, ctrl, ATTR_MAX_ENTRY_LENGTH, 15);
            const int tab = attr(panel_, ctrl, ATTR_CTRL_TAB_POSITION);
            QCOMPARE(Combo_NewComboBox(panel_, ctrl), ctrl);
            const ComboRec *r = recordOf(panel_, ctrl);
            QCOMPARE(r->entryLimit, 16);
            QCOMPARE(geometry(panel_, r->frameCtrl), frame);
            QCOMPARE(geometry(panel_, r->ringCtrl), ring);
            QCOMPARE(attr(panel_, r->frameCtrl, ATTR_CTRL_STYLE), frameStyle);
            for (auto [c, z, t] : {std::tuple{r->ringCtrl, 0, tab}, {ctrl, 1, tab + 1}})
                QVERIFY(attr(panel_, c, ATTR_ZPLANE_POSITION) == z &&
                        attr(panel_, c, ATTR_CTRL_TAB_POSITION) == t);
            QCOMPARE(attr(panel_, r->frameCtrl, ATTR_ZPLANE_POSITION), 2);
            int height = 0;
            QCOMPARE(Combo_GetComboAttribute(panel_, ctrl, COMBO_ATTR_HEIGHT, &height), 0);
            QCOMPARE(height, frame.height());
        }
    }

    // Refused creations, operations on what is not a combo box and a creation out of memory
    // change nothing; a discard removes all three controls.
    void refusalsAndRemoval() {
        const auto controls = [this] {
            int n = 0;
            GetPanelAttribute(panel_, ATTR_NUM_CTRLS, &n);
            return n;
        };
        const int before = controls();
        combo_testing::SetAllocator([](std::size_t) -> void * { return nullptr; });
        QCOMPARE(Combo_NewComboBox(panel_, FLAT), kComboOutOfMemory);
        QCOMPARE(recordOf(panel_, FLAT), reinterpret_cast<ComboRec *>(&userData));
        combo_testing::SetAllocator(nullptr);
        QCOMPARE(controls(), before);
        QCOMPARE(Combo_NewComboBox(panel_, FLAT), int(FLAT));
        for (int c : {int(FLAT), int(NUM), 99}) // already one, not a string, no such control
            QCOMPARE(Combo_NewComboBox(panel_, c), kComboWrongControl);
        QCOMPARE(controls(), before + 2);

        // A string control whose callback data points at something else: no call reads it as a
        // record (the sanitizer build would see it). (No callback data: NUM above.)
        char *stray = new char[1]{0};
        SetCtrlAttribute(panel_, SUNK, ATTR_CALLBACK_DATA, static_cast<void *>(stray));
        int index = 0, value = 0;
        char font[8];
        for (int status : {Combo_SetComboAttribute(panel_, SUNK, COMBO_ATTR_VISIBLE, 0),
                           Combo_GetComboAttribute(panel_, SUNK, COMBO_ATTR_WIDTH, &value),
                           Combo_GetComboAttribute(panel_, SUNK, COMBO_ATTR_TEXT_FONT, font),
                           Combo_InsertComboItem(panel_, SUNK, 0, "x"),
                           Combo_DeleteComboItem(panel_, SUNK, 0, 1),
                           Combo_ReplaceComboItem(panel_, SUNK, 0, "x"),
                           Combo_GetIndexFromValue(panel_, SUNK, &index, "x"),
                           Combo_DiscardComboBox(panel_, SUNK)})
            QCOMPARE(status, kComboWrongControl);
        QCOMPARE(SendValChangedEvent(reinterpret_cast<ComboRec *>(stray)), kComboWrongControl);
        SetCtrlAttribute(panel_, SUNK, ATTR_CALLBACK_DATA, static_cast<void *>(nullptr));
        delete[] stray;

        QCOMPARE(Combo_DiscardComboBox(panel_, FLAT), 0);
        QCOMPARE(controls(), before - 1); // the field, its ring and its frame
        QCOMPARE(Combo_DiscardComboBox(panel_, FLAT), kUIECtrlInvalid);
    }

    // Each attribute lands on the controls that carry it and reads back; size and place are
    // the frame's, and the ring and the text field follow it.
    void attributes() {
        QCOMPARE(Combo_NewComboBox(panel_, FLAT), int(FLAT));
        const ComboRec *r = recordOf(panel_, FLAT);
        const struct {
            int attribute, value, runTime;
            const char *on; // S text field, R ring, F frame
        } rows[] = {
            {COMBO_ATTR_FRAME_COLOR, 0xE0E0E0, ATTR_FRAME_COLOR, "SRF"},
            {COMBO_ATTR_TEXT_COLOR, 0x102030, ATTR_TEXT_COLOR, "S"},
            {COMBO_ATTR_TEXT_BOLD, 1, ATTR_TEXT_BOLD, "SR"},
            {COMBO_ATTR_TEXT_ITALIC, 1, ATTR_TEXT_ITALIC, "SR"},
            {COMBO_ATTR_TEXT_POINT_SIZE, 11, ATTR_TEXT_POINT_SIZE, "SR"},
            {COMBO_ATTR_DIMMED, 1, ATTR_DIMMED, "SRF"},
            {COMBO_ATTR_VISIBLE, 0, ATTR_VISIBLE, "SRF"},
            {COMBO_ATTR_MAX_ENTRY_LENGTH, 15, ATTR_MAX_ENTRY_LENGTH, "S"},
            {COMBO_ATTR_WIDTH, 200, ATTR_WIDTH, "F"},
            {COMBO_ATTR_LEFT, 30, ATTR_LEFT, "F"},
            {COMBO_ATTR_TOP, 70, ATTR_TOP, "F"},
        };
        const int controls[] = {FLAT, r->ringCtrl, r->frameCtrl}; // S, R, F
        for (const auto &row : rows) {
            int v = -1;
            QCOMPARE(Combo_SetComboAttribute(panel_, FLAT, row.attribute, row.value), 0);
            QCOMPARE(Combo_GetComboAttribute(panel_, FLAT, row.attribute, &v), 0);
            QCOMPARE(v, row.value);
            for (int i = 0; i < 3; ++i)
                if (std::strchr(row.on, "SRF"[i]))
                    QCOMPARE(attr(panel_, controls[i], row.runTime), row.value);
        }
        QCOMPARE(geometry(panel_, r->ringCtrl), QRect(31, 71, 20, 20));
        QCOMPARE(geometry(panel_, FLAT), QRect(50, 71, 180, 20));

        // A font name of its own kind, cut to the caller's buffer.
        QCOMPARE(Combo_SetComboAttribute(panel_, FLAT, COMBO_ATTR_TEXT_FONT, "DejaVu Sans Mono"),
                 0);
        char font[7];
        int v = 0;
        QCOMPARE(Combo_GetComboAttribute(panel_, FLAT, COMBO_ATTR_TEXT_FONT, font), 0);
        QCOMPARE(QByteArray(font), QByteArray("DejaVu"));
        QCOMPARE(Combo_GetComboAttribute(panel_, FLAT, COMBO_ATTR_TEXT_FONT_NAME_LENGTH, &v), 0);
        QCOMPARE(v, 16);
        // Refused: unknown or read-only attributes, values of the wrong kind or the run-time's.
        for (int a : {COMBO_ATTR_HEIGHT, COMBO_ATTR_TEXT_FONT_NAME_LENGTH, 0, 15})
            QCOMPARE(Combo_SetComboAttribute(panel_, FLAT, a, 0), kComboAttrInvalid);
        QCOMPARE(Combo_GetComboAttribute(panel_, FLAT, 15, &v), kComboAttrInvalid);
        for (int status : {Combo_SetComboAttribute(panel_, FLAT, COMBO_ATTR_TEXT_FONT, 3),
                           Combo_SetComboAttribute(panel_, FLAT, COMBO_ATTR_WIDTH, "x"),
                           Combo_GetComboAttribute(panel_, FLAT, COMBO_ATTR_TEXT_FONT, &v),
                           Combo_SetComboAttribute(panel_, FLAT, COMBO_ATTR_TEXT_POINT_SIZE, 0)})
            QCOMPARE(status, kUIEValueInvalid);
    }

    // Completion, case-insensitive, selects what it added; Backspace and Delete hold back the
    // next completion only; a text emptied by a cut gets the first item, wholly selected.
    // Typed: \b Backspace, \x7f Delete, \x18 select all and cut.
    void typing_data() {
        QTest::addColumn<QByteArrayList>("items");
        QTest::addColumn<int>("maxLength");
        QTest::addColumn<QByteArray>("typed");
        QTest::addColumn<QString>("shown"); // text|selection
        const QByteArrayList two = {"ABCDEF", "abc"};
        QTest::newRow("completes") << two << -1 << QByteArray("abc") << "abcDEF|DEF";
        QTest::newRow("Backspace") << two << -1 << QByteArray("abc\b") << "abc|";
        QTest::newRow("then a key") << two << -1 << QByteArray("abc\bd") << "abcdEF|EF";
        QTest::newRow("Delete") << two << -1 << QByteArray("abc\bd\x7f") << "abcd|";
        QTest::newRow("no match") << two << -1 << QByteArray("zz") << "zz|";
        QTest::newRow("whole match") << QByteArrayList{"x"} << -1 << QByteArray("x") << "x|";
        QTest::newRow("to the maximum")
            << QByteArrayList{"ABCDEFGH"} << 5 << QByteArray("a") << "aBCDE|BCDE";
        QTest::newRow("emptied by a cut")
            << two << -1 << QByteArray("hello\x18") << "ABCDEF|ABCDEF";
    }
    void typing() {
        QFETCH(QByteArrayList, items);
        QFETCH(int, maxLength);
        QFETCH(QByteArray, typed);
        QFETCH(QString, shown);
        QLineEdit *e = combo(FLAT, items);
        Combo_SetComboAttribute(panel_, FLAT, COMBO_ATTR_MAX_ENTRY_LENGTH, maxLength);
        const auto state = [&] { return e->text() + "|" + e->selectedText(); };
        QStringList atValueChanged; // the user callback sees each change already completed
        onEvent = [&](const Seen &s) {
            if (s.event == EVENT_VAL_CHANGED)
                atValueChanged << state();
        };
        for (char c : typed) {
            if (c == '\b' || c == '\x7f')
                QTest::keyClick(e, c == '\b' ? Qt::Key_Backspace : Qt::Key_Delete);
            else if (c == '\x18')
                for (Qt::Key k : {Qt::Key_A, Qt::Key_X})
                    QTest::keyClick(e, k, Qt::ControlModifier);
            else
                QTest::keyClick(e, c);
        }
        QCOMPARE(state(), shown);
        QCOMPARE(atValueChanged.last(), shown);
        QCOMPARE(seen.front().data, static_cast<void *>(&userData));
        if (typed == "abc")
            QCOMPARE(atValueChanged, QStringList({"aBCDEF|BCDEF", "abCDEF|CDEF", "abcDEF|DEF"}));
    }

    // Down or Up opens the list on the ring, on the text's own entry; a pick lands in the text
    // field, cut to its maximum, as its own commit (Escape: test_link); an empty list stays shut.
    void theListFromTheKeyboard() {
        QLineEdit *e = combo(FLAT, {"alpha", "beta", "gamma", "ABCDEFGH"});
        QVERIFY(pick(e, 1));
        QCOMPARE(ctrlText(panel_, FLAT), QByteArray("beta"));
        QVERIFY(focusOn(FLAT));
        seen.clear();
        QVERIFY(pick(e, 0, Qt::Key_Up)); // opens on the text's own entry
        QCOMPARE(ctrlText(panel_, FLAT), QByteArray("beta"));
        QCOMPARE(count(EVENT_VAL_CHANGED), 1);
        QCOMPARE(count(EVENT_COMMIT), 1);
        for (const Seen &s : seen)
            QCOMPARE(s.control, int(FLAT)); // nothing addressed to the ring
        Combo_SetComboAttribute(panel_, FLAT, COMBO_ATTR_MAX_ENTRY_LENGTH, 5);
        QVERIFY(pick(e, 2));
        QCOMPARE(ctrlText(panel_, FLAT), QByteArray("ABCDE"));

        Combo_DeleteComboItem(panel_, FLAT, 0, -1);
        QTest::keyClick(e, Qt::Key_Down);
        QApplication::processEvents();
        QVERIFY(!popup());
        QCOMPARE(GetActiveCtrl(panel_), int(FLAT));
    }

    // Tab, a click or the program may put the focus on the ring; it goes back at once, unless
    // the operator has tabbed on before the ring's report came. The mouse still picks. Shift+Tab
    // skips the ring, handed on to the callback all the same.
    void theRingGivesTheFocusBack() {
        QLineEdit *e = combo(FLAT, {"one", "two"});
        SetActiveCtrl(panel_, BEFORE);
        QTest::keyClick(testing::ControlWidget(panel_, BEFORE), Qt::Key_Tab);
        QVERIFY(focusOn(FLAT));
        SetActiveCtrl(panel_, ring_);
        QVERIFY(focusOn(FLAT));
        SetActiveCtrl(panel_, BEFORE);
        QVERIFY(focusOn(BEFORE));
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(GetActiveCtrl(panel_), int(SUNK));
        QApplication::processEvents(); // the ring's got-focus report
        QCOMPARE(GetActiveCtrl(panel_), int(SUNK));

        QTest::mouseClick(testing::ControlWidget(panel_, ring_), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([] { return popup() != nullptr; }));
        auto *menu = qobject_cast<QMenu *>(popup());
        QVERIFY(menu);
        QTest::mouseClick(menu, Qt::LeftButton, {},
                          menu->actionGeometry(menu->actions().at(1)).center());
        QVERIFY(QTest::qWaitFor([] { return count(EVENT_COMMIT) == 1; }));
        QCOMPARE(ctrlText(panel_, FLAT), QByteArray("two"));
        QVERIFY(focusOn(FLAT));
        QTest::keyClick(e, Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(GetActiveCtrl(panel_), int(BEFORE)); // moved once, by the handler
        QCOMPARE(seen.back().event, EVENT_KEYPRESS);  // handed on all the same
        QCOMPARE(seen.back().data1, VAL_SHIFT_MODIFIER | VAL_TAB_VKEY);

        // Nothing operable before it: backwards from the end, past what cannot take the focus;
        // the only operable control left, the focus stays in the text field, not on the ring.
        SetCtrlAttribute(panel_, BEFORE, ATTR_DIMMED, 1);
        SetCtrlAttribute(panel_, PLAIN, ATTR_VISIBLE, 0);
        for (int last : {int(AFTER), int(FLAT)}) {
            SetActiveCtrl(panel_, FLAT);
            QVERIFY(focusOn(FLAT));
            QTest::keyClick(e, Qt::Key_Backtab, Qt::ShiftModifier);
            QCOMPARE(GetActiveCtrl(panel_), last);
            QVERIFY(focusOn(last));
            for (int c : {SUNK, NUM, AFTER})
                SetCtrlAttribute(panel_, c, ATTR_DIMMED, 1);
        }
    }

    // A sent value change arrives now, its commit later or never once the box is gone. The
    // callback may remove its own combo box, as the address field's does on every commit.
    void userCallbackAndSentEvents() {
        QLineEdit *e = combo(FLAT, {"alpha", "beta"});
        combo(SUNK, {});
        ComboRec *r = recordOf(panel_, SUNK);
        QCOMPARE(SendValChangedEvent(r), 0);
        QVERIFY(count(EVENT_VAL_CHANGED) == 1 && count(EVENT_COMMIT) == 0);
        QVERIFY(QTest::qWaitFor([] { return count(EVENT_COMMIT) == 1; }));
        static bool done = false;
        QCOMPARE(SendValChangedEvent(r), 0);
        QCOMPARE(Combo_DiscardComboBox(panel_, SUNK), 0);
        PostDeferredCallToThread([](void *) { done = true; }, nullptr, CmtGetCurrentThreadID());
        QVERIFY(QTest::qWaitFor([] { return done; }));
        QCOMPARE(count(EVENT_COMMIT), 1);

        const int ring = recordOf(panel_, FLAT)->ringCtrl;
        int discarded = 1;
        onEvent = [&](const Seen &s) {
            if (s.event == EVENT_KEYPRESS)
                discarded = Combo_DiscardComboBox(panel_, FLAT);
        };
        QTest::keyClick(e, Qt::Key_Q);
        QCOMPARE(discarded, 0);
        QVERIFY(!testing::ControlWidget(panel_, FLAT) && !testing::ControlWidget(panel_, ring));
    }
};

QTEST_MAIN(ComboBoxTest)
#include "test_combobox.moc"

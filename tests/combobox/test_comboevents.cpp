// The combo box as the operator uses it: typing with completion, the list from the keyboard and
// the mouse, the focus kept on the text field, and what reaches the field's own callback.
#include "combobox/testing.h"
#include "fixture.h"
#include "platform/thread.h"

#include <QMenu>
#include <QPainter>

#include <array>

using namespace fixture;

namespace {

QWidget *popup() {
    return QApplication::activePopupWidget();
}

void *failingAllocator(std::size_t) {
    return nullptr;
}

} // namespace

class ComboEventsTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    int panel_ = 0;
    int ring_ = 0;

    // A combo box on `ctrl` holding `items`, with the focus in its text field.
    QLineEdit *combo(int ctrl, std::initializer_list<const char *> items) {
        if (Combo_NewComboBox(panel_, ctrl) != ctrl)
            return nullptr;
        for (const char *item : items)
            Combo_InsertComboItem(panel_, ctrl, -1, item);
        ring_ = recordOf(panel_, ctrl)->ringCtrl;
        SetActiveCtrl(panel_, ctrl);
        QApplication::processEvents();
        seen.clear();
        return edit(panel_, ctrl);
    }
    bool focusOn(int ctrl) {
        return QTest::qWaitFor([&] { return !popup() && GetActiveCtrl(panel_) == ctrl; });
    }
    // Down in the text field, then `steps` more and Enter in the list.
    bool pick(QLineEdit *e, int steps) {
        const int commits = count(EVENT_COMMIT);
        QTest::keyClick(e, Qt::Key_Down);
        if (!QTest::qWaitFor([] { return popup() != nullptr; }))
            return false;
        if (GetActiveCtrl(panel_) != ring_)
            return false;
        for (int i = 0; i < steps; ++i)
            QTest::keyClick(popup(), Qt::Key_Down);
        QTest::keyClick(popup(), Qt::Key_Return);
        return QTest::qWaitFor([&] { return count(EVENT_COMMIT) > commits; });
    }

  private slots:
    void initTestCase() { startRunTime(dir_); }
    void init() {
        panel_ = openPanel();
        QVERIFY(panel_ > 0);
    }
    void cleanup() {
        combo_testing::SetAllocator(nullptr);
        if (popup())
            popup()->close();
        DiscardPanel(panel_);
    }

    void typingCompletesFromTheList() {
        QLineEdit *e = combo(FLAT, {});
        QVERIFY(e);
        auto reset = [&](std::initializer_list<const char *> items, int maxLength) {
            Combo_DeleteComboItem(panel_, FLAT, 0, -1);
            for (const char *item : items)
                Combo_InsertComboItem(panel_, FLAT, -1, item);
            Combo_SetComboAttribute(panel_, FLAT, COMBO_ATTR_MAX_ENTRY_LENGTH, maxLength);
            SetCtrlVal(panel_, FLAT, "");
        };
        auto state = [&] { return e->text() + "|" + e->selectedText(); };
        // The user callback sees each typed change once, already completed.
        QStringList atValueChanged;
        onEvent = [&](const Seen &s) {
            if (s.event == EVENT_VAL_CHANGED)
                atValueChanged << state();
        };

        reset({"ABCDEF", "abc"}, -1);
        QTest::keyClicks(e, "ab");
        QCOMPARE(state(), "abCDEF|CDEF");
        QTest::keyClick(e, Qt::Key_C);
        QCOMPARE(state(), "abcDEF|DEF");
        QCOMPARE(atValueChanged, QStringList({"aBCDEF|BCDEF", "abCDEF|CDEF", "abcDEF|DEF"}));
        QCOMPARE(count(EVENT_KEYPRESS), 3);
        QCOMPARE(seen.front().data, static_cast<void *>(&userData));

        // Backspace and Delete hold back the next completion only.
        QTest::keyClick(e, Qt::Key_Backspace);
        QCOMPARE(state(), "abc|");
        QTest::keyClick(e, Qt::Key_D);
        QCOMPARE(state(), "abcdEF|EF");
        QTest::keyClick(e, Qt::Key_Delete);
        QCOMPARE(state(), "abcd|");

        reset({"ABCDEF", "abc"}, -1);
        QTest::keyClicks(e, "zz");
        QCOMPARE(state(), "zz|");
        reset({"x"}, -1);
        QTest::keyClick(e, Qt::Key_X);
        QCOMPARE(state(), "x|");
        reset({"ABCDEFGH"}, 5);
        QTest::keyClick(e, Qt::Key_A);
        QCOMPARE(state(), "aBCDE|BCDE");

        // Emptied by a cut: the first item fills it, wholly selected.
        reset({"ABCDEF", "abc"}, -1);
        SetCtrlVal(panel_, FLAT, "hello");
        QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(e, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(state(), "ABCDEF|ABCDEF");
    }

    // Down opens the list on the ring; a pick lands in the text field as its own commit.
    void arrowKeysOpenTheList() {
        QLineEdit *e = combo(FLAT, {"alpha", "beta", "gamma"});
        QVERIFY(e);
        QVERIFY(pick(e, 1));
        QCOMPARE(text(panel_, FLAT), QByteArray("beta"));
        QVERIFY(focusOn(FLAT));
        QVERIFY(pick(e, 0)); // opens on the text's own entry
        QCOMPARE(text(panel_, FLAT), QByteArray("beta"));
        SetCtrlVal(panel_, FLAT, "gamma");
        QVERIFY(pick(e, 0));
        QCOMPARE(text(panel_, FLAT), QByteArray("gamma"));
        seen.clear();
        SetCtrlVal(panel_, FLAT, "beta");
        QVERIFY(pick(e, 0));
        QCOMPARE(count(EVENT_VAL_CHANGED), 1);
        QCOMPARE(count(EVENT_COMMIT), 1);
        for (const Seen &s : seen)
            QCOMPARE(s.control, int(FLAT)); // nothing addressed to the ring

        // Up opens it too; Escape closes it and the text field has the focus again.
        QTest::keyClick(e, Qt::Key_Up);
        QVERIFY(QTest::qWaitFor([] { return popup() != nullptr; }));
        QTest::keyClick(popup(), Qt::Key_Escape);
        QVERIFY(focusOn(FLAT));
        QCOMPARE(text(panel_, FLAT), QByteArray("beta"));

        // With nothing to list the focus stays where the operator types.
        Combo_DeleteComboItem(panel_, FLAT, 0, -1);
        QTest::keyClick(e, Qt::Key_Down);
        QApplication::processEvents();
        QVERIFY(!popup());
        QCOMPARE(GetActiveCtrl(panel_), int(FLAT));
    }

    void aPickIsCutToTheMaximumLength() {
        QLineEdit *e = combo(SUNK, {"ABCDEFGH"});
        QVERIFY(e);
        Combo_SetComboAttribute(panel_, SUNK, COMBO_ATTR_MAX_ENTRY_LENGTH, 5);
        QVERIFY(pick(e, 0));
        QCOMPARE(text(panel_, SUNK), QByteArray("ABCDE"));
        QCOMPARE(seen.back().event, EVENT_COMMIT);
        QCOMPARE(seen.back().control, int(SUNK));
    }

    // Tab, a click or the program may put the focus on the ring; it goes back at once.
    void theRingGivesTheFocusBack() {
        QLineEdit *e = combo(FLAT, {"one", "two"});
        QVERIFY(e);
        SetActiveCtrl(panel_, BEFORE);
        QTest::keyClick(testing::ControlWidget(panel_, BEFORE), Qt::Key_Tab);
        QVERIFY(focusOn(FLAT));
        SetActiveCtrl(panel_, ring_);
        QVERIFY(focusOn(FLAT));

        // Tabbing on before the ring's report comes: the focus is not pulled back.
        SetActiveCtrl(panel_, BEFORE);
        QVERIFY(focusOn(BEFORE));
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(GetActiveCtrl(panel_), int(SUNK));
        QApplication::processEvents(); // the ring's got-focus report
        QCOMPARE(GetActiveCtrl(panel_), int(SUNK));

        // The mouse still opens the list and picks from it.
        QTest::mouseClick(testing::ControlWidget(panel_, ring_), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([] { return popup() != nullptr; }));
        auto *menu = qobject_cast<QMenu *>(popup());
        QVERIFY(menu);
        QTest::mouseClick(menu, Qt::LeftButton, {},
                          menu->actionGeometry(menu->actions().at(1)).center());
        QVERIFY(QTest::qWaitFor([] { return count(EVENT_COMMIT) == 1; }));
        QCOMPARE(text(panel_, FLAT), QByteArray("two"));
        QVERIFY(focusOn(FLAT));
    }

    void shiftTabSkipsTheRing() {
        QLineEdit *e = combo(FLAT, {"one"});
        QVERIFY(e);
        const int backtab = VAL_SHIFT_MODIFIER | VAL_TAB_VKEY;
        QTest::keyClick(e, Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(GetActiveCtrl(panel_), int(BEFORE)); // moved once, by the handler
        QCOMPARE(seen.back().event, EVENT_KEYPRESS);  // handed on all the same
        QCOMPARE(seen.back().data1, backtab);

        // Nothing operable before it: backwards from the end, past what cannot take the focus.
        SetCtrlAttribute(panel_, BEFORE, ATTR_DIMMED, 1);
        SetCtrlAttribute(panel_, PLAIN, ATTR_VISIBLE, 0);
        SetActiveCtrl(panel_, FLAT);
        QVERIFY(focusOn(FLAT));
        QTest::keyClick(e, Qt::Key_Backtab, Qt::ShiftModifier);
        QVERIFY(focusOn(AFTER));

        // A combo box first in the tab order wraps to the last control.
        SetCtrlAttribute(panel_, SUNK, ATTR_CTRL_TAB_POSITION, 0);
        QLineEdit *first = combo(SUNK, {"x"});
        QVERIFY(first);
        QCOMPARE(attr(panel_, SUNK, ATTR_CTRL_TAB_POSITION), 1);
        QTest::keyClick(first, Qt::Key_Backtab, Qt::ShiftModifier);
        QVERIFY(focusOn(AFTER));

        // The only operable control left: the focus stays in the text field.
        Combo_SetComboAttribute(panel_, FLAT, COMBO_ATTR_DIMMED, 1);
        for (int c : {NUM, AFTER})
            SetCtrlAttribute(panel_, c, ATTR_DIMMED, 1);
        SetActiveCtrl(panel_, SUNK);
        QVERIFY(focusOn(SUNK));
        QTest::keyClick(first, Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(GetActiveCtrl(panel_), int(SUNK)); // not passed on to the ring
        QVERIFY(focusOn(SUNK));
    }

    void rightClicksReachTheTextFieldsCallbackOnly() {
        QLineEdit *e = combo(FLAT, {"one"});
        QVERIFY(e);
        QTest::mouseClick(testing::ControlWidget(panel_, ring_), Qt::RightButton);
        QTest::mouseClick(e, Qt::RightButton, {}, QPoint(4, 6));
        // Posted in order: once the text field's has come, the ring's has been dealt with.
        QVERIFY(QTest::qWaitFor([] { return count(EVENT_RIGHT_CLICK) == 1; }));
        QApplication::processEvents();
        QCOMPARE(count(EVENT_RIGHT_CLICK), 1);
        QCOMPARE(seen.back().control, int(FLAT));
        QCOMPARE(seen.back().data1, 6);
        QVERIFY(!popup());
    }

    // The user callback runs inside the handlers and may use its own combo box, even remove it.
    void userCallbackMayUseTheComboBox() {
        QLineEdit *e = combo(FLAT, {"alpha", "beta"});
        QVERIFY(e);
        int width = 0, index = -1;
        onEvent = [&](const Seen &s) {
            if (s.event != EVENT_VAL_CHANGED && s.event != EVENT_COMMIT)
                return;
            Combo_GetComboAttribute(panel_, FLAT, COMBO_ATTR_WIDTH, &width);
            Combo_SetComboAttribute(panel_, FLAT, COMBO_ATTR_FRAME_COLOR, 0xC0C0C0);
            Combo_InsertComboItem(panel_, FLAT, 0, "seen");
            Combo_GetIndexFromValue(panel_, FLAT, &index, "beta");
        };
        QTest::keyClick(e, Qt::Key_B);
        QCOMPARE(text(panel_, FLAT), QByteArray("beta"));
        QCOMPARE(width, 141);
        QCOMPARE(index, 2);
        QVERIFY(pick(e, 0));
        QCOMPARE(attr(panel_, ring_, ATTR_FRAME_COLOR), 0xC0C0C0);

        // A non-zero result goes back to the run-time, which then drops the key.
        onEvent = nullptr;
        userResult = 1;
        SetCtrlVal(panel_, FLAT, "kept");
        QTest::keyClick(e, Qt::Key_Z);
        QCOMPARE(text(panel_, FLAT), QByteArray("kept"));
        userResult = 0;

        int discarded = 1;
        onEvent = [&](const Seen &s) {
            if (s.event == EVENT_KEYPRESS)
                discarded = Combo_DiscardComboBox(panel_, FLAT);
        };
        QTest::keyClick(e, Qt::Key_Q);
        QCOMPARE(discarded, 0);
        QVERIFY(!testing::ControlWidget(panel_, FLAT));
        QVERIFY(!testing::ControlWidget(panel_, ring_));
    }

    // Out of memory, a handler stops: the text stays as typed and nothing is handed on.
    void outOfMemoryStopsTheHandling() {
        QLineEdit *e = combo(FLAT, {"alpha", "beta"});
        QVERIFY(e);
        combo_testing::SetAllocator(failingAllocator);
        QTest::keyClick(e, Qt::Key_A);
        QCOMPARE(e->text(), QString("a"));
        QCOMPARE(count(EVENT_KEYPRESS), 1);
        QCOMPARE(count(EVENT_VAL_CHANGED), 0);

        QTest::keyClick(e, Qt::Key_Down);
        QVERIFY(QTest::qWaitFor([] { return popup() != nullptr; }));
        QTest::keyClick(popup(), Qt::Key_Return);
        QVERIFY(QTest::qWaitFor([] { return count(EVENT_VAL_CHANGED) == 1; }));
        QVERIFY(focusOn(FLAT));
        QCOMPARE(e->text(), QString("a"));
        QCOMPARE(count(EVENT_COMMIT), 0);
    }

    void sentEventsArriveNowAndLater() {
        QVERIFY(combo(FLAT, {}));
        ComboRec *r = recordOf(panel_, FLAT);
        QCOMPARE(SendValChangedEvent(r), 0);
        QCOMPARE(count(EVENT_VAL_CHANGED), 1);
        QCOMPARE(count(EVENT_COMMIT), 0);
        QVERIFY(QTest::qWaitFor([] { return count(EVENT_COMMIT) == 1; }));

        // Removed before its commit is due: the commit is dropped.
        static bool done = false;
        QCOMPARE(SendValChangedEvent(r), 0);
        QCOMPARE(Combo_DiscardComboBox(panel_, FLAT), 0);
        PostDeferredCallToThread([](void *) { done = true; }, nullptr, CmtGetCurrentThreadID());
        QVERIFY(QTest::qWaitFor([] { return done; }));
        QCOMPARE(count(EVENT_COMMIT), 1);
    }

    // Someone who lives on the keyboard: type, complete, delete, pick, leave and come back.
    void keyboardOnly() {
        QLineEdit *e = combo(SUNK, {"192.168.0.10", "127.0.0.1", "10.0.0.7"});
        QVERIFY(e);
        QTest::keyClicks(e, "12");
        QCOMPARE(e->text(), QString("127.0.0.1"));
        QTest::keyClick(e, Qt::Key_Backspace);
        QTest::keyClicks(e, "8.1");
        QCOMPARE(e->text(), QString("128.1"));
        QVERIFY(pick(e, 2));
        QCOMPARE(e->text(), QString("10.0.0.7"));
        QTest::keyClick(e, Qt::Key_Return);
        QVERIFY(QTest::qWaitFor([] { return count(EVENT_COMMIT) == 2; }));
        QTest::keyClick(e, Qt::Key_Tab);
        QVERIFY(focusOn(NUM));
        QTest::keyClick(testing::ControlWidget(panel_, NUM), Qt::Key_Backtab, Qt::ShiftModifier);
        QVERIFY(focusOn(SUNK));
        QTest::keyClick(e, Qt::Key_Backtab, Qt::ShiftModifier);
        QVERIFY(focusOn(FLAT));
    }

    // Pictures of both looks, closed and open, for looking at.
    void pictures() {
        for (int ctrl : {FLAT, SUNK}) {
            const QString look = ctrl == FLAT ? "flat" : "sunk";
            QLineEdit *e = combo(ctrl, {"192.168.0.10", "127.0.0.1", "10.0.0.7"});
            QVERIFY(e);
            Combo_SetComboAttribute(panel_, ctrl, COMBO_ATTR_FRAME_COLOR, 0xE0E0E0);
            SetCtrlVal(panel_, ctrl, "127.0.0.1");
            QWidget *window = testing::PanelWidget(panel_);
            QImage closed = window->grab().toImage();
            QTest::keyClick(e, Qt::Key_Down);
            QVERIFY(QTest::qWaitFor([] { return popup() != nullptr; }));
            QImage open = window->grab().toImage();
            {
                QPainter p(&open);
                p.drawPixmap(popup()->mapToGlobal(QPoint()) - window->mapToGlobal(QPoint()),
                             popup()->grab());
            }
            QTest::keyClick(popup(), Qt::Key_Escape);
            QVERIFY(focusOn(ctrl));
            // The combo box and its list, four times, to see single pixels.
            int frame[4] = {};
            for (int i = 0; i < 4; ++i)
                Combo_GetComboAttribute(panel_, ctrl,
                                        std::array{COMBO_ATTR_LEFT, COMBO_ATTR_TOP,
                                                   COMBO_ATTR_WIDTH, COMBO_ATTR_HEIGHT}[i],
                                        &frame[i]);
            const QRect area =
                QRect(frame[0], frame[1], frame[2], frame[3]).adjusted(-6, -18, 6, 70);
            for (auto [name, image] : {std::pair{QString("closed"), closed}, {"open", open}}) {
                const QString base = QString(QV_SHOT_DIR "/combo_%1_%2").arg(look, name);
                QVERIFY(image.save(base + ".png"));
                QVERIFY(image.copy(area).scaled(area.size() * 4).save(base + "_x4.png"));
            }
        }
    }
};

QTEST_MAIN(ComboEventsTest)
#include "test_comboevents.moc"

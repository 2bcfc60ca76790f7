// The combo box as the program builds and changes it: creation and its refusals, attributes,
// the list, removal.
#include "combobox/testing.h"
#include "fixture.h"

using namespace fixture;

namespace {

int g_allocationsLeft = -1; // -1: no limit
void *limitedAllocator(std::size_t size) {
    if (g_allocationsLeft == 0)
        return nullptr;
    if (g_allocationsLeft > 0)
        --g_allocationsLeft;
    return std::malloc(size);
}

QRect geometry(int panel, int ctrl) {
    return QRect(attr(panel, ctrl, ATTR_LEFT), attr(panel, ctrl, ATTR_TOP),
                 attr(panel, ctrl, ATTR_WIDTH), attr(panel, ctrl, ATTR_HEIGHT));
}

} // namespace

class ComboBoxTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    int panel_ = 0;

  private slots:
    void initTestCase() { startRunTime(dir_); }
    void init() {
        panel_ = openPanel();
        QVERIFY(panel_ > 0);
    }
    void cleanup() {
        combo_testing::SetAllocator(nullptr);
        DiscardPanel(panel_);
    }

    void creationPlacesRingAndFrame_data() {
        QTest::addColumn<int>("ctrl");
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<QRect>("ring");
        QTest::addColumn<int>("frameStyle");
        QTest::newRow("first look")
            << int(FLAT) << QRect(80, 49, 141, 22) << QRect(81, 50, 20, 20) << CTRL_DECORATION;
        QTest::newRow("second look")
            << int(SUNK) << QRect(80, 108, 142, 24) << QRect(82, 110, 20, 20) << CTRL_DECORATION_LS;
    }
    void creationPlacesRingAndFrame() {
        QFETCH(int, ctrl);
        QFETCH(QRect, frame);
        QFETCH(QRect, ring);
        QFETCH(int, frameStyle);
        SetCtrlAttribute(panel_, ctrl, ATTR_MAX_ENTRY_LENGTH, 15);
        const int tab = attr(panel_, ctrl, ATTR_CTRL_TAB_POSITION);
        QCOMPARE(Combo_NewComboBox(panel_, ctrl), ctrl);
        const ComboRec *r = recordOf(panel_, ctrl);
        QVERIFY(r);
        QCOMPARE(r->marker, kComboMarker);
        QCOMPARE(r->panelHandle, panel_);
        QCOMPARE(r->stringCtrl, ctrl);
        QVERIFY(r->userCallback == user);
        QCOMPARE(r->userCallbackData, static_cast<void *>(&userData));
        QCOMPARE(r->entryLimit, 16);
        QCOMPARE(geometry(panel_, r->frameCtrl), frame);
        QCOMPARE(geometry(panel_, r->ringCtrl), ring);
        QCOMPARE(attr(panel_, r->frameCtrl, ATTR_CTRL_STYLE), frameStyle);
        QCOMPARE(attr(panel_, r->ringCtrl, ATTR_DATA_TYPE), VAL_STRING);
        // Ring in front, then the text field, the frame behind both.
        QCOMPARE(attr(panel_, r->ringCtrl, ATTR_ZPLANE_POSITION), 0);
        QCOMPARE(attr(panel_, ctrl, ATTR_ZPLANE_POSITION), 1);
        QCOMPARE(attr(panel_, r->frameCtrl, ATTR_ZPLANE_POSITION), 2);
        // The ring comes directly before the text field in the tab order.
        QCOMPARE(attr(panel_, r->ringCtrl, ATTR_CTRL_TAB_POSITION), tab);
        QCOMPARE(attr(panel_, ctrl, ATTR_CTRL_TAB_POSITION), tab + 1);
        int height = 0;
        QCOMPARE(Combo_GetComboAttribute(panel_, ctrl, COMBO_ATTR_HEIGHT, &height), 0);
        QCOMPARE(height, frame.height());
    }

    // Refused creations and operations on what is not a combo box change nothing.
    void wrongControlsAreRefused() {
        int before = 0, after = 0;
        QCOMPARE(Combo_NewComboBox(panel_, FLAT), int(FLAT));
        GetPanelAttribute(panel_, ATTR_NUM_CTRLS, &before);
        QCOMPARE(Combo_NewComboBox(panel_, FLAT), kComboWrongControl);
        QCOMPARE(Combo_NewComboBox(panel_, NUM), kComboWrongControl);
        QCOMPARE(Combo_NewComboBox(panel_, NOTE), kComboWrongControl);
        QCOMPARE(Combo_NewComboBox(panel_, 99), kComboWrongControl);
        QCOMPARE(Combo_NewComboBox(999, FLAT), kComboWrongControl);
        GetPanelAttribute(panel_, ATTR_NUM_CTRLS, &after);
        QCOMPARE(after, before);

        // A plain string control, also one whose callback data points at something else: that
        // is never read as a record (the sanitizer build would see it).
        char *stray = new char[1]{0};
        SetCtrlAttribute(panel_, SUNK, ATTR_CALLBACK_DATA, static_cast<void *>(stray));
        int index = 0, value = 0;
        char font[8];
        for (int ctrl : {PLAIN, SUNK, NUM}) {
            QCOMPARE(Combo_SetComboAttribute(panel_, ctrl, COMBO_ATTR_VISIBLE, 0),
                     kComboWrongControl);
            QCOMPARE(Combo_GetComboAttribute(panel_, ctrl, COMBO_ATTR_WIDTH, &value),
                     kComboWrongControl);
            QCOMPARE(Combo_GetComboAttribute(panel_, ctrl, COMBO_ATTR_TEXT_FONT, font),
                     kComboWrongControl);
            QCOMPARE(Combo_InsertComboItem(panel_, ctrl, 0, "x"), kComboWrongControl);
            QCOMPARE(Combo_DeleteComboItem(panel_, ctrl, 0, 1), kComboWrongControl);
            QCOMPARE(Combo_ReplaceComboItem(panel_, ctrl, 0, "x"), kComboWrongControl);
            QCOMPARE(Combo_GetIndexFromValue(panel_, ctrl, &index, "x"), kComboWrongControl);
            QCOMPARE(Combo_DiscardComboBox(panel_, ctrl), kComboWrongControl);
        }
        QCOMPARE(Combo_DiscardComboBox(panel_, 99), kUIECtrlInvalid);
        QCOMPARE(SendValChangedEvent(reinterpret_cast<ComboRec *>(stray)), kComboWrongControl);
        SetCtrlAttribute(panel_, SUNK, ATTR_CALLBACK_DATA, static_cast<void *>(nullptr));
        delete[] stray;
    }

    void outOfMemoryCreatesNothing() {
        int before = 0, after = 0;
        GetPanelAttribute(panel_, ATTR_NUM_CTRLS, &before);
        g_allocationsLeft = 0;
        combo_testing::SetAllocator(limitedAllocator);
        QCOMPARE(Combo_NewComboBox(panel_, FLAT), kComboOutOfMemory);
        GetPanelAttribute(panel_, ATTR_NUM_CTRLS, &after);
        QCOMPARE(after, before);
        QCOMPARE(recordOf(panel_, FLAT), reinterpret_cast<ComboRec *>(&userData));
        combo_testing::SetAllocator(nullptr);
        QCOMPARE(Combo_NewComboBox(panel_, FLAT), int(FLAT));
    }

    void attributesReachAllThreeControls() {
        QCOMPARE(Combo_NewComboBox(panel_, FLAT), int(FLAT));
        const ComboRec *r = recordOf(panel_, FLAT);
        const int all[] = {FLAT, r->ringCtrl, r->frameCtrl};
        int v = 0;
        // Not accepted: nothing changes.
        for (int a : {COMBO_ATTR_HEIGHT, COMBO_ATTR_TEXT_FONT_NAME_LENGTH, 0, 15})
            QCOMPARE(Combo_SetComboAttribute(panel_, FLAT, a, 0), kComboAttrInvalid);
        for (int a : {0, 15})
            QCOMPARE(Combo_GetComboAttribute(panel_, FLAT, a, &v), kComboAttrInvalid);

        QCOMPARE(Combo_SetComboAttribute(panel_, FLAT, COMBO_ATTR_VISIBLE, 0), 0);
        for (int c : all)
            QVERIFY(!testing::ControlWidget(panel_, c)->isVisible());
        QCOMPARE(Combo_SetComboAttribute(panel_, FLAT, COMBO_ATTR_VISIBLE, 1), 0);
        for (int c : all)
            QVERIFY(testing::ControlWidget(panel_, c)->isVisible());
        QCOMPARE(Combo_SetComboAttribute(panel_, FLAT, COMBO_ATTR_FRAME_COLOR, 0xE0E0E0), 0);
        for (int c : all)
            QCOMPARE(attr(panel_, c, ATTR_FRAME_COLOR), 0xE0E0E0);

        QCOMPARE(Combo_SetComboAttribute(panel_, FLAT, COMBO_ATTR_MAX_ENTRY_LENGTH, -1), 0);
        QCOMPARE(r->entryLimit, -1);
        QCOMPARE(Combo_SetComboAttribute(panel_, FLAT, COMBO_ATTR_MAX_ENTRY_LENGTH, 15), 0);
        QCOMPARE(r->entryLimit, 16);
        QCOMPARE(Combo_GetComboAttribute(panel_, FLAT, COMBO_ATTR_MAX_ENTRY_LENGTH, &v), 0);
        QCOMPARE(v, 15);

        // Size and place are the frame's; the text field follows.
        QCOMPARE(Combo_SetComboAttribute(panel_, FLAT, COMBO_ATTR_WIDTH, 200), 0);
        QCOMPARE(attr(panel_, FLAT, ATTR_WIDTH), 180);
        QCOMPARE(Combo_SetComboAttribute(panel_, FLAT, COMBO_ATTR_LEFT, 30), 0);
        QCOMPARE(Combo_SetComboAttribute(panel_, FLAT, COMBO_ATTR_TOP, 70), 0);
        QCOMPARE(geometry(panel_, r->frameCtrl), QRect(30, 70, 200, 22));
        QCOMPARE(geometry(panel_, r->ringCtrl), QRect(31, 71, 20, 20));
        QCOMPARE(geometry(panel_, FLAT), QRect(50, 71, 180, 20));

        // Text attributes: a font name of its own kind, cut to the caller's buffer.
        QCOMPARE(Combo_SetComboAttribute(panel_, FLAT, COMBO_ATTR_TEXT_FONT, "DejaVu Sans Mono"),
                 0);
        char font[7];
        QCOMPARE(Combo_GetComboAttribute(panel_, FLAT, COMBO_ATTR_TEXT_FONT, font), 0);
        QCOMPARE(QByteArray(font), QByteArray("DejaVu"));
        QCOMPARE(Combo_GetComboAttribute(panel_, FLAT, COMBO_ATTR_TEXT_FONT_NAME_LENGTH, &v), 0);
        QCOMPARE(v, 16);
        QCOMPARE(Combo_SetComboAttribute(panel_, FLAT, COMBO_ATTR_TEXT_FONT, 3), kUIEValueInvalid);
        QCOMPARE(Combo_SetComboAttribute(panel_, FLAT, COMBO_ATTR_WIDTH, "x"), kUIEValueInvalid);
        QCOMPARE(Combo_GetComboAttribute(panel_, FLAT, COMBO_ATTR_TEXT_FONT, &v), kUIEValueInvalid);
        QCOMPARE(Combo_SetComboAttribute(panel_, FLAT, COMBO_ATTR_TEXT_POINT_SIZE, 11), 0);
        QCOMPARE(attr(panel_, r->ringCtrl, ATTR_TEXT_POINT_SIZE), 11);
        // A write the run-time refuses is passed on.
        QCOMPARE(Combo_SetComboAttribute(panel_, FLAT, COMBO_ATTR_TEXT_POINT_SIZE, 0),
                 kUIEValueInvalid);
    }

    void listOperationsFollowTheRunTimesRules() {
        QCOMPARE(Combo_NewComboBox(panel_, FLAT), int(FLAT));
        const int ring = recordOf(panel_, FLAT)->ringCtrl;
        SetCtrlVal(panel_, FLAT, "typed");
        for (int i = 0; i < 11; ++i)
            QCOMPARE(Combo_InsertComboItem(panel_, FLAT, -1, QByteArray::number(i).constData()), 0);
        QCOMPARE(Combo_InsertComboItem(panel_, FLAT, 12, "x"), kUIEIndexInvalid);
        int n = 0, index = 0;
        QCOMPARE(Combo_DeleteComboItem(panel_, FLAT, 10, -1), 0);
        GetNumListItems(panel_, ring, &n);
        QCOMPARE(n, 10);
        char value[8];
        GetValueFromIndex(panel_, ring, 9, value);
        QCOMPARE(QByteArray(value), QByteArray("9"));
        QCOMPARE(Combo_GetIndexFromValue(panel_, FLAT, &index, "10"), 0);
        QCOMPARE(index, -1);
        QCOMPARE(Combo_ReplaceComboItem(panel_, FLAT, 3, "10.0.0.3"), 0);
        QCOMPARE(Combo_GetIndexFromValue(panel_, FLAT, &index, "10.0.0.3"), 0);
        QCOMPARE(index, 3);
        QCOMPARE(Combo_DeleteComboItem(panel_, FLAT, 3, 1), 0);
        QCOMPARE(Combo_ReplaceComboItem(panel_, FLAT, 9, "x"), kUIEIndexInvalid);
        QCOMPARE(text(panel_, FLAT), QByteArray("typed"));
    }

    void discardRemovesAllThree() {
        int before = 0, after = 0;
        GetPanelAttribute(panel_, ATTR_NUM_CTRLS, &before);
        QCOMPARE(Combo_NewComboBox(panel_, SUNK), int(SUNK));
        QCOMPARE(Combo_DiscardComboBox(panel_, SUNK), 0);
        GetPanelAttribute(panel_, ATTR_NUM_CTRLS, &after);
        QCOMPARE(after, before - 1);
        QVERIFY(!testing::ControlWidget(panel_, SUNK));
        QCOMPARE(Combo_DiscardComboBox(panel_, SUNK), kUIECtrlInvalid);
        QCOMPARE(Combo_InsertComboItem(panel_, SUNK, 0, "x"), kUIECtrlInvalid);
    }
};

QTEST_MAIN(ComboBoxTest)
#include "test_combobox.moc"

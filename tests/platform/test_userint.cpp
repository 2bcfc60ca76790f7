// The run-time's panels and controls, driven the way the program and an operator drive them.
// (Clicks on dimmed controls: tests/integration/test_interleaving; the order of the events of
// typing, tab order and deferred calls: the combo box's tests.)
#include "platform/testing.h"
#include "platform/thread.h"
#include "platform/userint.h"
#include "platform/utility.h"
#include "tests/support/support.h"

#include <QLabel>
#include <QTest>

#include <thread>

using namespace qv::rt;

namespace {

// Where controls lie does not matter here: they take the default places.
const char kPanels[] = R"({ "panels": [ { "resource": 5, "controls": [
    { "id": 2, "kind": "string", "label": "Name", "value": "abc" },
    { "id": 3, "kind": "ring", "items": [ {"label": "A", "value": 0}, {"label": "B", "value": 1} ],
      "value": 1 },
    { "id": 4, "kind": "text_indicator" },
    { "id": 5, "kind": "canvas" },
    { "id": 6, "kind": "numeric", "min": 0, "max": 1000, "value": 5 },
    { "id": 7, "kind": "numeric_bar", "min": 0, "max": 100, "width": 102, "height": 10 } ] } ] })";

} // namespace

class UserIntTest : public QObject {
    Q_OBJECT
    qvtest::ScratchProject dir_;
    int panel_ = 0;

  private slots:
    void initTestCase() {
        qvtest::initRunTime();
        QVERIFY(qvtest::writeFile(dir_.file("t.uir"), kPanels) &&
                qvtest::writeFile(dir_.file("bad.uir"), "{ \"panels\": [ "));
    }
    void init() {
        panel_ = LoadPanel(0, "t.uir", 5);
        QVERIFY(panel_ > 0);
        DisplayPanel(panel_);
        QVERIFY(QTest::qWaitForWindowActive(testing::PanelWidget(panel_)));
    }
    void cleanup() { DiscardPanel(panel_); }

    void statusCodes() {
        unsigned short u = 0;
        int n = 0;
        unsigned plain = 0; // a thread without an event loop
        std::thread([&] { plain = CmtGetCurrentThreadID(); }).join();
        char path[11]; // a cut path would name another file
        SetSaveFileHandler([](const std::string &, const std::string &) { return "/tmp/a.csv"; });
        qvtest::checkStatuses(
            {{LoadPanel(0, "missing.uir", 5), kUIEFileNotFound},
             {LoadPanel(0, "bad.uir", 5), kUIEBadFormat},
             {LoadPanel(0, "t.uir", 9), kUIEPanelNotFound},
             {SetCtrlVal(999, 1, 1), kUIEPanelInvalid},
             {SetPanelPos(999, 0, 0), kUIEPanelInvalid},
             {SetPanelSize(panel_, 0, 10), kUIEValueInvalid},
             {GetScreenArea(0, 0, nullptr), kUIEValueInvalid},
             {DiscardPanel(999), kUIEPanelInvalid},
             {SetCtrlVal(panel_, 99, 1), kUIECtrlInvalid},
             {SetCtrlVal(panel_, 5, 1), kUIETypeMismatch},  // a number into a canvas
             {GetCtrlVal(panel_, 2, &u), kUIETypeMismatch}, // a number from a text
             {SetCtrlVal(panel_, 2, "x", TextCoding::FileSystem), kUIETypeMismatch}, // editable
             {GetNumListItems(panel_, 2, &n), kUIENotList},
             {InsertListItem(panel_, 3, 9, "x", 9), kUIEIndexInvalid},
             {DeleteListItem(panel_, 3, 5, 1), kUIEIndexInvalid},
             {SaveFilePopupText("S", "x", nullptr, 8), kUIEValueInvalid},
             {SaveFilePopupText("S", "x", path, 11), 1},
             {SaveFilePopupText("S", "x", path, 10), kUIEValueInvalid},
             {CmtNewLock("", 0, nullptr), kCmtValueInvalid},
             {CmtGetLock(12345), kCmtLockInvalid},
             {CmtDiscardLock(12345), kCmtLockInvalid},
             {PostDeferredCallToThread(nullptr, nullptr, 1), kUIEValueInvalid},
             {PostDeferredCallToThread([](void *) {}, nullptr, plain), kUIEThreadInvalid},
             {SetCtrlAttribute(panel_, 4, ATTR_BAR_MARK_LOW, 1), kUIEAttrInvalid},
             {SetCtrlAttribute(panel_, 7, ATTR_BAR_MARK_HIGH, VAL_NO_MARK - 1), kUIEValueInvalid},
             {SetCtrlAttribute(panel_, 7, ATTR_TEXT_WRAP, 1), kUIEAttrInvalid},
             {SetCtrlAttribute(panel_, 4, ATTR_TEXT_JUSTIFY, 3), kUIEValueInvalid}});
        SetSaveFileHandler({});
        QCOMPARE(QByteArray(path), QByteArray("")); // nothing of a path that did not fit
    }

    // Where the program puts a panel, it is, its frame around it.
    void panelPlaceAndScreen() {
        QCOMPARE(SetPanelSize(panel_, 120, 300) + SetPanelPos(panel_, 40, 30), 0);
        QList<int> got;
        for (int a :
             {ATTR_LEFT, ATTR_TOP, ATTR_WIDTH, ATTR_HEIGHT, ATTR_VISIBLE, ATTR_TITLEBAR_THICKNESS})
            got << (GetPanelAttribute(panel_, a, &a) == 0 ? a : -1);
        const QRect frame = testing::PanelWidget(panel_)->frameGeometry();
        QCOMPARE(got, (QList<int>{30, 40, 300, 120, 1, 40 - frame.top()}));
        ScreenArea area;
        QCOMPARE(GetScreenArea(30, 40, &area), 1);
        QVERIFY(area.width > 0 && area.height > 0);
        QCOMPARE(GetScreenArea(-100000, 0, &area), 0);
    }

    // Text keeps its bytes (the sensor's are Latin-1) and is cut to the caller's buffer, a list
    // item's value too; a number is held to its control's range; a refused ring value leaves the
    // one before. A string control's label is a caption beside it, never its text. (The lists
    // and the keys as the operator uses them: the combo box's tests.)
    void valuesKeepTheirBytesAndFitTheBuffer() {
        const char latin[] = "Sensor \xE9\xFC\x01 text";
        char small[5], copy[8] = "ab", item[3];
        unsigned short number = 0;
        int ring = -1;
        QCOMPARE(SetCtrlVal(panel_, 4, latin) + SetCtrlVal(panel_, 6, 70000), 0);
        QCOMPARE(GetCtrlVal(panel_, 4, small) + GetCtrlVal(panel_, 6, &number), 0);
        QCOMPARE(qvtest::ctrlText(panel_, 4), QByteArray(latin));
        QCOMPARE(QByteArray(small), QByteArray("Sens"));
        QCOMPARE(number, 1000);
        QCOMPARE(SetCtrlVal(panel_, 3, 7), kUIEValueInvalid);
        QCOMPARE(GetCtrlVal(panel_, 3, &ring), 0);
        QCOMPARE(ring, 1);
        QVERIFY(AppendText(copy, "cde") && !AppendText(copy, "fghij"));
        QCOMPARE(QByteArray(copy), QByteArray("abcdefg"));
        QVERIFY(!CopyText(copy, "0123456789"));
        QCOMPARE(QByteArray(copy), QByteArray("0123456"));
        const int list = NewCtrl(panel_, CTRL_POPUP_RING, "", 200, 200);
        QCOMPARE(SetCtrlAttribute(panel_, list, ATTR_DATA_TYPE, VAL_STRING), 0);
        QCOMPARE(InsertListItem(panel_, list, -1, "zero", "zero"), 0);
        QCOMPARE(GetValueFromIndex(panel_, list, 0, item), 0);
        QCOMPARE(QByteArray(item), QByteArray("ze"));
        QCOMPARE(qvtest::ctrlText(panel_, 2), QByteArray("abc"));
        QStringList captions;
        for (const QLabel *l : testing::PanelWidget(panel_)->findChildren<QLabel *>())
            captions << l->text();
        QVERIFY(captions.contains("Name"));
    }

    // A bar's window: shaded between its marks under the fill, its ends drawn over the fill; an
    // end beyond the scale has no line; none at all until both marks are set, or low > high.
    void barMarksItsWindow() {
        QWidget *bar = qvtest::widget(panel_, 7); // 100 pixels inside: one a unit
        const auto shade = [&](int x) { return qGray(bar->grab().toImage().pixel(x + 1, 4)); };
        QCOMPARE(SetCtrlAttribute(panel_, 7, ATTR_BAR_MARK_LOW, 40), 0);
        QCOMPARE(shade(50), 0xF4); // one mark alone marks nothing
        QCOMPARE(SetCtrlAttribute(panel_, 7, ATTR_BAR_MARK_HIGH, 150), 0);
        QCOMPARE(qvtest::attr(panel_, 7, ATTR_BAR_MARK_HIGH), 150);
        QCOMPARE(QList<int>({shade(30), shade(40), shade(50), shade(99)}),
                 QList<int>({0xF4, 0x20, 0xD8, 0xD8}));
        SetCtrlVal(panel_, 7, 100);
        testing::FlushDisplays();
        QCOMPARE(shade(40), 0x20); // over the fill
        QVERIFY(shade(30) != 0xF4 && shade(30) == shade(99));
        SetCtrlVal(panel_, 7, 0);
        SetCtrlAttribute(panel_, 7, ATTR_BAR_MARK_LOW, 151);
        testing::FlushDisplays();
        QCOMPARE(shade(50), 0xF4);
    }
};

QTEST_MAIN(UserIntTest)
#include "test_userint.moc"

// A decoded reading reaches the fourteen indicators, with the raw and calibrated spreads.
#include "protocol/codec.h"
#include "shell/controls.h"
#include "shell/refresh.h"
#include "shell/state.h"
#include "tests/support/support.h"

#include <QTest>

using namespace qv;

namespace {
void reading(u16 r, u16 g, u16 b, u16 rawR, u16 rawG, u16 rawB) {
    dataR = r;
    dataG = g;
    dataB = b;
    dataRawR = rawR;
    dataRawG = rawG;
    dataRawB = rawB;
}

int shown(int control) {
    int v = -1;
    rt::GetCtrlVal(panel, control, &v);
    return v;
}
} // namespace

class RefreshTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { qvtest::loadPanels(); }

    void spreads_data() {
        QTest::addColumn<int>("r");
        QTest::addColumn<int>("g");
        QTest::addColumn<int>("b");
        QTest::addColumn<int>("spread");
        QTest::newRow("middle value last") << 100 << 200 << 150 << 100;
        QTest::newRow("all equal") << 1000 << 1000 << 1000 << 0;
        QTest::newRow("full range") << 0 << 65535 << 7 << 65535;
        QTest::newRow("two largest equal") << 300 << 300 << 20 << 280;
        QTest::newRow("two smallest equal") << 20 << 300 << 20 << 280;
        QTest::newRow("blue largest") << 5 << 9 << 60000 << 59995;
    }

    // The same three values as raw and as calibrated readings give the same spread both ways.
    void spreads() {
        QFETCH(int, r);
        QFETCH(int, g);
        QFETCH(int, b);
        QFETCH(int, spread);
        reading(u16(r), u16(g), u16(b), u16(r), u16(g), u16(b));
        SetPanelData();
        QCOMPARE(int(deltaraw), spread);
        QCOMPARE(int(deltacalib), spread);
    }

    void everyIndicatorShowsItsValue() {
        reading(1001, 1002, 1003, 2001, 2002, 2503);
        SetPanelData();
        const std::pair<int, int> expected[] = {
            {P_DATAR_A, 1001},    {P_DATAR_B, 1001},    {P_DATAG_A, 1002},    {P_DATAG_B, 1002},
            {P_DATAB_A, 1003},    {P_DATAB_B, 1003},    {P_DATARAWR_A, 2001}, {P_DATARAWR_B, 2001},
            {P_DATARAWG_A, 2002}, {P_DATARAWG_B, 2002}, {P_DATARAWB_A, 2503}, {P_DATARAWB_B, 2503},
            {P_DELTARAW, 502},    {P_DELTACALIB, 2}};
        for (const auto &[control, value] : expected)
            QCOMPARE(shown(control), value);
        // Values beyond the bars' scale are shown unscaled as numbers.
        reading(65535, 0, 0, 0, 0, 65535);
        SetPanelData();
        QCOMPARE(shown(P_DATAR_A), 65535);
        QCOMPARE(shown(P_DATAR_B), 65535);
        QCOMPARE(shown(P_DATARAWB_A), 65535);
    }
};

QTEST_MAIN(RefreshTest)
#include "test_refresh.moc"

// The readings the trend keeps: what is kept and dropped by age and by count, the per-column
// ranges a picture is drawn from, and the CSV that SAVE CSV writes.
#include "trend/readingstore.h"
#include "trend/trend.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace qv;

namespace {
using Value = std::uint16_t[kTrendChannels];

void addRamp(ReadingStore &store, int count, double first, double step) {
    for (int i = 0; i < count; ++i) {
        const Value v = {std::uint16_t(i), 1, 2, 3, 4, 5};
        store.add(first + i * step, v);
    }
}
} // namespace

class ReadingStoreTest : public QObject {
    Q_OBJECT
  private slots:
    void keepsAndDrops_data() {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("count");
        QTest::addColumn<double>("step");
        QTest::addColumn<int>("kept");
        QTest::addColumn<double>("oldest");
        // Steps are exact in binary, so that ages compare exactly.
        QTest::newRow("a minute at 8 a second: all of it") << 1 << 480 << 0.125 << 480 << 0.0;
        QTest::newRow("ten minutes exactly: all of it") << 1 << 4801 << 0.125 << 4801 << 0.0;
        QTest::newRow("eleven minutes: the last ten") << 1 << 5281 << 0.125 << 4801 << 60.0;
        QTest::newRow("capacity reached: the newest") << 1000 << 5000 << 0.001 << 1000 << 4.0;
        // 80 minutes: past the 71 minutes of a 32-bit microsecond offset.
        QTest::newRow("80 minutes, one a second") << 1 << 4801 << 1.0 << 601 << 4200.0;
    }
    void keepsAndDrops() {
        QFETCH(int, capacity);
        QFETCH(int, count);
        QFETCH(double, step);
        QFETCH(int, kept);
        QFETCH(double, oldest);
        ReadingStore store(capacity == 1 ? ReadingStore::kCapacity : std::size_t(capacity));
        addRamp(store, count, 0.0, step);
        QCOMPARE(int(store.size()), kept);
        QCOMPARE(store.added(), std::uint64_t(count));
        QCOMPARE(store.oldest(), oldest);
        QCOMPARE(store.newest(), (count - 1) * step);
        // Oldest first, each with its own values and time, to the microsecond.
        const TrendReading first = store.at(0), last = store.at(store.size() - 1);
        QCOMPARE(int(first.value[0]), (count - kept) & 0xFFFF);
        QCOMPARE(int(last.value[0]), (count - 1) & 0xFFFF);
        QCOMPARE(last.value[5], std::uint16_t(5));
        store.add(store.newest() + 0.000001, {7, 7, 7, 7, 7, 7});
        QCOMPARE(qRound64((store.newest() - last.seconds) * 1e6), 1LL);
    }

    // A clock that stepped back is taken as standing still: times never run backwards.
    void timeNeverRunsBackwards() {
        ReadingStore store(16);
        store.add(10.0, {1, 1, 1, 1, 1, 1});
        store.add(9.5, {2, 2, 2, 2, 2, 2});
        QCOMPARE(store.at(1).seconds, 10.0);
    }

    void columns_data() {
        QTest::addColumn<QList<double>>("times");
        QTest::addColumn<QList<int>>("values");
        QTest::addColumn<int>("capacity");
        QTest::addColumn<QList<int>>("lowHigh"); // per column: low, high; -1, -1 when empty
        QTest::newRow("one range per column")
            << QList<double>{0.005, 0.105, 0.205, 0.505, 0.605} << QList<int>{5, 9, 7, 3, 4} << 16
            << QList<int>{5, 9, 3, 4};
        QTest::newRow("a single spike shows")
            << QList<double>{0.005, 0.015, 0.025, 0.035, 0.605} << QList<int>{5, 5, 4000, 5, 5}
            << 16 << QList<int>{5, 4000, 5, 5};
        QTest::newRow("a pause leaves columns empty")
            << QList<double>{0.005, 1.905} << QList<int>{8, 9} << 16
            << QList<int>{8, 8, -1, -1, -1, -1, 9, 9};
        QTest::newRow("readings beyond the capacity are not drawn")
            << QList<double>{0.005, 0.105, 0.605, 0.705} << QList<int>{1, 2, 3, 4} << 2
            << QList<int>{-1, -1, 3, 4};
    }
    void columns() {
        QFETCH(QList<double>, times);
        QFETCH(QList<int>, values);
        QFETCH(int, capacity);
        QFETCH(QList<int>, lowHigh);
        ReadingStore store{std::size_t(capacity)};
        for (int i = 0; i < times.size(); ++i) {
            const std::uint16_t v = std::uint16_t(values[i]);
            store.add(times[i], {v, 0, 0, 0, 0, std::uint16_t(v + 1)});
        }
        const int count = int(lowHigh.size() / 2);
        std::vector<TrendColumn> out(count);
        const double span = count == 2 ? 1.0 : 2.0;
        store.columns(0.0, span, out.data(), count);
        for (int c = 0; c < count; ++c) {
            QCOMPARE(out[c].any, lowHigh[2 * c] >= 0);
            if (!out[c].any)
                continue;
            QCOMPARE(int(out[c].low[0]), lowHigh[2 * c]);
            QCOMPARE(int(out[c].high[0]), lowHigh[2 * c + 1]);
            QCOMPARE(int(out[c].high[5]), lowHigh[2 * c + 1] + 1);
        }
    }

    // Seconds since the first kept reading, raw, calibrated and both spreads; CR LF line ends.
    void savedCsvIsExact() {
        ReadingStore store(2);
        store.add(5.0, {1, 2, 3, 4, 5, 6});
        store.add(100.25, {1000, 1024, 990, 1010, 1000, 1047});
        store.add(100.250001, {65535, 0, 7, 0, 0, 0});
        QTemporaryDir dir;
        const QString path = dir.filePath("trend.csv");
        QVERIFY(WriteTrendCsv(store, path.toLocal8Bit().constData()));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("seconds,raw_r,raw_g,raw_b,cal_r,cal_g,cal_b,delta_raw,"
                                         "delta_cal\r\n"
                                         "0.000000,1000,1024,990,1010,1000,1047,34,47\r\n"
                                         "0.000001,65535,0,7,0,0,0,65535,0\r\n"));
        QVERIFY(!QFile::exists(path + ".tmp"));
        // A folder that is not there: nothing written, nothing left behind.
        QVERIFY(!WriteTrendCsv(store, dir.filePath("missing/trend.csv").toLocal8Bit().constData()));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"trend.csv"});
    }
};

QTEST_MAIN(ReadingStoreTest)
#include "test_readingstore.moc"

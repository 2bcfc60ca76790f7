// The address history file on its own, where the panel cannot take it: damaged and huge files,
// the bytes at the limits, and a rewrite that fails halfway. (Random files: fuzz/fuzz_history.)
#include "link/history.h"
#include "tests/support/support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using namespace qv;
using qvtest::fileBytes;
using qvtest::historyRecords;

namespace {

IpHistory historyOf(std::initializer_list<const char *> texts) {
    IpHistory h;
    for (const char *t : texts)
        qstrncpy(h.entries[h.count++], t, kHistoryTextBytes);
    return h;
}

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

class HistoryTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString path_;
    QByteArray name() const { return QFile::encodeName(path_); }

  private slots:
    void init() {
        path_ = dir_.filePath("IPComboBoxQuorvatv60.ipa");
        QFile::remove(path_);
    }

    // Whole records only, each read within its own 101 bytes, and only the first ten: a damaged
    // record costs at most itself and no file is too big.
    void loading_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArrayList>("entries");
        const QByteArray three = historyRecords({"10.0.0.1", "10.0.0.2", "10.0.0.3"});
        QByteArray damaged = historyRecords({"10.0.0.1", "", "", "10.0.0.2", "10.0.0.3", "h6"});
        damaged.replace(101, 101, QByteArray(100, 'A') + '\n'); // no NUL in its text
        damaged[4 * 101 - 1] = 'X';                             // no line feed
        damaged[4 * 101 + 8] = '\n';                            // a line feed inside the text
        damaged[4 * 101 + 9] = 'z';
        QByteArray fifteen;
        for (int i = 0; i < 15; ++i)
            fifteen += historyRecords({"host" + QByteArray::number(i)});
        QByteArrayList ten;
        for (int i = 0; i < 10; ++i)
            ten << "host" + QByteArray::number(i);
        const QByteArrayList first3 = {"10.0.0.1", "10.0.0.2", "10.0.0.3"};
        QTest::newRow("three records") << three << first3;
        QTest::newRow("a part record after them") << three + QByteArray(47, '7') << first3;
        QTest::newRow("less than one record") << three.left(100) << QByteArrayList{};
        QTest::newRow("damaged records") << damaged << (first3 + QByteArrayList{"h6"});
        QTest::newRow("fifteen records") << fifteen << ten;
        QTest::newRow("one endless line") << QByteArray(4 << 20, 'x') << QByteArrayList{};
    }
    void loading() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArrayList, entries);
        QVERIFY(writeFile(path_, bytes));
        IpHistory h = historyOf({"stale"});
        QCOMPARE(ReadIpHistory(name().constData(), &h), 1);
        QByteArrayList read;
        for (int i = 0; i < h.count; ++i)
            read << h.entries[i];
        QCOMPARE(read, entries);
    }

    // No file is no history; something that is not a file is an error.
    void missingOrNoFile() {
        IpHistory h = historyOf({"stale"});
        QCOMPARE(ReadIpHistory(name().constData(), &h), 0);
        QCOMPARE(h.count, 0);
        QVERIFY(QDir(dir_.path()).mkdir("IPComboBoxQuorvatv60.ipa"));
        QVERIFY(ReadIpHistory(name().constData(), &h) < 0);
        QVERIFY(QDir(path_).removeRecursively());
    }

    // The 99-character maximum is written whole, an entry that would have to be cut is left
    // out; a rewrite that cannot finish leaves the old file byte for byte and no temporary.
    void writing() {
        const QByteArray longest(kHistoryMaxLength, 'h');
        IpHistory h = historyOf({"a", longest.constData(), "b"});
        std::memset(h.entries[0], 'x', kHistoryTextBytes); // no NUL
        QCOMPARE(WriteIpHistory(name().constData(), h), 0);
        const QByteArray old = historyRecords({longest, "b"});
        QCOMPARE(fileBytes(path_), old);

        const IpHistory next = historyOf({"10.9.9.9", "10.0.0.1"});
        int status = 0;
        {
            const qvtest::FileSizeLimit full(150); // the disk fills up halfway through
            status = WriteIpHistory(name().constData(), next);
        }
        QVERIFY(status < 0);
        QCOMPARE(fileBytes(path_), old);
        QCOMPARE(QDir(dir_.path()).entryList(QDir::Files), QStringList{"IPComboBoxQuorvatv60.ipa"});
        // No path, no file: nothing is written anywhere.
        QVERIFY(WriteIpHistory("", next) < 0);
        if (geteuid() != 0) { // root writes through the permissions
            QVERIFY(chmod(QFile::encodeName(dir_.path()).constData(), 0555) == 0);
            status = WriteIpHistory(name().constData(), next);
            chmod(QFile::encodeName(dir_.path()).constData(), 0755);
            QVERIFY(status < 0);
            QCOMPARE(fileBytes(path_), old);
        }
    }
};

QTEST_GUILESS_MAIN(HistoryTest)
#include "test_history.moc"

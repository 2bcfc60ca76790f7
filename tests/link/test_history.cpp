// The address history file on its own, where the panel cannot take it: record bytes at the
// limits, damaged, huge and random files, and a write that fails halfway.
#include "link/history.h"
#include "tests/support/support.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using namespace qv;

namespace {

// One record as the writer makes it.
QByteArray record(const QByteArray &text) {
    QByteArray r = text.leftJustified(kHistoryTextBytes, '\0', true);
    return r.append('\n');
}

QByteArray records(std::initializer_list<const char *> texts) {
    QByteArray all;
    for (const char *t : texts)
        all += record(t);
    return all;
}

IpHistory historyOf(std::initializer_list<const char *> texts) {
    IpHistory h;
    for (const char *t : texts)
        qstrncpy(h.entries[h.count++], t, kHistoryTextBytes);
    return h;
}

QList<QByteArray> entriesOf(const IpHistory &h) {
    QList<QByteArray> list;
    for (int i = 0; i < h.count; ++i)
        list << QByteArray(h.entries[i]);
    return list;
}

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

} // namespace

class HistoryTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString path_;

    QList<QByteArray> load(const QByteArray &bytes) {
        writeFile(path_, bytes);
        IpHistory h;
        return ReadIpHistory(QFile::encodeName(path_).constData(), &h) == 1
                   ? entriesOf(h)
                   : QList<QByteArray>{"<failed>"};
    }

  private slots:
    void init() {
        path_ = dir_.filePath("IPComboBoxQuorvatv60.ipa");
        QFile::remove(path_);
    }

    // Byte details the panel's tests do not reach: the 99-character maximum, an entry that
    // would have to be cut, and a stale temporary from an interrupted run.
    void writtenBytes() {
        const QByteArray longest(kHistoryMaxLength, 'h');
        IpHistory h = historyOf({"a", longest.constData(), "b"});
        std::memset(h.entries[0], 'x', kHistoryTextBytes); // no NUL: left out, never cut
        QCOMPARE(WriteIpHistory(QFile::encodeName(path_).constData(), h), 0);
        QCOMPARE(readFile(path_), longest + QByteArray("\0\n", 2) + record("b"));
        QCOMPARE(QDir(dir_.path()).entryList(QDir::Files), QStringList{"IPComboBoxQuorvatv60.ipa"});
        QCOMPARE(load(readFile(path_)), (QList<QByteArray>{longest, "b"}));
    }

    // Each record is read within its own 101 bytes and only the first ten are read, so a
    // damaged record costs at most itself and no file is too big.
    void loadingIsBounded() {
        QByteArray noNul = QByteArray(100, 'A') + '\n';
        QByteArray noLineFeed = record("10.0.0.2");
        noLineFeed[100] = 'X';
        QByteArray earlyLineFeed = record("10.0.0.3");
        earlyLineFeed[8] = '\n';
        earlyLineFeed[9] = 'z';
        const QByteArray file = record("10.0.0.1") + noNul + record("") + noLineFeed +
                                earlyLineFeed + record("10.0.0.6");
        QCOMPARE(load(file), (QList<QByteArray>{"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.6"}));

        QByteArray fifteen;
        for (int i = 0; i < 15; ++i)
            fifteen += record("host" + QByteArray::number(i));
        const QList<QByteArray> ten = load(fifteen);
        QCOMPARE(ten.size(), kHistoryMaxEntries);
        QCOMPARE(ten.back(), QByteArray("host9"));
        QCOMPARE(load(QByteArray(4 << 20, 'x')), QList<QByteArray>{}); // one endless line

        // No file is no history; something that is not a file is an error.
        QFile::remove(path_);
        IpHistory h = historyOf({"stale"});
        QCOMPARE(ReadIpHistory(QFile::encodeName(path_).constData(), &h), 0);
        QCOMPARE(h.count, 0);
        QVERIFY(QDir(dir_.path()).mkdir("IPComboBoxQuorvatv60.ipa"));
        QVERIFY(ReadIpHistory(QFile::encodeName(path_).constData(), &h) < 0);
        QVERIFY(QDir(path_).removeRecursively());
    }

    // Whatever bytes the file holds, every entry is a non-empty text of at most 99 characters.
    void anyBytesGiveSoundEntries() {
        QRandomGenerator random(20240611);
        for (int round = 0; round < 300; ++round) {
            QByteArray bytes(int(random.bounded(1400)), '\0');
            const char alphabet[] = {'\0', '\n', '\r', 'a', '.', '\xff'};
            for (char &c : bytes)
                c = round % 2 ? alphabet[random.bounded(6)] : char(random.bounded(256));
            IpHistory h;
            ParseIpHistory(reinterpret_cast<const unsigned char *>(bytes.constData()),
                           std::size_t(bytes.size()), &h);
            QVERIFY(h.count >= 0 &&
                    h.count <= std::min(kHistoryMaxEntries, int(bytes.size()) / 101));
            for (int i = 0; i < h.count; ++i) {
                const std::size_t n = strnlen(h.entries[i], kHistoryTextBytes);
                QVERIFY(n >= 1 && n <= std::size_t(kHistoryMaxLength));
                QVERIFY(!std::memchr(h.entries[i], '\n', n));
            }
        }
    }

    // A rewrite that cannot finish leaves the old file byte for byte and no temporary behind.
    void failedRewriteKeepsTheOldFile() {
        const QByteArray old = records({"10.0.0.1", "10.0.0.2"});
        const QByteArray path = QFile::encodeName(path_);
        const IpHistory next = historyOf({"10.9.9.9", "10.0.0.1", "10.0.0.2"});

        // The disk fills up halfway through: the write itself fails.
        writeFile(path_, old);
        int status = 0;
        {
            const qvtest::FileSizeLimit full(150);
            status = WriteIpHistory(path.constData(), next);
        }
        QVERIFY(status < 0);
        QCOMPARE(readFile(path_), old);
        QCOMPARE(QDir(dir_.path()).entryList(QDir::Files), QStringList{"IPComboBoxQuorvatv60.ipa"});
        // No path, no file: nothing is written anywhere.
        QVERIFY(WriteIpHistory("", next) < 0);

        // A folder the program may not write to, where permissions count.
        if (geteuid() != 0) {
            QVERIFY(chmod(QFile::encodeName(dir_.path()).constData(), 0555) == 0);
            const int denied = WriteIpHistory(path.constData(), next);
            chmod(QFile::encodeName(dir_.path()).constData(), 0755);
            QVERIFY(denied < 0);
            QCOMPARE(readFile(path_), old);
        }
    }
};

QTEST_GUILESS_MAIN(HistoryTest)
#include "test_history.moc"

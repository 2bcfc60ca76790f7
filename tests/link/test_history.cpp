// The address history file on its own: the record bytes, what start-up makes of short, long,
// damaged and foreign files, and a rewrite that fails without losing the old file.
#include "link/history.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <sys/resource.h>
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

    QList<QByteArray> load(const QByteArray &bytes, int *status = nullptr) {
        writeFile(path_, bytes);
        IpHistory h;
        const int s = ReadIpHistory(QFile::encodeName(path_).constData(), &h);
        if (status)
            *status = s;
        return entriesOf(h);
    }

  private slots:
    void init() {
        path_ = dir_.filePath("IPComboBoxQuorvatv60.ipa");
        QFile::remove(path_);
    }

    // The bytes of the file: 101 per record, the text NUL-padded to 100, a line feed, nothing
    // else. An empty address is a record of zeros; 99 characters is the longest that fits.
    void writtenBytes() {
        const QByteArray longest(kHistoryMaxLength, 'h');
        IpHistory h = historyOf({"", "192.168.0.10", longest.constData()});
        QCOMPARE(WriteIpHistory(QFile::encodeName(path_).constData(), h), 0);
        const QByteArray bytes = readFile(path_);
        QCOMPARE(bytes.size(), 3 * kHistoryRecordBytes);
        QCOMPARE(bytes.left(101), QByteArray(100, '\0') + '\n');
        QCOMPARE(bytes.mid(101, 101), record("192.168.0.10"));
        QCOMPARE(bytes.mid(202, 99), longest);
        QCOMPARE(bytes.mid(301), QByteArray("\0\n", 2));
        QVERIFY(!QFile::exists(path_ + ".tmp"));

        // What is read back is what was written, empty entry aside.
        QCOMPARE(load(bytes), (QList<QByteArray>{"192.168.0.10", longest}));

        // An entry with no NUL in its 100 bytes is left out rather than cut.
        h = historyOf({"a", "b"});
        std::memset(h.entries[0], 'x', kHistoryTextBytes);
        QCOMPARE(WriteIpHistory(QFile::encodeName(path_).constData(), h), 0);
        QCOMPARE(readFile(path_), record("b"));

        // A stale temporary from an interrupted run is overwritten, not appended to.
        writeFile(path_ + ".tmp", QByteArray(5000, 'z'));
        QCOMPARE(WriteIpHistory(QFile::encodeName(path_).constData(), historyOf({"c"})), 0);
        QCOMPARE(readFile(path_), record("c"));
        QVERIFY(!QFile::exists(path_ + ".tmp"));
    }

    void loadingByFileSize() {
        const QByteArray three = records({"10.0.0.1", "10.0.0.2", "10.0.0.3"});
        const QList<QByteArray> expected{"10.0.0.1", "10.0.0.2", "10.0.0.3"};
        int status = 0;
        QCOMPARE(load(three, &status), expected); // 303 bytes
        QCOMPARE(status, 1);
        QCOMPARE(load(three + QByteArray(47, 'q')), expected); // 350: the tail is ignored
        QCOMPARE(load(three.left(100)), QList<QByteArray>{});  // 100: no whole record
        QCOMPARE(load(QByteArray()), QList<QByteArray>{});

        // Only the first ten records, as many as the writer ever keeps.
        QByteArray fifteen;
        for (int i = 0; i < 15; ++i)
            fifteen += record("host" + QByteArray::number(i));
        const QList<QByteArray> ten = load(fifteen);
        QCOMPARE(ten.size(), kHistoryMaxEntries);
        QCOMPARE(ten.front(), QByteArray("host0"));
        QCOMPARE(ten.back(), QByteArray("host9"));

        // No file, or something that is not a file: nothing loaded, the second one reported.
        QFile::remove(path_);
        IpHistory h = historyOf({"stale"});
        QCOMPARE(ReadIpHistory(QFile::encodeName(path_).constData(), &h), 0);
        QCOMPARE(h.count, 0);
        QVERIFY(QDir(dir_.path()).mkdir("IPComboBoxQuorvatv60.ipa"));
        QVERIFY(ReadIpHistory(QFile::encodeName(path_).constData(), &h) < 0);
        QCOMPARE(h.count, 0);
        QVERIFY(QDir(path_).removeRecursively());
    }

    // Each record is read within its own 101 bytes, so one damaged record costs at most itself.
    void damagedRecordsStayContained() {
        QByteArray noNul = QByteArray(100, 'A') + '\n';
        QByteArray noLineFeed = record("10.0.0.2");
        noLineFeed[100] = 'X';
        QByteArray earlyLineFeed = record("10.0.0.3");
        earlyLineFeed[8] = '\n';
        earlyLineFeed[9] = 'z';
        const QByteArray file = record("10.0.0.1") + noNul + record("") + noLineFeed +
                                earlyLineFeed + record("10.0.0.6");
        QCOMPARE(load(file), (QList<QByteArray>{"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.6"}));

        // A large file of one endless line yields nothing and does not stall.
        QCOMPARE(load(QByteArray(4 << 20, 'x')), QList<QByteArray>{});
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
    // Root ignores permissions, so the failures are made by what stands in the way.
    void failedRewriteKeepsTheOldFile() {
        const QByteArray old = records({"10.0.0.1", "10.0.0.2"});
        const QByteArray path = QFile::encodeName(path_);
        const IpHistory next = historyOf({"10.9.9.9", "10.0.0.1", "10.0.0.2"});

        // A directory where the temporary would go: it cannot even be opened.
        writeFile(path_, old);
        QVERIFY(QDir(dir_.path()).mkdir("IPComboBoxQuorvatv60.ipa.tmp"));
        QVERIFY(WriteIpHistory(path.constData(), next) < 0);
        QCOMPARE(readFile(path_), old);
        QVERIFY(QDir(path_ + ".tmp").removeRecursively());

        // The disk fills up halfway through: the write itself fails.
        struct rlimit saved {};
        getrlimit(RLIMIT_FSIZE, &saved);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = saved;
        small.rlim_cur = 150;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const int status = WriteIpHistory(path.constData(), next);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(status < 0);
        QCOMPARE(readFile(path_), old);
        QVERIFY(!QFile::exists(path_ + ".tmp"));

        // The history's folder is a file: nothing can be created at all.
        writeFile(dir_.filePath("plain"), "not a folder");
        QVERIFY(WriteIpHistory(QFile::encodeName(dir_.filePath("plain/history.ipa")).constData(),
                               next) < 0);
        QCOMPARE(readFile(dir_.filePath("plain")), QByteArray("not a folder"));

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

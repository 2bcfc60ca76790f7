// The settings file: values back after a reopen, written without the locale; a missing file is
// made, a damaged or unreadable one left alone, a failed write reported and the file kept.
#include "platform/settings.h"
#include "platform/utility.h"
#include "tests/support/support.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <clocale>

using namespace qv::rt;

class SettingsTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QByteArray path_;

  private slots:
    void initTestCase() {
        qvtest::initRunTime();
        path_ = QFile::encodeName(dir_.filePath("QuorvatV60.ini"));
    }
    void cleanup() {
        SettingsClose();
        QFile::remove(path_);
    }

    // Made by the first put; its values back after a reopen, numbers as a machine reads them
    // under any locale; the file's other values kept; deleting it brings back the defaults.
    void valuesComeBackAfterAReopen() {
        std::setlocale(LC_ALL, "de_DE.UTF-8"); // where the system has it: "1.234.567,0"
        const char text[] = "a, \"b\" = %s;\xE4";
        int n = 7;
        char back[32] = "";
        qvtest::checkStatuses({{SettingsOpen(path_.constData()), 0},
                               {SettingsGetInt("trend/left", &n), 0},
                               {SettingsPutInt("trend/left", -1234567), 0},
                               {SettingsPutText("station/operator", text), 0},
                               {SettingsOpen(path_.constData()), 0},
                               {SettingsGetInt("trend/left", &n), 1},
                               {SettingsGetText("station/operator", back), 1}});
        std::setlocale(LC_ALL, "C");
        QCOMPARE(n, -1234567);
        QCOMPARE(QByteArray(back), QByteArray(text));
        QVERIFY(qvtest::fileBytes(path_).contains("[trend]\nleft=-1234567\n"));
        QCOMPARE(QByteArray(SettingsFile()), path_);
        char shortText[4];
        qvtest::checkStatuses({{SettingsGetText("station/operator", shortText), kTextCut},
                               {SettingsGetInt("station/operator", &n), kSettingsDamaged}});
        QCOMPARE(QByteArray(shortText), QByteArray("a, "));
        QVERIFY(QFile::remove(path_));
        QCOMPARE(SettingsGetInt("trend/left", &n), 0);
    }

    // Not read and never written: no path, a damaged file, one that cannot be read. A put that
    // fails (a full disk, a folder gone) leaves the file as it was, and makes no folder.
    void whatIsNotKept() {
        int n = 0;
        QCOMPARE(SettingsOpen(nullptr), 0);
        QCOMPARE(SettingsPutInt("trend/left", 1), kSettingsNotKept);
        QCOMPARE(SettingsFile(), "");
        const QByteArray damaged("\x01\x02\xFF garbage\n[trend\nleft=5\n", 24);
        QVERIFY(qvtest::writeFile(path_, damaged));
        qvtest::checkStatuses({{SettingsOpen(path_.constData()), kSettingsDamaged},
                               {SettingsGetInt("trend/left", &n), kSettingsNotKept},
                               {SettingsPutInt("trend/left", 1), kSettingsNotKept}});
        QCOMPARE(qvtest::fileBytes(path_), damaged);
        QVERIFY(QFile::remove(path_) && QDir().mkdir(path_)); // root reads every file
        QCOMPARE(SettingsOpen(path_.constData()), kFileError);
        QVERIFY(QDir().rmdir(path_));

        QVERIFY(SettingsOpen(path_.constData()) == 0 && SettingsPutInt("trend/top", 5) == 0);
        const QByteArray before = qvtest::fileBytes(path_);
        {
            const qvtest::FileSizeLimit full(8);
            QCOMPARE(SettingsPutText("trend/name", "a text longer than the disk"), kFileError);
        }
        QCOMPARE(qvtest::fileBytes(path_), before);
        QTemporaryDir gone;
        const QByteArray inGone = QFile::encodeName(gone.filePath("QuorvatV60.ini"));
        QCOMPARE(SettingsOpen(inGone.constData()), 0);
        QVERIFY(gone.remove());
        QCOMPARE(SettingsPutInt("trend/left", 1), kFileError);
        QVERIFY(!QFileInfo::exists(gone.path()));
    }
};

QTEST_MAIN(SettingsTest)
#include "test_settings.moc"

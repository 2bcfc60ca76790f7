// Where start-up puts the address history: beside the program while its folder takes new
// files, else in the user's data folder, and nowhere (with one line on standard error) when
// neither can hold it.

// Ahead of app/state.h, whose `panel` a parameter of a template in it would shadow.
#include "combobox/combobox.h"

#include "app/startup.h"
#include "link/connectpanel.h"
#include "platform/testing.h"
#include "platform/utility.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "tests/support/rig.h"
#include "tests/support/support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

using namespace qv;

namespace {

constexpr char kHistory[] = "IPComboBoxQuorvatv60.ipa";

QByteArray record(const QByteArray &address) {
    return address.leftJustified(100, '\0') + '\n';
}

QByteArray readFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QList<QByteArray> listed() {
    void *data = nullptr;
    rt::GetCtrlAttribute(interfacepanel, INTERFACEP_STRINGIPADRESS, rt::ATTR_CALLBACK_DATA, &data);
    const int ring = data ? static_cast<ComboRec *>(data)->ringCtrl : 0;
    QList<QByteArray> items;
    int count = 0;
    rt::GetNumListItems(interfacepanel, ring, &count);
    for (int i = 0; i < count; ++i) {
        char value[128] = "";
        rt::GetValueFromIndex(interfacepanel, ring, i, value);
        items << value;
    }
    return items;
}

// Start-up with the program's folder taken to be `programDir` and the data folders under
// `dataHome`, the panel pointing at `rig`'s simulator.
QByteArray startUpIn(qvtest::SensorRig &rig, const QString &programDir, const QString &dataHome) {
    qvtest::loadPanels();
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome));
    rt::SetProjectDirForTesting(QFile::encodeName(programDir).constData());
    rig.select(qvtest::Link::Tcp);
    qvtest::PopupRecorder popups;
    qvtest::StderrCapture err;
    InitVars();
    rt::SetProjectDirForTesting(nullptr);
    return err.text();
}

} // namespace

class HistoryLocationTest : public QObject {
    Q_OBJECT
    QTemporaryDir home_;
    std::unique_ptr<qvtest::SensorRig> rig_;

    QString dataHome() const { return home_.filePath("data"); }
    // The user's data folder for this program, under dataHome().
    QString dataFolder() const {
        return QDir(dataHome()).filePath(QCoreApplication::applicationName());
    }
    QString historyIn(const QString &folder) const { return QDir(folder).filePath(kHistory); }

  private slots:
    void initTestCase() {
        qvtest::initRunTime();
        rig_ = std::make_unique<qvtest::SensorRig>();
    }
    void init() { QVERIFY(QDir(dataHome()).removeRecursively()); }
    void cleanupTestCase() {
        qunsetenv("XDG_DATA_HOME");
        rig_.reset();
    }

    // The folder decides by what a write there actually does. A writable one keeps the history
    // beside the program and the try leaves no trace, not even on a temporary left from
    // before. One on which writes fail for everyone, root included (/proc), sends it to the
    // data folder, made for the purpose. A folder without write bits goes whichever way a real
    // write there goes: root writes through the bits.
    void historyStaysBesideTheProgramWhileItsFolderIsWritable() {
        const QDir::Filters all = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden;
        {
            QTemporaryDir program;
            QCOMPARE(startUpIn(*rig_, program.path(), dataHome()), QByteArray());
            QCOMPARE(QString::fromLocal8Bit(ipComboBoxFileName), historyIn(program.path()));
            QCOMPARE(QDir(program.path()).entryList(all), QStringList());
            QVERIFY(!QFileInfo::exists(dataHome()));
        }
        {
            QTemporaryDir program;
            QFile left(historyIn(program.path()) + ".tmp");
            QVERIFY(left.open(QIODevice::WriteOnly));
            left.write("from before");
            left.close();
            QCOMPARE(startUpIn(*rig_, program.path(), dataHome()), QByteArray());
            QCOMPARE(QString::fromLocal8Bit(ipComboBoxFileName), historyIn(program.path()));
            QCOMPARE(QDir(program.path()).entryList(all), QStringList{QString(kHistory) + ".tmp"});
            QCOMPARE(readFile(left.fileName()), QByteArray("from before"));
        }
        {
            QCOMPARE(startUpIn(*rig_, QStringLiteral("/proc"), dataHome()), QByteArray());
            QCOMPARE(QString::fromLocal8Bit(ipComboBoxFileName), historyIn(dataFolder()));
            QVERIFY(QFileInfo(dataFolder()).isDir());
            QCOMPARE(QDir(dataFolder()).entryList(all), QStringList());
        }
        {
            QTemporaryDir program;
            const QByteArray name = QFile::encodeName(program.path());
            QVERIFY(chmod(name.constData(), 0555) == 0);
            QFile attempt(program.filePath("attempt"));
            const bool writes = attempt.open(QIODevice::WriteOnly | QIODevice::NewOnly);
            attempt.remove();
            QCOMPARE(startUpIn(*rig_, program.path(), dataHome()), QByteArray());
            QCOMPARE(QString::fromLocal8Bit(ipComboBoxFileName),
                     historyIn(writes ? program.path() : dataFolder()));
            chmod(name.constData(), 0755);
        }
        qvtest::loadPanels();
    }

    // In the data folder the history is the same file as beside the program: read at
    // start-up, rewritten whole on a commit.
    void dataFolderHistoryIsReadAndRewritten() {
        QVERIFY(QDir().mkpath(dataFolder()));
        QFile seeded(historyIn(dataFolder()));
        QVERIFY(seeded.open(QIODevice::WriteOnly));
        seeded.write(record("10.9.8.7"));
        seeded.close();
        QCOMPARE(startUpIn(*rig_, QStringLiteral("/proc"), dataHome()), QByteArray());
        QCOMPARE(listed(), QList<QByteArray>{"10.9.8.7"});

        qvtest::click(panel, P_BUTTONCONNECT);
        QWidget *window = rt::testing::PanelWidget(interfacepanel);
        QVERIFY(qvtest::waitFor([&] { return window->isVisible(); }));
        QVERIFY(QTest::qWaitForWindowActive(window));
        QWidget *field = qvtest::widget(interfacepanel, INTERFACEP_STRINGIPADRESS);
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_Delete);
        QTest::keyClicks(field, QStringLiteral("203.0.113.5"));
        QTest::keyClick(field, Qt::Key_Return);
        QVERIFY(qvtest::waitFor([] { return listed().size() == 2; }));
        QCOMPARE(readFile(historyIn(dataFolder())), record("203.0.113.5") + record("10.9.8.7"));
        qvtest::loadPanels();
    }

    // Neither folder can hold it: start-up goes on without a history and says so in one line
    // naming the folder it could not make.
    void noFolderForTheHistoryLeavesItOff() {
        const QString unmakeable = QStringLiteral("/proc/quorvat-no-such-folder");
        const QByteArray err = startUpIn(*rig_, QStringLiteral("/proc"), unmakeable);
        QCOMPARE(err.count('\n'), 1);
        QVERIFY2(
            err.startsWith(
                "quorvat: cannot create the folder " +
                QFile::encodeName(QDir(unmakeable).filePath(QCoreApplication::applicationName())) +
                " for the address history"),
            err.constData());
        QCOMPARE(ipComboBoxFileName[0], '\0');
        QCOMPARE(listed(), QList<QByteArray>());
        qvtest::loadPanels();
    }
};

QTEST_MAIN(HistoryLocationTest)
#include "test_historylocation.moc"

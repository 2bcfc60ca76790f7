// The built Debian package unpacked as dpkg lays it out: its control data, files, menu entry and
// metainfo, and the installed program run twice against the installed simulator by a user who
// cannot write the program's folder, the address history surviving the restart.
#include "tests/support/support.h"

#include <QDir>
#include <QDirIterator>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kAppId[] = "org.example.Quorvat";
constexpr unsigned kNobody = 65534; // nobody and nogroup on Debian

// Runs a program to its end: its exit code (-1 when it crashed or did not end) and its output.
std::pair<int, QByteArray> run(const QString &program, const QStringList &args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    const bool ended = p.waitForFinished(120000); // else it is killed on return
    return {ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAll()};
}

} // namespace

class InstalledTest : public QObject {
    Q_OBJECT
    QString deb_;
    QTemporaryDir scratch_;
    QString root_;

    QString installed(const QString &path) const { return QDir(root_).filePath(path); }

  private slots:
    void initTestCase() {
        const QDir dir(QStringLiteral(QUORVAT_PACKAGE_DIR));
        const QStringList debs = dir.entryList({"quorvat_" QUORVAT_VERSION "-*.deb"}, QDir::Files);
        if (debs.isEmpty())
            QSKIP("no package to test in " QUORVAT_PACKAGE_DIR
                  ": scripts/package.sh builds one and runs this test");
        // Another user runs the installed program below; it must reach the scratch root.
        QVERIFY(chmod(QFile::encodeName(scratch_.path()).constData(), 0755) == 0);
        deb_ = dir.filePath(debs.first()); // package.sh leaves one
        root_ = scratch_.filePath("root");
        const auto [code, out] = run("dpkg-deb", {"-x", deb_, root_});
        QVERIFY2(code == 0, out.constData());
    }

    // The control data, menu entry and metainfo, each passed by its own tool, say what the
    // package is and needs; the entry starts the program on the path with an installed icon.
    void packageDescribesItself() {
        const QString desktop = installed("usr/share/applications/org.example.Quorvat.desktop");
        const QString metainfo = installed("usr/share/metainfo/org.example.Quorvat.metainfo.xml");
        QString all = "\n" + qvtest::fileBytes(desktop) + qvtest::fileBytes(metainfo);
        for (const QStringList &tool : {QStringList{"desktop-file-validate", desktop},
                                        {"appstreamcli", "validate", "--no-net", metainfo},
                                        {"dpkg-deb", "-f", deb_}}) {
            const auto [code, out] = run(tool[0], tool.mid(1));
            QVERIFY2(code == 0 && !out.contains("error"), out.constData());
            if (tool[0] == "dpkg-deb")
                all += "\n" + out;
        }
        for (const char *pattern :
             {"\nPackage: quorvat\n", "\nVersion: " QUORVAT_VERSION "-",
              "\nHomepage: https://example\\.org/",
              "\nDescription: \\S[^\n]*\n \\S", // a summary, a longer text
              "\nExec=quorvat\n", "\nIcon=org\\.example\\.Quorvat\n",
              "<launchable type=\"desktop-id\">org\\.example\\.Quorvat\\.desktop<",
              "<release version=\"" QUORVAT_VERSION "\""})
            QVERIFY2(QRegularExpression(pattern).match(all).hasMatch(), pattern);
        const QString depends = QRegularExpression("\nDepends: ([^\n]*)").match(all).captured(1);
        // Those the shared libraries bring in, and the fonts the panels are drawn with.
        for (const char *dependency : {"libqt6widgets6", "libqt6network6", "libqt6serialport6",
                                       "libqt6charts6", "libstdc++6", "fonts-dejavu-core"})
            QVERIFY2(depends.contains(dependency), qPrintable(depends));
    }

    // The program, its resource file and bitmaps share one folder, run below through a link in
    // bin/; beside them only the menu entry, icons, metainfo, licence and the simulator.
    void programAndItsFilesShareAFolder() {
        QStringList expected = {"usr/bin/quorvat",
                                "usr/bin/quorvat-sensorsim",
                                "usr/lib/quorvat/quorvat",
                                "usr/share/doc/quorvat/copyright",
                                "usr/share/applications/org.example.Quorvat.desktop",
                                "usr/share/icons/hicolor/scalable/apps/org.example.Quorvat.svg",
                                "usr/share/metainfo/org.example.Quorvat.metainfo.xml"};
        // Named only: the run below proves the resource file; the bitmaps are plain copies.
        const QDir sources(QStringLiteral(QUORVAT_SOURCE_DIR "/resources"));
        for (const QString &name : sources.entryList({"*.uir", "*.png"}, QDir::Files))
            expected << "usr/lib/quorvat/" + name;
        for (int size : {16, 32, 48, 64, 128, 256}) {
            expected << QString("usr/share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(kAppId);
            QCOMPARE(QImage(installed(expected.last())).size(), QSize(size, size));
        }
        QStringList tree; // every file and link
        for (QDirIterator it(root_, QDir::Files | QDir::System | QDir::Hidden,
                             QDirIterator::Subdirectories);
             it.hasNext();)
            tree << QDir(root_).relativeFilePath(it.next());
        tree.sort();
        expected.sort();
        QCOMPARE(tree, expected);
        QCOMPARE(qvtest::fileBytes(installed("usr/share/doc/quorvat/copyright")),
                 qvtest::fileBytes(QStringLiteral(QUORVAT_SOURCE_DIR "/LICENSE")));
    }

    // Run through bin/quorvat by a user who cannot write its folder, it shows the installed
    // simulator's version and keeps a committed address in the user's data folder: the second
    // run's commit writes the first run's address too, which only its start-up read back.
    void installedProgramShowsTheSensorAndKeepsItsHistory() {
        QProcess sim;
        sim.start(installed("usr/bin/quorvat-sensorsim"), {"--tcp", "127.0.0.1:0"});
        QVERIFY2(sim.waitForReadyRead(30000), sim.readAllStandardError().constData());
        const QByteArray up = sim.readLine().trimmed();
        QVERIFY2(up.startsWith("tcp: 127.0.0.1:"), up.constData());
        const auto port = static_cast<unsigned short>(up.mid(up.lastIndexOf(':') + 1).toUInt());
        // The one change to the installed tree: the starting port is the simulator's.
        qvtest::pointConnectionPanelAt(installed("usr/lib/quorvat/QuorvatV60.uir"), true, port);

        const QString pkgDir = installed("usr/lib/quorvat"), probe = scratch_.filePath("probe.so");
        const QString home = scratch_.filePath("home"); // also the run-time folder
        QVERIFY(QDir().mkpath(home) && chmod(QFile::encodeName(home).constData(), 0700) == 0);
        QVERIFY(QFile::copy(QStringLiteral(QUORVAT_PROBE_LIB), probe));
        // Root writes through permission bits, so as root the program runs as nobody, whose
        // folder is not the program's; anyone else finds it read-only.
        const bool asRoot = geteuid() == 0;
        const auto restore = qScopeGuard([&] {
            if (!asRoot)
                chmod(QFile::encodeName(pkgDir).constData(), 0755);
            sim.terminate();
            sim.waitForFinished();
        });
        QVERIFY(!asRoot || chown(QFile::encodeName(home).constData(), kNobody, kNobody) == 0);
        QVERIFY(asRoot || chmod(QFile::encodeName(pkgDir).constData(), 0555) == 0);
        const QString history =
            QDir(home).filePath(".local/share/quorvat/IPComboBoxQuorvatv60.ipa");

        const auto runProgram = [&](const QByteArray &address, const QByteArray &historyAfter) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            for (const char *name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME",
                                     "DISPLAY", "WAYLAND_DISPLAY"})
                env.remove(name);
            env.insert("QT_QPA_PLATFORM", "offscreen");
            env.insert("HOME", home);
            env.insert("XDG_RUNTIME_DIR", home);
            env.insert("LD_PRELOAD", probe);
            env.insert("QUORVAT_PROBE_COMMIT", address);
            p.setProcessEnvironment(env);
            const QString program = installed("usr/bin/quorvat");
            const QStringList asNobody = {"--reuid=65534", "--regid=65534", "--clear-groups", "--",
                                          program};
            p.start(asRoot ? "setpriv" : program, asRoot ? asNobody : QStringList());
            // The probe closes the program only once it has shown the simulator's version and
            // the commit has run; its lines on standard error say how far it came.
            const bool ended = p.waitForFinished(30000);
            const QByteArray err = p.readAllStandardError();
            QVERIFY2(ended && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0,
                     err.constData());
            QCOMPARE(qvtest::fileBytes(history), historyAfter);
            // Qt's own notes may appear there; the program's lines start with its name.
            QVERIFY2(!err.contains("quorvat:"), err.constData());
        };
        runProgram("192.0.2.10", qvtest::historyRecords({"192.0.2.10"}));
        if (QTest::currentTestFailed())
            return;
        runProgram("203.0.113.5", qvtest::historyRecords({"203.0.113.5", "192.0.2.10"}));
    }
};

QTEST_GUILESS_MAIN(InstalledTest)
#include "test_installed.moc"

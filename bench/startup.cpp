// Start-up of the real program: from its start to its first request (startup_seconds).
#include "bench/bench.h"

#include "shell/controls.h"
#include "shell/state.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

namespace qvbench {

namespace {

constexpr int kProgramPort = 10001;

// A copy of the program and its resource file whose connection panel starts at `port`.
bool scratchProgram(const QTemporaryDir &dir, int port, std::string *why) {
    const QDir bin(QCoreApplication::applicationDirPath());
    QStringList names = bin.entryList({"*.uir", "*.png"}, QDir::Files);
    names << "quorvat";
    for (const QString &name : names)
        if (!QFile::copy(bin.filePath(name), dir.filePath(name))) {
            *why = "cannot copy " + name.toStdString();
            return false;
        }
    QFile::setPermissions(dir.filePath("quorvat"), QFile::permissions(bin.filePath("quorvat")));
    QFile file(dir.filePath(qv::kResourceFile));
    if (!file.open(QIODevice::ReadOnly)) {
        *why = "cannot read the resource file copy";
        return false;
    }
    QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    file.close();
    QJsonArray panels = root.value("panels").toArray();
    bool edited = false;
    for (int i = 0; i < panels.size(); ++i) {
        QJsonObject p = panels[i].toObject();
        if (p.value("resource").toInt() != 1)
            continue;
        QJsonArray controls = p.value("controls").toArray();
        for (int j = 0; j < controls.size(); ++j) {
            QJsonObject c = controls[j].toObject();
            if (c.value("id").toInt() != qv::INTERFACEP_STRINGPORTNUMBER)
                continue;
            c["value"] = QString::number(port);
            controls[j] = c;
            edited = true;
        }
        p["controls"] = controls;
        panels[i] = p;
    }
    root["panels"] = panels;
    if (!edited || !file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(QJsonDocument(root).toJson()) < 0) {
        *why = "cannot set the TCP port in the resource file copy";
        return false;
    }
    return true;
}

// Seconds from starting the program to the simulator's log line of its version request.
double startOnce(const QString &program, Simulator &sim) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setProgram(program);
    const auto t0 = Clock::now();
    process.start();
    double seconds = -1;
    const auto deadline = t0 + std::chrono::seconds(10);
    while (auto line = sim.log()->next(deadline))
        if (line->find("GETVERSION") != std::string::npos) {
            seconds = secondsSince(t0);
            break;
        }
    process.kill();
    process.waitForFinished(5000);
    return seconds;
}

} // namespace

void benchStartup(int runs) {
    Simulator sim;
    std::string why;
    QString program = QCoreApplication::applicationDirPath() + "/quorvat";
    QTemporaryDir scratch;
    if (!sim.start({"--tcp", "127.0.0.1:" + std::to_string(kProgramPort), "-v"}, true, &why)) {
        // Someone else has the program's starting port: a copy of the program starts at the
        // port a simulator of ours could get.
        if (!sim.start({"--tcp", "127.0.0.1:0", "-v"}, true, &why))
            return fail("start-up: " + why);
        if (!scratch.isValid() || !scratchProgram(scratch, sim.tcpPort(), &why))
            return fail("start-up: " + why);
        program = scratch.filePath("quorvat");
        note("start-up: port " + std::to_string(kProgramPort) + " is taken; a copy of the " +
             "program in " + scratch.path().toStdString() + " starts at port " +
             std::to_string(sim.tcpPort()));
    }
    startOnce(program, sim); // warm-up: the first start reads the libraries and fonts from disk
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double t = startOnce(program, sim);
        if (t < 0)
            return fail("start-up: the program's version request did not reach the simulator");
        times.push_back(t);
    }
    figure("startup_seconds", median(times), "s", 3);
}

} // namespace qvbench

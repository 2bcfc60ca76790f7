#include "tests/support/rig.h"

#include "link/connectpanel.h"
#include "link/link.h"
#include "platform/userint.h"
#include "shell/controls.h"
#include "shell/state.h"

#include <QByteArray>
#include <QTimer>

namespace qvtest {

using namespace qv;

qvsim::Options quietSensor(const char *version, bool pty) {
    qvsim::Options o;
    o.port = 0;
    o.pty = pty;
    o.noise = 0;
    if (version)
        o.version = version;
    return o;
}

SensorRig::SensorRig() : SensorRig(quietSensor()) {}

SensorRig::SensorRig(qvsim::Options options) {
    auto ups = ptyUps_;
    auto chained = std::move(options.onStatus);
    options.onStatus = [ups, chained](const std::string &line) {
        if (line.rfind("pty: ", 0) == 0)
            ++*ups;
        if (chained)
            chained(line);
    };
    sim_ = std::make_unique<qvsim::Simulator>(std::move(options));
    std::string error;
    if (!sim_->start(&error))
        qFatal("the simulator did not start: %s", error.c_str());
}

SensorRig::~SensorRig() = default;

void SensorRig::select(Link link) {
    if (link == Link::Tcp) {
        rt::SetCtrlVal(interfacepanel, INTERFACEP_EDITCOMMUNICATIONPROTOCOL, 1);
        rt::SetCtrlVal(interfacepanel, INTERFACEP_STRINGIPADRESS, "127.0.0.1");
        rt::SetCtrlVal(interfacepanel, INTERFACEP_STRINGPORTNUMBER,
                       QByteArray::number(sim_->tcpPort()).constData());
    } else {
        qputenv(QByteArray("QUORVAT_COM") + QByteArray::number(kRigComPort),
                QByteArray::fromStdString(sim_->ptyPath()));
        rt::SetCtrlVal(interfacepanel, INTERFACEP_EDITCOMMUNICATIONPROTOCOL, 0);
        rt::SetCtrlVal(interfacepanel, INTERFACEP_EDITSELECTCOMPORT, kRigComPort);
    }
}

void SensorRig::connect(Link link) {
    select(link);
    TryToConnect();
}

int SensorRig::framesOf(int code) const {
    int n = 0;
    for (const qvsim::Frame &f : sim_->frames())
        n += f[3] == code;
    return n;
}

void whenever(std::function<bool()> when, std::function<void()> action) {
    auto *timer = new QTimer;
    timer->setInterval(2);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, when, action] {
        if (!when())
            return;
        timer->stop();
        timer->deleteLater();
        action();
    });
    timer->start();
}

} // namespace qvtest

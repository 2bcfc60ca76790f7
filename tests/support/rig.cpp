#include "tests/support/rig.h"

#include "link/connectpanel.h"
#include "link/link.h"
#include "platform/userint.h"
#include "platform/utility.h"
#include "shell/controls.h"
#include "shell/refresh.h"
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

SensorRig::SensorRig(qvsim::Options options) {
    // The program keeps to the device it opened, and opens it again when the line comes back: a
    // name of this test's own, never a /dev/pts number another process may get once it is free.
    if (options.pty && options.ptyLink.empty())
        options.ptyLink = ptyDir_.filePath("sensor").toStdString();
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
        // Its link when it has one: that stays put when the line comes back as another pty.
        const std::string device = sim_->ptyLink().empty() ? sim_->ptyPath() : sim_->ptyLink();
        qputenv(QByteArray("QUORVAT_COM") + QByteArray::number(kRigComPort),
                QByteArray::fromStdString(device));
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

FlowRig::FlowRig(qvsim::Options options) : SensorRig(std::move(options)) {
    loadPanels();
    setStartupSizes();
    target = 1;
    rt::CopyText(ipComboBoxFileName, file(kHistoryFileName).toLocal8Bit().constData());
}

void FlowRig::reset(const char *version, std::function<qvsim::Rgb(std::uint64_t)> source) {
    sim().clearFaults();
    sim().resetToFactory();
    if (version)
        sim().setVersion(version);
    sim().setReadingSource(std::move(source));
}

void enter(const Entries &e) {
    rt::SetCtrlVal(panel, P_EDITPOWER, e.power);
    rt::SetCtrlVal(panel, P_EDITSETVALUE, e.setValue);
    ShowTargetWindow(); // as the box's commit does
    rt::SetCtrlVal(panel, P_EDITMAXDELTA, e.maxDelta);
    enterFactors(e.red, e.green, e.blue);
}

void enterFactors(unsigned red, unsigned green, unsigned blue) {
    rt::SetCtrlVal(panel, P_EDITCFR, red);
    rt::SetCtrlVal(panel, P_EDITCFG, green);
    rt::SetCtrlVal(panel, P_EDITCFB, blue);
}

QByteArray statusLine() {
    return ctrlText(panel, P_DISPSTATUS);
}

unsigned short boxValue(int control) {
    unsigned short v = 0;
    rt::GetCtrlVal(panel, control, &v);
    return v;
}

bool commandsLive() {
    for (int c : {P_BUTTONSENDPOWER, P_BUTTONSENDCF, P_BUTTONGETCF, P_BUTTONGO, P_BUTTONCALCCF,
                  P_BUTTONFINISHCALIB, P_BUTTONAUTOPOWER, P_BUTTONCALIBRATE})
        if (!live(panel, c))
            return false;
    return busy == 0 && live(interfacepanel, INTERFACEP_BUTTONTRYTOCONNECT) &&
           live(interfacepanel, INTERFACEP_BUTTONDISCARD);
}

bool rowSelected(const char *variable, const QByteArray &tag) {
    bool anyChosen = false, chosen = false;
    for (const QByteArray &item : qgetenv(variable).split(',')) {
        const bool out = item.startsWith('-');
        const QByteArray rows = out ? item.mid(1) : item;
        const bool match = !rows.isEmpty() && (tag == rows || tag.startsWith(rows + '/'));
        if (out && match)
            return false;
        anyChosen |= !out && !rows.isEmpty();
        chosen |= !out && match;
    }
    return chosen || !anyChosen;
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

// The panels against the program: every control the program addresses is in the resource file
// with the ID, kind and callback the program expects, a right click on it shows its help, the
// panels are laid out cleanly, and a reading reaches the indicators.
#include "app/handlers.h"
#include "link/connectpanel.h"
#include "logo/logo.h"
#include "platform/testing.h"
#include "shell/controls.h"
#include "shell/refresh.h"
#include "shell/state.h"
#include "tests/support/support.h"
#include "trend/trend.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QWidget>

using namespace qv;

namespace {

struct Control {
    int resource;
    int id;
    const char *name;
    const char *kind;
    const char *callback; // "" = none
    const char *help;     // what a right click shows; null: nothing
};

#define ROW(resource, id, kind, callback, help)                                                    \
    { resource, id, #id, kind, callback, help }
#define PLAIN(resource, id, kind) ROW(resource, id, kind, "", nullptr)
constexpr int M = 2, C = 1, T = kTrendPanel;
constexpr const char *NI = "numeric_indicator", *TI = "text_indicator", *CB = "command_button";
// clang-format off
const Control kControls[] = {
    PLAIN(M, P_COMPORT, NI), PLAIN(M, P_IPADRESS, TI), PLAIN(M, P_LOGO, "picture"),
    PLAIN(M, P_BANNER, "decoration"), PLAIN(M, P_DELTARAW, NI), PLAIN(M, P_DELTACALIB, NI),
    PLAIN(M, P_DATARAWR_A, NI), PLAIN(M, P_DATARAWG_A, NI), PLAIN(M, P_DATARAWB_A, NI),
    PLAIN(M, P_DATAR_A, NI), PLAIN(M, P_DATAG_A, NI), PLAIN(M, P_DATAB_A, NI),
    ROW(M, P_BUTTONSENDPOWER, CB, "CBF_ButtonSendPower", InfoButtonSendPower),
    ROW(M, P_BUTTONSENDCF, CB, "CBF_ButtonSendCF", InfoButtonSendCF),
    ROW(M, P_BUTTONGETCF, CB, "CBF_ButtonGetCF", InfoButtonGetCF),
    ROW(M, P_BUTTONGO, CB, "CBF_ButtonGo", InfoButtonGo),
    ROW(M, P_BUTTONCALCCF, CB, "CBF_ButtonCalcCF", InfoButtonCalcCF),
    ROW(M, P_BUTTONFINISHCALIB, CB, "CBF_ButtonFinishCalib", InfoButtonFinishCalib),
    ROW(M, P_BUTTONSTOP, CB, "CBF_ButtonStop", InfoButtonStop),
    ROW(M, P_BUTTONCONNECT, CB, "CBF_ButtonConnect", InfoButtonConnect),
    ROW(M, P_BUTTONTREND, CB, "CBF_ButtonTrend", InfoButtonTrend),
    ROW(M, P_DATARAWR_B, "numeric_bar", "CBF_DispBarsRAW", InfoDispBarsRAW),
    ROW(M, P_DATARAWG_B, "numeric_bar", "CBF_DispBarsRAW", InfoDispBarsRAW),
    ROW(M, P_DATARAWB_B, "numeric_bar", "CBF_DispBarsRAW", InfoDispBarsRAW),
    ROW(M, P_DATAR_B, "numeric_bar", "CBF_DispBars", InfoDispBars),
    ROW(M, P_DATAG_B, "numeric_bar", "CBF_DispBars", InfoDispBars),
    ROW(M, P_DATAB_B, "numeric_bar", "CBF_DispBars", InfoDispBars),
    ROW(M, P_DISPSTATUS, TI, "CBF_DispStatus", InfoStatus),
    ROW(M, P_EDITPOWER, "numeric", "CBF_EditPower", InfoEditPower),
    ROW(M, P_EDITMAXDELTA, "numeric", "CBF_EditMaxDelta", InfoEditMaxDelta),
    ROW(M, P_EDITSETVALUE, "numeric", "CBF_EditSetValue", InfoEditSetValue),
    ROW(M, P_EDITCFR, "numeric", "CBF_EditCFR", InfoEditCF),
    ROW(M, P_EDITCFG, "numeric", "CBF_EditCFG", InfoEditCF),
    ROW(M, P_EDITCFB, "numeric", "CBF_EditCFB", InfoEditCF),
    ROW(C, INTERFACEP_EDITCOMMUNICATIONPROTOCOL, "ring", "CBF_EditCommunicationProtocol",
        InfoEditCommunicationProtocol),
    ROW(C, INTERFACEP_BUTTONTRYTOCONNECT, CB, "CBF_ButtonTryToConnect", InfoButtonTryToConnect),
    ROW(C, INTERFACEP_BUTTONACCEPT, CB, "CBF_ButtonAccept", InfoButtonAccept),
    ROW(C, INTERFACEP_BUTTONDISCARD, CB, "CBF_ButtonDiscard", InfoButtonDiscard),
    ROW(C, INTERFACEP_EDITSELECTCOMPORT, "numeric", "CBF_EditSelectComPort", InfoEditConnect),
    ROW(C, INTERFACEP_STRINGPORTNUMBER, "string", "CBF_StringPortNumber", InfoStringPortNumber),
    ROW(C, INTERFACEP_STRINGIPADRESS, "string", "CBF_StringIpAdress", InfoStringIpAdress),
    ROW(C, INTERFACEP_COMPORTDEVICE, TI, "CBF_ComPortDevice", InfoComPortDevice),
    PLAIN(C, INTERFACEP_STATUS, TI), PLAIN(T, TRENDP_CHART, "canvas"),
    PLAIN(T, TRENDP_STATUS, TI), PLAIN(T, TRENDP_KEPT, NI),
    ROW(T, TRENDP_BUTTONPAUSE, CB, "CBF_ButtonPause", InfoButtonPause),
    ROW(T, TRENDP_BUTTONSAVECSV, CB, "CBF_ButtonSaveCsv", InfoButtonSaveCsv),
};
// clang-format on
#undef PLAIN
#undef ROW

int handleOf(int resource) {
    return resource == M ? panel : resource == C ? interfacepanel : trendpanel;
}

QJsonObject panelObject(int resource) {
    QFile f(QDir(QCoreApplication::applicationDirPath()).filePath(kResourceFile));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    for (const QJsonValue v : QJsonDocument::fromJson(f.readAll()).object()["panels"].toArray())
        if (v.toObject()["resource"].toInt() == resource)
            return v.toObject();
    return {};
}

QString picture(const char *name) {
    const QString dir = QCoreApplication::applicationDirPath() + "/screenshots";
    QDir().mkpath(dir);
    return dir + "/" + name;
}

} // namespace

class PanelsTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { qvtest::loadPanels(); }

    // Controls the program does not name are scenery: they carry no callback. The starting
    // values are TCP/IP to the simulator's default port, COM 1 and factors of 1024; an address
    // holds at most the 99 characters of a history record.
    void resourceFileMatchesTheProgram() {
        // clang-format off
        const QMap<QString, QString> starts = {
            {"INTERFACEP_EDITCOMMUNICATIONPROTOCOL", "1"}, {"INTERFACEP_EDITSELECTCOMPORT", "1"},
            {"INTERFACEP_STRINGIPADRESS", "127.0.0.1"}, {"INTERFACEP_STRINGPORTNUMBER", "10001"},
            {"P_EDITCFR", "1024"}, {"P_EDITCFG", "1024"}, {"P_EDITCFB", "1024"}};
        // clang-format on
        const std::tuple<int, const char *, const char *> panels[] = {
            {M, "CBF_P", "QUORVAT V6.0"},
            {C, "CBF_INTERFACEP", nullptr},
            {T, "CBF_TRENDP", "QUORVAT V6.0 - TREND"}};
        for (const auto &[resource, callback, title] : panels) {
            const QJsonObject p = panelObject(resource);
            QCOMPARE(p["callback"].toString(), QString(callback));
            if (title)
                QCOMPARE(p["title"].toString(), QString(title));
            QMap<QString, QJsonObject> byName;
            for (const QJsonValue v : p["controls"].toArray())
                byName[v.toObject()["name"].toString()] = v.toObject();
            for (const Control &e : kControls) {
                if (e.resource != resource)
                    continue;
                QVERIFY2(byName.contains(e.name), e.name);
                const QJsonObject c = byName.take(e.name);
                QCOMPARE(c["id"].toInt(), e.id);
                QCOMPARE(c["kind"].toString(), QString(e.kind));
                QCOMPARE(c["callback"].toString(), QString(e.callback));
                if (starts.contains(e.name))
                    QCOMPARE(c["value"].toVariant().toString(), starts[e.name]);
            }
            for (const QJsonObject &c : byName)
                QVERIFY2(c["callback"].toString().isEmpty(), qPrintable(c["name"].toString()));
        }
        QCOMPARE(qvtest::attr(interfacepanel, INTERFACEP_STRINGIPADRESS, rt::ATTR_MAX_ENTRY_LENGTH),
                 99);
    }

    // A right click on a control with a handler shows its help in a box titled "INFO!", and
    // does nothing else; other controls, and a left click on an edit box, show nothing. The
    // address field is a combo box, as after start-up: its right click reaches the field's
    // handler once.
    void rightClickShowsTheHelp() {
        InitIpAdressComboBox();
        rt::DisplayPanel(interfacepanel);
        rt::DisplayPanel(trendpanel);
        // Dimmed and hidden controls take no clicks: the accept button starts dimmed, the
        // device line shows with RS-232 only.
        rt::SetCtrlAttribute(interfacepanel, INTERFACEP_BUTTONACCEPT, rt::ATTR_DIMMED, 0);
        rt::SetCtrlAttribute(interfacepanel, INTERFACEP_COMPORTDEVICE, rt::ATTR_VISIBLE, 1);
        for (const Control &c : kControls) {
            qvtest::PopupRecorder popups;
            qvtest::rightClick(handleOf(c.resource), c.id);
            qvtest::waitFor([&] { return popups.count() > 0; }, c.help ? 2000 : 20);
            qvtest::pump(20);
            QVERIFY2(popups.count() == (c.help ? 1u : 0u), c.name);
            if (!c.help)
                continue;
            QCOMPARE(popups.last().kind, rt::PopupKind::Message);
            QCOMPARE(QByteArray(popups.last().title.c_str()), QByteArray("INFO!"));
            QCOMPARE(QByteArray(popups.last().text.c_str()), QByteArray(c.help));
        }
        qvtest::PopupRecorder popups;
        qvtest::click(panel, P_EDITPOWER);
        qvtest::pump(50);
        QCOMPARE(popups.count(), std::size_t(0));
        qvtest::loadPanels();
    }

    // Every control inside its panel, and no two input controls or captions on top of each
    // other: a layout slip shows up here before anyone looks at a picture.
    void layoutIsClean() {
        ShowLogo(5);
        for (int handle : {panel, interfacepanel, trendpanel}) {
            QWidget *window = rt::testing::PanelWidget(handle);
            QList<QWidget *> solid;
            for (QWidget *w : window->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
                if (!w->isVisibleTo(window))
                    continue;
                QVERIFY2(window->rect().contains(w->geometry()), w->metaObject()->className());
                const QVariant id = w->property("qv_ctrl");
                const int style =
                    id.isValid() ? qvtest::attr(handle, id.toInt(), rt::ATTR_CTRL_STYLE) : 0;
                if (style != rt::CTRL_DECORATION && style != rt::CTRL_TEXT_MSG &&
                    style != rt::CTRL_PICTURE)
                    solid << w;
            }
            for (int i = 0; i < solid.size(); ++i)
                for (int j = i + 1; j < solid.size(); ++j)
                    QVERIFY2(
                        !solid[i]->geometry().intersects(solid[j]->geometry()),
                        qPrintable(
                            QString("overlap at %1,%2").arg(solid[i]->x()).arg(solid[i]->y())));
        }
        QVERIFY(qvtest::grabPanel(panel, picture("main-panel.png")));
        rt::DisplayPanel(interfacepanel);
        QVERIFY(qvtest::grabPanel(interfacepanel, picture("connection-panel.png")));
        rt::HidePanel(interfacepanel);
    }

    // A decoded reading reaches the fourteen indicators, values beyond the bars' scale shown
    // unscaled; each spread is the largest minus the smallest channel.
    void readingsReachTheIndicators() {
        u16 *const values[6] = {&dataR, &dataG, &dataB, &dataRawR, &dataRawG, &dataRawB};
        const int shows[6][2] = {{P_DATAR_A, P_DATAR_B},       {P_DATAG_A, P_DATAG_B},
                                 {P_DATAB_A, P_DATAB_B},       {P_DATARAWR_A, P_DATARAWR_B},
                                 {P_DATARAWG_A, P_DATARAWG_B}, {P_DATARAWB_A, P_DATARAWB_B}};
        const struct {
            u16 v[6]; // calibrated, then raw
            int spreadCal, spreadRaw;
        } rows[] = {
            {{1001, 1002, 1003, 2001, 2002, 2503}, 2, 502},
            {{100, 200, 150, 1000, 1000, 1000}, 100, 0}, // middle value last; all equal
            {{0, 65535, 7, 300, 300, 20}, 65535, 280},   // full range; two largest equal
            {{20, 300, 20, 5, 9, 60000}, 280, 59995},    // two smallest equal; blue largest
            {{65535, 0, 0, 0, 0, 65535}, 65535, 65535},
        };
        const auto shown = [](int control) {
            int v = -1;
            rt::GetCtrlVal(panel, control, &v);
            return v;
        };
        for (const auto &r : rows) {
            for (int i = 0; i < 6; ++i)
                *values[i] = r.v[i];
            SetPanelData();
            for (int i = 0; i < 6; ++i)
                for (int control : shows[i])
                    QCOMPARE(shown(control), int(r.v[i]));
            QCOMPARE(shown(P_DELTACALIB), r.spreadCal);
            QCOMPARE(shown(P_DELTARAW), r.spreadRaw);
        }
    }
};

QTEST_MAIN(PanelsTest)
#include "test_panels.moc"

// The resource file against the program: every control the program addresses is there with the
// ID, kind and callback the program expects, and both panels are laid out cleanly.
#include "app/startup.h"
#include "link/connectpanel.h"
#include "logo/logo.h"
#include "platform/testing.h"
#include "shell/buttons.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "tests/support/support.h"
#include "trend/trend.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QWidget>

using namespace qv;

namespace {

struct Expected {
    int id;
    const char *name;
    const char *kind;
    const char *callback; // "" = none
};

const Expected kMain[] = {
    {P_COMPORT, "P_COMPORT", "numeric_indicator", ""},
    {P_IPADRESS, "P_IPADRESS", "text_indicator", ""},
    {P_BUTTONSENDPOWER, "P_BUTTONSENDPOWER", "command_button", "CBF_ButtonSendPower"},
    {P_BUTTONSENDCF, "P_BUTTONSENDCF", "command_button", "CBF_ButtonSendCF"},
    {P_BUTTONGETCF, "P_BUTTONGETCF", "command_button", "CBF_ButtonGetCF"},
    {P_BUTTONGO, "P_BUTTONGO", "command_button", "CBF_ButtonGo"},
    {P_LOGO, "P_LOGO", "picture", ""},
    {P_BANNER, "P_BANNER", "decoration", ""},
    {P_DATARAWB_A, "P_DATARAWB_A", "numeric_indicator", ""},
    {P_DATARAWB_B, "P_DATARAWB_B", "numeric_bar", "CBF_DispBarsRAW"},
    {P_DATAB_A, "P_DATAB_A", "numeric_indicator", ""},
    {P_DATAB_B, "P_DATAB_B", "numeric_bar", "CBF_DispBars"},
    {P_DATARAWG_A, "P_DATARAWG_A", "numeric_indicator", ""},
    {P_DATARAWG_B, "P_DATARAWG_B", "numeric_bar", "CBF_DispBarsRAW"},
    {P_DATARAWR_A, "P_DATARAWR_A", "numeric_indicator", ""},
    {P_DATARAWR_B, "P_DATARAWR_B", "numeric_bar", "CBF_DispBarsRAW"},
    {P_DATAG_A, "P_DATAG_A", "numeric_indicator", ""},
    {P_DATAG_B, "P_DATAG_B", "numeric_bar", "CBF_DispBars"},
    {P_DATAR_A, "P_DATAR_A", "numeric_indicator", ""},
    {P_DATAR_B, "P_DATAR_B", "numeric_bar", "CBF_DispBars"},
    {P_BUTTONCALCCF, "P_BUTTONCALCCF", "command_button", "CBF_ButtonCalcCF"},
    {P_BUTTONFINISHCALIB, "P_BUTTONFINISHCALIB", "command_button", "CBF_ButtonFinishCalib"},
    {P_DISPSTATUS, "P_DISPSTATUS", "text_indicator", "CBF_DispStatus"},
    {P_EDITPOWER, "P_EDITPOWER", "numeric", "CBF_EditPower"},
    {P_EDITMAXDELTA, "P_EDITMAXDELTA", "numeric", "CBF_EditMaxDelta"},
    {P_EDITSETVALUE, "P_EDITSETVALUE", "numeric", "CBF_EditSetValue"},
    {P_EDITCFR, "P_EDITCFR", "numeric", "CBF_EditCFR"},
    {P_EDITCFG, "P_EDITCFG", "numeric", "CBF_EditCFG"},
    {P_EDITCFB, "P_EDITCFB", "numeric", "CBF_EditCFB"},
    {P_DELTARAW, "P_DELTARAW", "numeric_indicator", ""},
    {P_DELTACALIB, "P_DELTACALIB", "numeric_indicator", ""},
    {P_BUTTONSTOP, "P_BUTTONSTOP", "command_button", "CBF_ButtonStop"},
    {P_BUTTONCONNECT, "P_BUTTONCONNECT", "command_button", "CBF_ButtonConnect"},
    {P_BUTTONTREND, "P_BUTTONTREND", "command_button", "CBF_ButtonTrend"},
};

const Expected kConnection[] = {
    {INTERFACEP_EDITCOMMUNICATIONPROTOCOL, "INTERFACEP_EDITCOMMUNICATIONPROTOCOL", "ring",
     "CBF_EditCommunicationProtocol"},
    {INTERFACEP_BUTTONTRYTOCONNECT, "INTERFACEP_BUTTONTRYTOCONNECT", "command_button",
     "CBF_ButtonTryToConnect"},
    {INTERFACEP_BUTTONACCEPT, "INTERFACEP_BUTTONACCEPT", "command_button", "CBF_ButtonAccept"},
    {INTERFACEP_EDITSELECTCOMPORT, "INTERFACEP_EDITSELECTCOMPORT", "numeric",
     "CBF_EditSelectComPort"},
    {INTERFACEP_STATUS, "INTERFACEP_STATUS", "text_indicator", ""},
    {INTERFACEP_STRINGPORTNUMBER, "INTERFACEP_STRINGPORTNUMBER", "string", "CBF_StringPortNumber"},
    {INTERFACEP_STRINGIPADRESS, "INTERFACEP_STRINGIPADRESS", "string", "CBF_StringIpAdress"},
    {INTERFACEP_BUTTONDISCARD, "INTERFACEP_BUTTONDISCARD", "command_button", "CBF_ButtonDiscard"},
    {INTERFACEP_COMPORTDEVICE, "INTERFACEP_COMPORTDEVICE", "text_indicator", "CBF_ComPortDevice"},
};

const Expected kTrend[] = {
    {TRENDP_CHART, "TRENDP_CHART", "canvas", ""},
    {TRENDP_BUTTONPAUSE, "TRENDP_BUTTONPAUSE", "command_button", "CBF_ButtonPause"},
    {TRENDP_BUTTONSAVECSV, "TRENDP_BUTTONSAVECSV", "command_button", "CBF_ButtonSaveCsv"},
    {TRENDP_STATUS, "TRENDP_STATUS", "text_indicator", ""},
    {TRENDP_KEPT, "TRENDP_KEPT", "numeric_indicator", ""},
};

QJsonObject panelObject(int resource) {
    QFile f(QDir(QCoreApplication::applicationDirPath()).filePath(kResourceFile));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    for (const QJsonValue v : QJsonDocument::fromJson(f.readAll()).object()["panels"].toArray())
        if (v.toObject()["resource"].toInt() == resource)
            return v.toObject();
    return {};
}

} // namespace

class PanelsTest : public QObject {
    Q_OBJECT

    void checkPanel(int resource, const char *callback, const Expected *begin,
                    const Expected *end) {
        const QJsonObject p = panelObject(resource);
        QVERIFY2(!p.isEmpty(), "panel missing from the resource file");
        QCOMPARE(p["callback"].toString(), QString(callback));
        QMap<QString, QJsonObject> byName;
        for (const QJsonValue v : p["controls"].toArray())
            byName[v.toObject()["name"].toString()] = v.toObject();
        for (const Expected *e = begin; e != end; ++e) {
            QVERIFY2(byName.contains(e->name), e->name);
            const QJsonObject c = byName[e->name];
            QCOMPARE(c["id"].toInt(), e->id);
            QCOMPARE(c["kind"].toString(), QString(e->kind));
            QCOMPARE(c["callback"].toString(), QString(e->callback));
        }
        // Controls the program does not name are scenery: they carry no callback.
        for (const QJsonObject &c : byName) {
            const bool named = std::any_of(
                begin, end, [&](const Expected &e) { return c["name"].toString() == e.name; });
            if (!named)
                QVERIFY2(c["callback"].toString().isEmpty(), qPrintable(c["name"].toString()));
        }
    }

  private slots:
    void initTestCase() { qvtest::loadPanels(); }

    void mainPanelMatchesTheProgram() {
        checkPanel(2, "CBF_P", std::begin(kMain), std::end(kMain));
        QCOMPARE(panelObject(2)["title"].toString(), QString("QUORVAT V6.0"));
    }

    void connectionPanelMatchesTheProgram() {
        checkPanel(1, "CBF_INTERFACEP", std::begin(kConnection), std::end(kConnection));
    }

    void trendPanelMatchesTheProgram() {
        checkPanel(kTrendPanel, "CBF_TRENDP", std::begin(kTrend), std::end(kTrend));
        QCOMPARE(panelObject(kTrendPanel)["title"].toString(), QString("QUORVAT V6.0 - TREND"));
    }

    void startingValuesAreTheDocumentedOnes() {
        int protocol = -1, com = 0;
        char address[256] = "", port[32] = "";
        rt::GetCtrlVal(interfacepanel, INTERFACEP_EDITCOMMUNICATIONPROTOCOL, &protocol);
        rt::GetCtrlVal(interfacepanel, INTERFACEP_EDITSELECTCOMPORT, &com);
        rt::GetCtrlVal(interfacepanel, INTERFACEP_STRINGIPADRESS, address);
        rt::GetCtrlVal(interfacepanel, INTERFACEP_STRINGPORTNUMBER, port);
        QCOMPARE(protocol, 1);
        QCOMPARE(com, 1);
        QCOMPARE(QByteArray(address), QByteArray("127.0.0.1"));
        QCOMPARE(QByteArray(port), QByteArray("10001"));
        int maxLength = 0;
        rt::GetCtrlAttribute(interfacepanel, INTERFACEP_STRINGIPADRESS, rt::ATTR_MAX_ENTRY_LENGTH,
                             &maxLength);
        QCOMPARE(maxLength, 99); // a history record holds 99 characters
        unsigned short cf = 0;
        for (int id : {P_EDITCFR, P_EDITCFG, P_EDITCFB}) {
            rt::GetCtrlVal(panel, id, &cf);
            QCOMPARE(cf, static_cast<unsigned short>(1024));
        }
    }

    // Every control inside its panel, and no two input controls or captions on top of each
    // other: a layout slip shows up here before anyone looks at a picture.
    void layoutIsClean() {
        ShowLogo(5);
        for (int handle : {panel, interfacepanel, trendpanel}) {
            QWidget *window = rt::testing::PanelWidget(handle);
            QVERIFY(window);
            QList<QWidget *> solid;
            for (QWidget *w : window->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
                if (!w->isVisibleTo(window))
                    continue;
                QVERIFY2(window->rect().contains(w->geometry()),
                         qPrintable(QStringLiteral("outside: ") + w->metaObject()->className()));
                const int style = w->property("qv_ctrl").isValid()
                                      ? [&] {
                                            int s = 0;
                                            rt::GetCtrlAttribute(handle,
                                                                 w->property("qv_ctrl").toInt(),
                                                                 rt::ATTR_CTRL_STYLE, &s);
                                            return s;
                                        }()
                                      : 0;
                if (style != rt::CTRL_DECORATION && style != rt::CTRL_TEXT_MSG &&
                    style != rt::CTRL_PICTURE)
                    solid << w;
            }
            for (int i = 0; i < solid.size(); ++i)
                for (int j = i + 1; j < solid.size(); ++j)
                    QVERIFY2(!solid[i]->geometry().intersects(solid[j]->geometry()),
                             qPrintable(QStringLiteral("overlap at %1,%2")
                                            .arg(solid[i]->x())
                                            .arg(solid[i]->y())));
        }
        const QString dir = QCoreApplication::applicationDirPath() + "/screenshots";
        QDir().mkpath(dir);
        QVERIFY(qvtest::grabPanel(panel, dir + "/main-panel.png"));
        rt::DisplayPanel(interfacepanel);
        QVERIFY(qvtest::grabPanel(interfacepanel, dir + "/connection-panel.png"));
        rt::HidePanel(interfacepanel);
    }

    // A dimmed command button must look different from a live one: the operator reads the
    // busy state from it.
    void dimmedButtonsLookDimmed() {
        QWidget *go = qvtest::widget(panel, P_BUTTONGO);
        const QImage live = go->grab().toImage();
        SetButtonsDimmed(1);
        const QImage dimmed = go->grab().toImage();
        QVERIFY(qvtest::grabPanel(panel, QCoreApplication::applicationDirPath() +
                                             "/screenshots/main-panel-busy.png"));
        SetButtonsDimmed(0);
        int differing = 0;
        for (int y = 0; y < live.height(); ++y)
            for (int x = 0; x < live.width(); ++x)
                differing += live.pixel(x, y) != dimmed.pixel(x, y);
        QVERIFY2(differing > 20, qPrintable(QString::number(differing)));
    }
};

QTEST_MAIN(PanelsTest)
#include "test_panels.moc"

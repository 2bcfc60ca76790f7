// A right click on any control with a handler shows its help text, word for word, in a box
// titled "INFO!", and does nothing else.
#include "link/connectpanel.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "tests/support/support.h"
#include "trend/trend.h"

#include <QTest>

using namespace qv;

namespace {
struct Help {
    const int *panelHandle;
    int control;
    const char *text;
};

const Help kHelp[] = {
    {&panel, P_BUTTONSENDPOWER, " Send POWER value to sensor."},
    {&panel, P_BUTTONSENDCF,
     " Calibration factors for RED,GREEN and BLUE will be send to the EEPROM of the sensor."},
    {&panel, P_BUTTONGETCF,
     " Calibration factors for RED,GREEN and BLUE will be read from the sensor."},
    {&panel, P_BUTTONGO,
     " Starts data transfer of RAW DATAS and CALIBRATED DATAS from sensor to PC. \n The data are "
     "shown in the displays and in the color bars."},
    {&panel, P_BUTTONSTOP, " Stops data transfer from sensor to PC."},
    {&panel, P_BUTTONCALCCF, " Calculate the calibration factors for RED, GREEN and BLUE. "},
    {&panel, P_BUTTONFINISHCALIB,
     " Finish calibration. \n ATTENTION! \n Default parameters will be send to the EEPROM of the "
     "sensor. \n Calibration factors for RED,GREEN and BLUE will be send to the EEPROM of the "
     "sensor. "},
    {&panel, P_EDITPOWER,
     " EDIT BOX POWER: \n Select the intensity of the transmitter LED. \n 0 = no intensity,  "
     "1000 = full intensity."},
    {&panel, P_EDITCFR, " Edit Box for the calibration factor. "},
    {&panel, P_EDITCFG, " Edit Box for the calibration factor. "},
    {&panel, P_EDITCFB, " Edit Box for the calibration factor. "},
    {&panel, P_EDITSETVALUE, " If PMOD=STAT. \n Choose the setvalue for RED,GREEN and BLUE. "},
    {&panel, P_EDITMAXDELTA, " Choose the maximum DELTA value of RED,GREEN and BLUE. "},
    {&panel, P_DATARAWR_B, " Displays the RAW values of RED, GREEN and BLUE."},
    {&panel, P_DATARAWG_B, " Displays the RAW values of RED, GREEN and BLUE."},
    {&panel, P_DATARAWB_B, " Displays the RAW values of RED, GREEN and BLUE."},
    {&panel, P_DATAR_B,
     " Displays the calibrated values of RED, GREEN and BLUE. \n Formula: CALIBRATED DATA = "
     "(RAW DATA * CF) / 1000 "},
    {&panel, P_DATAG_B,
     " Displays the calibrated values of RED, GREEN and BLUE. \n Formula: CALIBRATED DATA = "
     "(RAW DATA * CF) / 1000 "},
    {&panel, P_DATAB_B,
     " Displays the calibrated values of RED, GREEN and BLUE. \n Formula: CALIBRATED DATA = "
     "(RAW DATA * CF) / 1000 "},
    {&panel, P_DISPSTATUS, " Displays serial interface status messages."},
    {&panel, P_BUTTONCONNECT, " Open a panel to select an interface protocol."},
    {&interfacepanel, INTERFACEP_EDITCOMMUNICATIONPROTOCOL, " Select RS232 or TCP/IP Interface. "},
    {&interfacepanel, INTERFACEP_EDITSELECTCOMPORT, " Select a serial COM-PORT."},
    {&interfacepanel, INTERFACEP_STRINGIPADRESS, " Select an IP adress."},
    {&interfacepanel, INTERFACEP_STRINGPORTNUMBER, " Select a port number."},
    {&interfacepanel, INTERFACEP_BUTTONTRYTOCONNECT, " Try to connect sensor."},
    {&interfacepanel, INTERFACEP_BUTTONACCEPT, " Accept settings and return to main panel."},
    {&interfacepanel, INTERFACEP_BUTTONDISCARD, " Return to main panel with old settings."},
    {&interfacepanel, INTERFACEP_COMPORTDEVICE,
     " Displays the serial device of the selected COM-PORT."},
    {&panel, P_BUTTONTREND,
     " Opens the TREND window: RAW DATAS and CALIBRATED DATAS of the last 60 seconds. \n Solid "
     "lines: RAW DATAS, dashed lines: CALIBRATED DATAS. \n The readings of the last 10 minutes are "
     "kept, also while the window is closed."},
    {&trendpanel, TRENDP_BUTTONPAUSE,
     " Freezes the picture of the TREND window. \n The readings are still kept. \n Press PAUSE "
     "again to go on."},
    {&trendpanel, TRENDP_BUTTONSAVECSV,
     " Saves the kept readings to a CSV file: \n seconds since the first reading, RAW DATAS, "
     "CALIBRATED DATAS, DELTA of both. \n At most the last 10 minutes are kept."},
};
} // namespace

class HelpTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        qvtest::loadPanels();
        rt::DisplayPanel(interfacepanel);
        rt::DisplayPanel(trendpanel);
        // The accept button starts dimmed, and a dimmed control takes no clicks.
        rt::SetCtrlAttribute(interfacepanel, INTERFACEP_BUTTONACCEPT, rt::ATTR_DIMMED, 0);
        // Shown with RS-232 only; the panel starts with TCP/IP.
        rt::SetCtrlAttribute(interfacepanel, INTERFACEP_COMPORTDEVICE, rt::ATTR_VISIBLE, 1);
    }

    void rightClickShowsTheHelpTextVerbatim() {
        for (const Help &h : kHelp) {
            qvtest::PopupRecorder popups;
            const int handle = *h.panelHandle;
            qvtest::rightClick(handle, h.control);
            QVERIFY2(qvtest::waitFor([&] { return popups.count() > 0; }, 2000),
                     qPrintable(QString("no help for control %1").arg(h.control)));
            qvtest::pump(20);
            QCOMPARE(popups.count(), std::size_t(1));
            QCOMPARE(popups.last().kind, rt::PopupKind::Message);
            QCOMPARE(QByteArray(popups.last().title.c_str()), QByteArray("INFO!"));
            QCOMPARE(QByteArray(popups.last().text.c_str()), QByteArray(h.text));
        }
    }

    // Controls without a handler, and a plain left click on an edit box, show nothing.
    void otherClicksShowNothing() {
        qvtest::PopupRecorder popups;
        qvtest::rightClick(panel, P_DATAR_A);
        qvtest::rightClick(panel, P_DELTARAW);
        qvtest::click(panel, P_EDITPOWER);
        qvtest::pump(50);
        QCOMPARE(popups.count(), std::size_t(0));
    }
};

QTEST_MAIN(HelpTest)
#include "test_help.moc"

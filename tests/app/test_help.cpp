// A right click on any control with a handler shows its help text, word for word, in a box
// titled "INFO!", and does nothing else.
#include "app/controls.h"
#include "app/state.h"
#include "link/connectpanel.h"
#include "tests/support/support.h"

#include <QTest>

using namespace qv;

namespace {
struct Help {
    bool mainPanel;
    int control;
    const char *text;
};

const Help kHelp[] = {
    {true, P_BUTTONSENDPOWER, " Send POWER value to sensor."},
    {true, P_BUTTONSENDCF,
     " Calibration factors for RED,GREEN and BLUE will be send to the EEPROM of the sensor."},
    {true, P_BUTTONGETCF,
     " Calibration factors for RED,GREEN and BLUE will be read from the sensor."},
    {true, P_BUTTONGO,
     " Starts data transfer of RAW DATAS and CALIBRATED DATAS from sensor to PC. \n The data are "
     "shown in the displays and in the color bars."},
    {true, P_BUTTONSTOP, " Stops data transfer from sensor to PC."},
    {true, P_BUTTONCALCCF, " Calculate the calibration factors for RED, GREEN and BLUE. "},
    {true, P_BUTTONFINISHCALIB,
     " Finish calibration. \n ATTENTION! \n Default parameters will be send to the EEPROM of the "
     "sensor. \n Calibration factors for RED,GREEN and BLUE will be send to the EEPROM of the "
     "sensor. "},
    {true, P_EDITPOWER,
     " EDIT BOX POWER: \n Select the intensity of the transmitter LED. \n 0 = no intensity,  "
     "1000 = full intensity."},
    {true, P_EDITCFR, " Edit Box for the calibration factor. "},
    {true, P_EDITCFG, " Edit Box for the calibration factor. "},
    {true, P_EDITCFB, " Edit Box for the calibration factor. "},
    {true, P_EDITSETVALUE, " If PMOD=STAT. \n Choose the setvalue for RED,GREEN and BLUE. "},
    {true, P_EDITMAXDELTA, " Choose the maximum DELTA value of RED,GREEN and BLUE. "},
    {true, P_DATARAWR_B, " Displays the RAW values of RED, GREEN and BLUE."},
    {true, P_DATARAWG_B, " Displays the RAW values of RED, GREEN and BLUE."},
    {true, P_DATARAWB_B, " Displays the RAW values of RED, GREEN and BLUE."},
    {true, P_DATAR_B,
     " Displays the calibrated values of RED, GREEN and BLUE. \n Formula: CALIBRATED DATA = "
     "(RAW DATA * CF) / 1000 "},
    {true, P_DATAG_B,
     " Displays the calibrated values of RED, GREEN and BLUE. \n Formula: CALIBRATED DATA = "
     "(RAW DATA * CF) / 1000 "},
    {true, P_DATAB_B,
     " Displays the calibrated values of RED, GREEN and BLUE. \n Formula: CALIBRATED DATA = "
     "(RAW DATA * CF) / 1000 "},
    {true, P_DISPSTATUS, " Displays serial interface status messages."},
    {true, P_BUTTONCONNECT, " Open a panel to select an interface protocol."},
    {false, INTERFACEP_EDITCOMMUNICATIONPROTOCOL, " Select RS232 or TCP/IP Interface. "},
    {false, INTERFACEP_EDITSELECTCOMPORT, " Select a serial COM-PORT."},
    {false, INTERFACEP_STRINGIPADRESS, " Select an IP adress."},
    {false, INTERFACEP_STRINGPORTNUMBER, " Select a port number."},
    {false, INTERFACEP_BUTTONTRYTOCONNECT, " Try to connect sensor."},
    {false, INTERFACEP_BUTTONACCEPT, " Accept settings and return to main panel."},
    {false, INTERFACEP_BUTTONDISCARD, " Return to main panel with old settings."},
    {false, INTERFACEP_COMPORTDEVICE, " Displays the serial device of the selected COM-PORT."},
};
} // namespace

class HelpTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        qvtest::loadPanels();
        rt::DisplayPanel(interfacepanel);
        // The accept button starts dimmed, and a dimmed control takes no clicks.
        rt::SetCtrlAttribute(interfacepanel, INTERFACEP_BUTTONACCEPT, rt::ATTR_DIMMED, 0);
        // Shown with RS-232 only; the panel starts with TCP/IP.
        rt::SetCtrlAttribute(interfacepanel, INTERFACEP_COMPORTDEVICE, rt::ATTR_VISIBLE, 1);
    }

    void rightClickShowsTheHelpTextVerbatim() {
        for (const Help &h : kHelp) {
            qvtest::PopupRecorder popups;
            const int handle = h.mainPanel ? panel : interfacepanel;
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

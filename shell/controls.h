// Control IDs of the main panel (resource 2 of the resource file) and of the connection panel
// (resource 1). The resource file binds them; a test checks that it carries exactly these IDs,
// kinds and callbacks.
#pragma once

namespace qv {

constexpr int P_BUTTONSTOP = 2;
constexpr int P_BUTTONCONNECT = 3;
constexpr int P_COMPORT = 6;
constexpr int P_IPADRESS = 9;
constexpr int P_BUTTONSENDPOWER = 10;
constexpr int P_LOGO = 11;
constexpr int P_BANNER = 12;
constexpr int P_DATARAWB_A = 14;
constexpr int P_DATAB_A = 15;
constexpr int P_DATARAWG_A = 17;
constexpr int P_BUTTONSENDCF = 18;
constexpr int P_DATARAWR_A = 19;
constexpr int P_DATAG_A = 20;
constexpr int P_BUTTONCALCCF = 21;
constexpr int P_BUTTONFINISHCALIB = 22;
constexpr int P_DISPSTATUS = 23;
constexpr int P_BUTTONGETCF = 24;
constexpr int P_BUTTONGO = 25;
constexpr int P_DATAR_A = 26;
constexpr int P_EDITPOWER = 27;
constexpr int P_EDITMAXDELTA = 28;
constexpr int P_EDITSETVALUE = 29;
constexpr int P_EDITCFR = 30;
constexpr int P_EDITCFG = 31;
constexpr int P_EDITCFB = 32;
constexpr int P_DELTARAW = 33;
constexpr int P_DATARAWB_B = 34;
constexpr int P_DATARAWG_B = 35;
constexpr int P_DELTACALIB = 36;
constexpr int P_DATARAWR_B = 37;
constexpr int P_DATAB_B = 38;
constexpr int P_DATAG_B = 39;
constexpr int P_DATAR_B = 40;
constexpr int P_GROUPRAW = 41;      // the frame around the raw readings
constexpr int P_GROUPCOMMANDS = 47; // the frame around the command buttons
constexpr int P_BUTTONTREND = 49;
constexpr int P_BUTTONAUTOPOWER = 50;
constexpr int P_BUTTONCALIBRATE = 51; // CALIBRATE SENSOR: the whole sequence for one sensor
constexpr int P_STRINGOPERATOR = 52;
constexpr int P_STRINGSERIAL = 53;    // SENSOR SERIAL, typed or scanned
constexpr int P_STRINGREFERENCE = 54; // WHITE REFERENCE: the white tile's ID
constexpr int P_DISPRESULT = 55;      // the last sequence's PASS or FAIL
constexpr int P_GROUPSENSOR = 56;     // the frame around the station's fields and the result

constexpr int INTERFACEP_EDITCOMMUNICATIONPROTOCOL = 2;
constexpr int INTERFACEP_BUTTONTRYTOCONNECT = 3;
constexpr int INTERFACEP_BUTTONDISCARD = 4;
constexpr int INTERFACEP_BUTTONACCEPT = 5;
constexpr int INTERFACEP_EDITSELECTCOMPORT = 6;
constexpr int INTERFACEP_STATUS = 7;
constexpr int INTERFACEP_STRINGPORTNUMBER = 8;
constexpr int INTERFACEP_STRINGIPADRESS = 9;
constexpr int INTERFACEP_COMPORTDEVICE = 11; // the device the COM port number means

// Colours of the command buttons (0xRRGGBB).
constexpr int kColorRed = 0xFF0000;
constexpr int kColorLightGrey = 0xE0E0E0;
// Text that says good or bad (a raw reading in its window or not, PASS or FAIL): darker than
// pure green and red, so that they read well on the displays' white.
constexpr int kColorGood = 0x1A8A2A;
constexpr int kColorBad = 0xD01818;

} // namespace qv

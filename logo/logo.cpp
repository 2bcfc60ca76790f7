#include "logo/logo.h"

#include "platform/userint.h"
#include "shell/controls.h"
#include "shell/state.h"

namespace qv {

using namespace rt;

namespace {

constexpr const char *kTitle = "QUORVAT V6.0";

struct TextLine {
    const char *text;
    int left, top, size;
};

struct Branding {
    int bannerColor;
    int logoLeft, logoTop;
    const char *bitmap; // nullptr: the title alone
    int style;          // 1 to 4: ShowInfoText1 to ShowInfoText4
    TextLine title;     // its text is always kTitle
    TextLine lines[3];  // supplier lines in creation order; unused ones have no text
};

// The supplier names, numbers and addresses are invented; the numbers lie in a range kept free
// for fiction and the web address under example.com.
const Branding kBrandings[12] = {
    {0xFFFFFF, 640, 5, nullptr, 2, {kTitle, 180, 20, 22}, {}},
    {0xFFFFFF,
     485,
     5,
     "brand01.png",
     1,
     {kTitle, 220, 20, 18},
     {{"Brightline Optics", 15, 13, 14}, {"Tel. 01632 960101", 15, 32, 14}}},
    {0xFFFFFF,
     540,
     5,
     "brand02.png",
     2,
     {kTitle, 220, 20, 22},
     {{"99999 Sampletown", 15, 21, 14},
      {"Tel. 01632 960202", 15, 37, 14},
      {"Nordlicht Optik", 15, 5, 14}}},
    {0xFFFFFF, 415, 6, "brand03.png", 1, {kTitle, 20, 16, 25}, {}},
    {0xFFFFFF, 475, 6, "brand04.png", 1, {kTitle, 20, 16, 25}, {}},
    {0x0080FF,
     168,
     6,
     "brand05.png",
     4,
     {kTitle, 218, 30, 18},
     {{"Quorvat Sensorik", 15, 5, 12},
      {"Tel. 01632 960555", 15, 20, 12},
      {"www.example.com", 15, 35, 12}}},
    {0xFFFFFF,
     445,
     6,
     "brand06.png",
     2,
     {kTitle, 220, 30, 20},
     {{"1 Example Road, Sampleton", 15, 20, 10},
      {"Tel. 01632 960606", 15, 35, 10},
      {"Keystone Colour Ltd", 15, 5, 10}}},
    {0xFFFFFF,
     495,
     5,
     "brand07.png",
     1,
     {kTitle, 230, 20, 20},
     {{"Farbwerk Instruments", 15, 13, 14}, {"Tel. 01632 960707", 15, 32, 14}}},
    {0xFFFFFF,
     435,
     5,
     "brand08.png",
     1,
     {kTitle, 180, 20, 18},
     {{"Chromatic Labs", 15, 13, 14}, {"01632 960808", 15, 32, 14}}},
    {0x1E2A3C, 5, 2, "brand09.png", 3, {kTitle, 200, 20, 18}, {}},
    {0xFFFFFF, 480, 6, "brand10.png", 1, {kTitle, 20, 18, 22}, {}},
    {0xFFFFFF, 480, 6, "brand11.png", 1, {kTitle, 20, 18, 22}, {}},
};

void showInfoText(const char *text, int left, int top, int pointSize, int background, int color) {
    const int control = NewCtrl(panel, CTRL_TEXT_MSG, "", top, left);
    SetCtrlAttribute(panel, control, ATTR_TEXT_FONT, "AppFont");
    SetCtrlAttribute(panel, control, ATTR_TEXT_BGCOLOR, background);
    SetCtrlAttribute(panel, control, ATTR_TEXT_COLOR, color);
    SetCtrlAttribute(panel, control, ATTR_TEXT_POINT_SIZE, pointSize);
    SetCtrlVal(panel, control, text);
}

} // namespace

void ShowInfoText1(const char *text, int left, int top, int pointSize) {
    showInfoText(text, left, top, pointSize, 0xFFFFFF, 0x808080);
}

void ShowInfoText2(const char *text, int left, int top, int pointSize) {
    showInfoText(text, left, top, pointSize, 0xFFFFFF, 0x000000);
}

void ShowInfoText3(const char *text, int left, int top, int pointSize) {
    showInfoText(text, left, top, pointSize, VAL_TRANSPARENT, 0xFFFFFF);
}

void ShowInfoText4(const char *text, int left, int top, int pointSize) {
    showInfoText(text, left, top, pointSize, 0x0080FF, 0xFFFFFF);
}

void ShowLogo(int row) {
    if (row < 0 || row > 11)
        return;
    const Branding &b = kBrandings[row];
    SetCtrlAttribute(panel, P_BANNER, ATTR_FRAME_COLOR, b.bannerColor);
    SetCtrlAttribute(panel, P_LOGO, ATTR_TOP, b.logoTop);
    SetCtrlAttribute(panel, P_LOGO, ATTR_LEFT, b.logoLeft);
    if (b.bitmap)
        DisplayImageFile(panel, P_LOGO, b.bitmap);
    void (*const styles[4])(const char *, int, int, int) = {ShowInfoText1, ShowInfoText2,
                                                            ShowInfoText3, ShowInfoText4};
    const auto show = styles[b.style - 1];
    show(b.title.text, b.title.left, b.title.top, b.title.size);
    for (const TextLine &line : b.lines)
        if (line.text)
            show(line.text, line.left, line.top, line.size);
}

} // namespace qv

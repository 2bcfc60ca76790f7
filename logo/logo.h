// The branding banner at the top of the main panel.
#pragma once

namespace qv {

// Shows branding row `row` (0 to 11) on the main panel; any other row changes nothing.
void ShowLogo(int row);
// Each creates one text line on the main panel in its style (colours differ; font "AppFont").
void ShowInfoText1(const char *text, int left, int top, int pointSize);
void ShowInfoText2(const char *text, int left, int top, int pointSize);
void ShowInfoText3(const char *text, int left, int top, int pointSize);
void ShowInfoText4(const char *text, int left, int top, int pointSize);

} // namespace qv

// A panel of our own for the combo box tests: string controls of both looks among other
// controls, a user callback that records what reaches it, and operator-like helpers.
#pragma once

#include "combobox/combobox.h"
#include "platform/testing.h"
#include "platform/userint.h"
#include "platform/utility.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <string>
#include <vector>

namespace fixture {

using namespace qv;
using namespace qv::rt;

// Tab order is creation order: BEFORE, FLAT, SUNK, NUM, NOTE, AFTER, PLAIN.
enum : int { BEFORE = 1, FLAT = 2, SUNK = 3, NUM = 4, NOTE = 5, AFTER = 6, PLAIN = 7 };

inline const char kPanels[] = R"({ "panels": [ { "resource": 7, "name": "C", "title": "Combo",
  "width": 360, "height": 230, "controls": [
    { "id": 1, "name": "BEFORE", "kind": "command_button", "label": "Before", "left": 10,
      "top": 10, "width": 70, "height": 24 },
    { "id": 2, "name": "FLAT", "kind": "string", "label": "Address", "left": 100, "top": 50,
      "width": 120, "height": 20, "callback": "user" },
    { "id": 3, "name": "SUNK", "kind": "string", "look": 2, "label": "Host", "left": 100,
      "top": 110, "width": 120, "height": 20, "callback": "user" },
    { "id": 4, "name": "NUM", "kind": "numeric", "left": 250, "top": 50, "width": 80,
      "height": 22, "min": 0, "max": 100 },
    { "id": 5, "name": "NOTE", "kind": "text_message", "label": "Note", "left": 250,
      "top": 110 },
    { "id": 6, "name": "AFTER", "kind": "command_button", "label": "After", "left": 250,
      "top": 180, "width": 70, "height": 24 },
    { "id": 7, "name": "PLAIN", "kind": "string", "left": 10, "top": 180, "width": 120,
      "height": 20 } ] } ] })";

struct Seen {
    int panel, control, event;
    void *data;
    int data1;
};

inline std::vector<Seen> seen;
inline int userResult = 0;
// Runs inside the user callback, where the program's own handler would run.
inline std::function<void(const Seen &)> onEvent;
inline int userData = 0; // its address is the string controls' callback data

inline int user(int panel, int control, int event, void *data, int data1, int) {
    const Seen s{panel, control, event, data, data1};
    seen.push_back(s);
    if (onEvent)
        onEvent(s);
    return userResult;
}

inline void startRunTime(QTemporaryDir &dir) {
    static int argc = 1;
    static char name[] = "t", *argv[] = {name, nullptr};
    QVERIFY(InitRunTimeEngine(argc, argv) == 1);
    SetCallbackResolver([](const std::string &n) {
        CallbackEntry e;
        if (n == "user")
            e.control = user;
        return e;
    });
    QFile f(dir.filePath("combo.uir"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(kPanels);
    f.close();
    SetProjectDirForTesting(dir.path().toLocal8Bit().constData());
}

// Loads and shows a fresh panel; the string controls' callback data is &userData.
inline int openPanel() {
    const int panel = LoadPanel(0, "combo.uir", 7);
    if (panel <= 0)
        return panel;
    for (int c : {FLAT, SUNK})
        SetCtrlAttribute(panel, c, ATTR_CALLBACK_DATA, static_cast<void *>(&userData));
    DisplayPanel(panel);
    if (!QTest::qWaitForWindowActive(testing::PanelWidget(panel)))
        return -1;
    seen.clear();
    userResult = 0;
    onEvent = nullptr;
    return panel;
}

inline ComboRec *recordOf(int panel, int ctrl) {
    void *data = nullptr;
    GetCtrlAttribute(panel, ctrl, ATTR_CALLBACK_DATA, &data);
    return static_cast<ComboRec *>(data);
}

inline int attr(int panel, int ctrl, int attribute) {
    int v = -999;
    GetCtrlAttribute(panel, ctrl, attribute, &v);
    return v;
}

inline QByteArray text(int panel, int ctrl) {
    char buffer[256];
    GetCtrlVal(panel, ctrl, buffer);
    return buffer;
}

inline QLineEdit *edit(int panel, int ctrl) {
    return static_cast<QLineEdit *>(testing::ControlWidget(panel, ctrl));
}

// Counts of what reached the user callback, by event.
inline int count(int event) {
    int n = 0;
    for (const Seen &s : seen)
        n += s.event == event;
    return n;
}

} // namespace fixture

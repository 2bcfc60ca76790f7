// The run-time's own state and the steps its sources share. userint.h is split over:
//   userint.cpp     the panels and controls held, panels shown and discarded, controls made
//   events.cpp      events to live controls, held callbacks, keys, the panel window's filter
//   building.cpp    the widgets behind controls, and applying the model to them
//   resources.cpp   the resource file: loading panels and their controls
//   eventloop.cpp   start-up, the event loop, pumping and drawing
//   attributes.cpp  control and panel attributes
//   values.cpp      control values and list items
//   popups.cpp      message, confirm and save-file pop-ups
#pragma once

#include "platform/canvas.h"
#include "platform/panel_p.h"
#include "platform/userint.h"

#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QString>
#include <QWidget>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class QCloseEvent;
class QEvent;
class QEventLoop;
class QObject;
class QTimer;

namespace qv::rt::detail {

// A panel's top-level window. It reports the close box and filters its controls' events.
class PanelWindow : public QWidget {
  public:
    explicit PanelWindow(int handle) : handle_(handle) {}

  protected:
    // The close box only reports; the program decides whether the panel goes.
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    static void deliverClose(int handle);
    int handle_;
};

struct RunTime {
    std::map<int, std::unique_ptr<Panel>> panels;
    int nextHandle = 1;
    CallbackResolver resolver;
    PopupHandler popupHandler;
    SaveFileHandler saveFileHandler;
    QEventLoop *mainLoop = nullptr;
    bool quitPending = false;
    int quitCode = 0;
    bool lastPumpIdle = false;
    QTimer *pumpGuard = nullptr;
    int drawing = 0;                         // ProcessDrawEvents is under way
    std::vector<std::function<void()>> held; // callbacks due while it was
    std::function<void()> drawHook;          // tests: runs when a drawing pass is done
};

RunTime &rt();

inline QString latin1(const QByteArray &bytes) {
    return QString::fromLatin1(bytes);
}
inline QString latin1(const char *text) {
    return QString::fromLatin1(text ? text : "");
}
inline QString decoded(const QByteArray &bytes, TextCoding coding) {
    return coding == TextCoding::FileSystem ? QFile::decodeName(bytes) : latin1(bytes);
}

// Copies `bytes` into `dest`, cut to fit `size` and NUL-terminated.
inline bool copyOut(const QByteArray &bytes, char *dest, std::size_t size) {
    if (!dest || size == 0)
        return false;
    const std::size_t n = std::min(static_cast<std::size_t>(bytes.size()), size - 1);
    std::memcpy(dest, bytes.constData(), n);
    dest[n] = '\0';
    return true;
}

inline int borderOf(int style) {
    return (style == CTRL_STRING_LS || style == CTRL_POPUP_RING_LS || style == CTRL_DECORATION_LS)
               ? 2
               : 1;
}

// `fn` on the control, or the status that says why there is none.
int withControl(int panel, int control, const std::function<int(Control &)> &fn);

// ---- Events (events.cpp). ----

// Whether the operator can use the control now: not dimmed, shown, on a panel that is shown.
bool isLive(const Control &c);
// An operator's event reaches its control only if the control is live when the event is
// delivered, not merely when it was made: a click queued while the program was busy, or made
// just before a command dimmed the buttons, must not start a second command inside the first.
void deliverControlEvent(int panel, int control, int event, int data1, int data2);
// Runs a control's callback later from the event loop, by ID, so a control discarded in between
// is simply skipped, and a long handler never runs inside a Qt widget's own event handler.
void postControlEvent(int panel, int control, int event, int data1 = 0, int data2 = 0);

// ---- Applying the model to widgets (building.cpp). ----

// Builds the widget for a control whose style, geometry and attributes are set.
int buildWidget(Panel &p, Control &c);
void addToOrders(Panel &p, int id);
void applyDisplay(Control &c);
// Draws the displays of the panel whose redraw is being held back.
void flushDisplays(Panel &p);
// A display's value changed: it is drawn soon, at most at the screen's rate.
void displayChanged(Control &c);
void applyGeometry(Control &c);
void applyLook(Control &c);
void applyTabOrder(Panel &p);
void applyZOrder(Panel &p);
void refreshRingWidget(Control &c);

// ---- The resource file (resources.cpp). ----

// A file name as the program gives it: relative names are taken in the program's folder.
QString resolvePath(const char *fileName);

} // namespace qv::rt::detail

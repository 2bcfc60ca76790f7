// Shared by the tests: the run-time started headless, the real panels, pop-ups answered by the
// test, operator-like clicks, and a scratch program directory.
#pragma once

#include "platform/userint.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>

#include <deque>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

class QWidget;

namespace qvtest {

// Starts the run-time once per test process. `locale`: the C library's locale the desktop gives
// the program (Qt takes it from LANG when it starts), set first; the test process ends when the
// machine lacks it (scripts/setup.sh makes de_DE.UTF-8).
void initRunTime(const char *locale = nullptr);

// Loads the three panels from the real resource file into qv::panel, qv::interfacepanel and
// qv::trendpanel, as start-up does, without running its steps. Discards any loaded before.
void loadPanels();
void discardPanels();

// The protocol sizes start-up sets: 202 parameter words, frames and readings of 16 words, the
// sync byte 85.
void setStartupSizes();

struct Popup {
    qv::rt::PopupKind kind;
    std::string title;
    std::string text;
};

// Answers every pop-up while it lives: confirmations from `answers` in turn, then with
// `defaultAnswer`; save dialogs with the paths of `saveAs` in turn ("" cancels), then cancelled.
// `onPopup` runs inside the pop-up, where the operator would be looking at it.
class PopupRecorder {
  public:
    PopupRecorder();
    ~PopupRecorder();
    Q_DISABLE_COPY(PopupRecorder)

    std::vector<Popup> popups;
    std::deque<int> answers;
    int defaultAnswer = 1;
    std::deque<std::string> saveAs;
    std::function<void(const Popup &)> onPopup;

    std::size_t count() const { return popups.size(); }
    const Popup &last() const { return popups.back(); }
};

// A program directory of its own, holding the resource file and bitmaps; the run-time takes the
// program's directory to be this one while the object lives.
class ScratchProject {
  public:
    ScratchProject();
    ~ScratchProject();
    QString path() const { return dir_.path(); }
    QString file(const QString &name) const { return dir_.filePath(name); }

  private:
    QTemporaryDir dir_;
};

// Edits a copy of the resource file so that the connection panel starts with TCP/IP (or RS-232)
// and the given TCP port: the whole program can then be run against a simulator.
void pointConnectionPanelAt(const QString &uirPath, bool tcp, unsigned short port);

QWidget *widget(int panel, int control);
// Whether the operator can use the control now (not dimmed).
bool live(int panel, int control);
// Operator actions on a control's widget; the resulting events are queued, as a real click's
// would be: pump (waitFor, or a running wait of the program) to have them handled.
void click(int panel, int control);
void rightClick(int panel, int control);
// Pumps events until `done` is true or `ms` have passed; returns `done()`.
bool waitFor(const std::function<bool()> &done, int ms = 5000);
void pump(int ms);
// Standard error, while one of these lives, goes to a file: to see what the program says there.
class StderrCapture {
  public:
    StderrCapture();
    ~StderrCapture();
    Q_DISABLE_COPY(StderrCapture)
    // What was written so far; standard error goes back to where it was.
    QByteArray text();

  private:
    void restore();
    std::FILE *file_;
    int saved_ = -1;
};

// While one of these lives, no file of this process may grow beyond `bytes`: a disk that
// fills up halfway through a write, which even root meets.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(unsigned long bytes);
    ~FileSizeLimit();
    Q_DISABLE_COPY(FileSizeLimit)

  private:
    rlimit saved_;
    void (*savedHandler_)(int);
};

// Renders a panel to a PNG file (for looking at, and for the README).
bool grabPanel(int panel, const QString &file);

// Reading controls and files, shared by the panel tests.
QByteArray ctrlText(int panel, int control);     // a text control's value
QString shownText(int panel, int control);       // what a text display shows, drawn now
int attr(int panel, int control, int attribute); // an int attribute; -1 when unreadable
QByteArray fileBytes(const QString &path);       // empty when unreadable
bool writeFile(const QString &path, const QByteArray &bytes); // replaces the file
// The fields of each line of a CSV file whose texts hold no comma: split at commas, line ends
// dropped.
QList<QByteArrayList> csvRows(const QByteArray &bytes);
QByteArray historyRecords(const QList<QByteArray> &t); // the history file holding `t`
QList<QByteArray> addressList();                       // the address list, as it drops down
// Replaces a text field's contents by typing, then Enter.
void typeInto(int panel, int control, const QByteArray &text);
// CONNECT on the main panel; true once the connection panel is shown and active.
bool openConnectionPanel();
// Where a test puts a picture for looking at: bin/screenshots/<name> (the folder made), a name
// no other test uses.
QString picture(const QString &name);
// Pairs of the status a run-time call gave and the one it must give, in a table of a call's
// contract: fails at the first row that differs, naming it by its place.
void checkStatuses(std::initializer_list<std::pair<int, int>> rows);

} // namespace qvtest

#include "tests/support/support.h"

// Ahead of shell/state.h, whose `panel` a parameter of a template in it would shadow.
#include "combobox/combobox.h"

#include "app/callbacks.h"
#include "link/history.h"
#include "platform/testing.h"
#include "platform/utility.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "trend/trend.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPixmap>
#include <QTest>
#include <QWidget>

#include <clocale>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace qvtest {

using namespace qv;

void initRunTime(const char *locale) {
    static bool started = false;
    if (std::exchange(started, true))
        return;
    if (locale && !std::setlocale(LC_ALL, locale))
        qFatal("the locale %s is missing: scripts/setup.sh makes it", locale);
    static int argc = 1;
    static char name[] = "quorvat-test";
    static char *argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    rt::InitRunTimeEngine(argc, argv);
    InstallCallbackTable();
}

void discardPanels() {
    for (int *handle : {&panel, &interfacepanel, &trendpanel})
        if (const int h = std::exchange(*handle, 0); h > 0)
            rt::DiscardPanel(h);
}

void setStartupSizes() {
    qv::anzpara = 202;
    qv::anzframe = 16;
    qv::anzdata = 16;
    qv::sync = 85;
}

void loadPanels() {
    initRunTime();
    discardPanels();
    panel = rt::LoadPanel(0, kResourceFile, 2);
    interfacepanel = rt::LoadPanel(0, kResourceFile, 1);
    trendpanel = rt::LoadPanel(0, kResourceFile, kTrendPanel);
    if (panel < 0 || interfacepanel < 0 || trendpanel < 0)
        qFatal("cannot load the panels: %s", rt::LastResourceError());
    rt::DisplayPanel(panel);
}

template <class T> T nextOf(std::deque<T> &answers, T otherwise) {
    if (answers.empty())
        return otherwise;
    T next = std::move(answers.front());
    answers.pop_front();
    return next;
}

PopupRecorder::PopupRecorder() {
    rt::SetPopupHandler(
        [this](rt::PopupKind kind, const std::string &title, const std::string &text) {
            popups.push_back({kind, title, text});
            if (onPopup)
                onPopup(popups.back());
            return kind == rt::PopupKind::Confirm ? nextOf(answers, defaultAnswer) : 0;
        });
    rt::SetSaveFileHandler([this](const std::string &title, const std::string &suggested) {
        popups.push_back({rt::PopupKind::SaveFile, title, suggested});
        if (onPopup)
            onPopup(popups.back());
        return nextOf(saveAs, std::string());
    });
}

PopupRecorder::~PopupRecorder() {
    rt::SetPopupHandler({});
    rt::SetSaveFileHandler({});
}

ScratchProject::ScratchProject() {
    const QDir bin(QCoreApplication::applicationDirPath());
    for (const QString &name : bin.entryList({"*.uir", "*.png"}, QDir::Files))
        QFile::copy(bin.filePath(name), dir_.filePath(name));
    rt::SetProjectDirForTesting(QDir::toNativeSeparators(dir_.path()).toLocal8Bit().constData());
}

ScratchProject::~ScratchProject() {
    rt::SetProjectDirForTesting(nullptr);
}

void pointConnectionPanelAt(const QString &uirPath, bool tcp, unsigned short port) {
    QJsonObject doc = QJsonDocument::fromJson(fileBytes(uirPath)).object();
    QJsonArray panels = doc["panels"].toArray();
    for (int p = 0; p < panels.size(); ++p) {
        QJsonObject po = panels[p].toObject();
        if (po["resource"].toInt() != 1)
            continue;
        QJsonArray controls = po["controls"].toArray();
        for (int c = 0; c < controls.size(); ++c) {
            QJsonObject co = controls[c].toObject();
            if (co["id"].toInt() == 2)
                co["value"] = tcp ? 1 : 0;
            if (co["id"].toInt() == 8)
                co["value"] = QString::number(port);
            controls[c] = co;
        }
        po["controls"] = controls;
        panels[p] = po;
    }
    doc["panels"] = panels;
    if (panels.isEmpty() || !writeFile(uirPath, QJsonDocument(doc).toJson()))
        qFatal("cannot edit %s", qPrintable(uirPath));
}

QWidget *widget(int panelHandle, int control) {
    return rt::testing::ControlWidget(panelHandle, control);
}

bool live(int panelHandle, int control) {
    return attr(panelHandle, control, rt::ATTR_DIMMED) == 0;
}

void click(int panelHandle, int control) {
    if (QWidget *w = widget(panelHandle, control))
        QTest::mouseClick(w, Qt::LeftButton);
}

void rightClick(int panelHandle, int control) {
    if (QWidget *w = widget(panelHandle, control)) // a spin box hands it to its text field
        QTest::mouseClick(w->focusProxy() ? w->focusProxy() : w, Qt::RightButton);
}

bool waitFor(const std::function<bool()> &done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void pump(int ms) {
    waitFor([] { return false; }, ms);
}

StderrCapture::StderrCapture() : file_(std::tmpfile()) {
    std::fflush(stderr);
    saved_ = dup(2);
    dup2(fileno(file_), 2);
}

StderrCapture::~StderrCapture() {
    restore();
    std::fclose(file_);
}

QByteArray StderrCapture::text() {
    restore();
    QFile f;
    f.open(file_, QIODevice::ReadOnly);
    f.seek(0);
    return f.readAll();
}

void StderrCapture::restore() {
    if (saved_ < 0)
        return;
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
}

FileSizeLimit::FileSizeLimit(unsigned long bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    struct rlimit limit = saved_;
    savedHandler_ = std::signal(SIGXFSZ, SIG_IGN); // the write fails instead of the process
    limit.rlim_cur = bytes;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
        qFatal("cannot limit the file size");
}

FileSizeLimit::~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, savedHandler_);
}

bool grabPanel(int panelHandle, const QString &file) {
    rt::testing::FlushDisplays();
    pump(30);
    QWidget *w = rt::testing::PanelWidget(panelHandle);
    return w && w->grab().save(file);
}

QByteArray ctrlText(int panelHandle, int control) {
    char text[512] = "";
    rt::GetCtrlVal(panelHandle, control, text);
    return text;
}

QString shownText(int panelHandle, int control) {
    rt::testing::FlushDisplays();
    const auto *label = qobject_cast<QLabel *>(widget(panelHandle, control));
    return label ? label->text() : QString();
}

int attr(int panelHandle, int control, int attribute) {
    int v = -1;
    rt::GetCtrlAttribute(panelHandle, control, attribute, &v);
    return v;
}

QByteArray fileBytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QList<QByteArrayList> csvRows(const QByteArray &bytes) {
    QList<QByteArrayList> rows;
    for (const QByteArray &line : bytes.split('\n'))
        if (!line.isEmpty())
            rows << line.chopped(line.endsWith('\r') ? 1 : 0).split(',');
    return rows;
}

QByteArray historyRecords(const QList<QByteArray> &texts) {
    QByteArray all;
    for (const QByteArray &t : texts)
        all += t.leftJustified(kHistoryTextBytes, '\0', true) + '\n';
    return all;
}

QList<QByteArray> addressList() {
    void *data = nullptr;
    rt::GetCtrlAttribute(interfacepanel, INTERFACEP_STRINGIPADRESS, rt::ATTR_CALLBACK_DATA, &data);
    const int ring = data ? static_cast<ComboRec *>(data)->ringCtrl : 0;
    QList<QByteArray> items;
    int count = 0;
    rt::GetNumListItems(interfacepanel, ring, &count);
    for (int i = 0; i < count; ++i) {
        char value[kHistoryTextBytes + 1] = "";
        rt::GetValueFromIndex(interfacepanel, ring, i, value);
        items << value;
    }
    return items;
}

void typeInto(int panelHandle, int control, const QByteArray &text) {
    QWidget *w = widget(panelHandle, control);
    QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(w, Qt::Key_Delete);
    QTest::keyClicks(w, QString::fromLatin1(text));
    QTest::keyClick(w, Qt::Key_Return);
}

bool openConnectionPanel() {
    click(panel, P_BUTTONCONNECT);
    QWidget *window = rt::testing::PanelWidget(interfacepanel);
    return waitFor([&] { return window->isVisible(); }) && QTest::qWaitForWindowActive(window);
}

QString picture(const QString &name) {
    const QString dir = QCoreApplication::applicationDirPath() + "/screenshots";
    QDir().mkpath(dir);
    return dir + "/" + name;
}

void checkStatuses(std::initializer_list<std::pair<int, int>> rows) {
    int row = 0;
    for (const auto &[status, expected] : rows)
        QVERIFY2(status == expected,
                 qPrintable(QString("row %1: %2, not %3").arg(row++).arg(status).arg(expected)));
}

} // namespace qvtest

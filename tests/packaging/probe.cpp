// Preloaded into the installed program by the packaging test, it acts as an operator would,
// through the windows alone: once the main window shows the simulator's version text it says
// so, opens the connection panel with CONNECT and commits the address QUORVAT_PROBE_COMMIT in
// the field that holds 127.0.0.1; when a line arrives on standard input it closes the main
// window. Each step is one line on standard output.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>

#include <cstdio>

#include <unistd.h>

namespace {

const QString kMainTitle = "QUORVAT V6.0";
const QString kStatus = "QUORVAT SENSOR SIMULATOR V1.0";

void say(const QString &line) {
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

QWidget *shownWindow(const QString &title) {
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowTitle() == title)
            return w;
    return nullptr;
}

// The shown child of `window` of kind W with this text.
template <typename W> W *shownChild(QWidget *window, const QString &text) {
    for (W *w : window ? window->findChildren<W *>() : QList<W *>())
        if (w->isVisible() && w->text() == text)
            return w;
    return nullptr;
}

enum class Step { Status, Commit, Close, Done };
bool closeAsked = false;

void step() {
    static Step next = Step::Status;
    QWidget *main = shownWindow(kMainTitle);
    QPushButton *connect = shownChild<QPushButton>(main, "CONNECT");
    if (next == Step::Status && connect &&
        (shownChild<QLabel>(main, kStatus) || shownChild<QLineEdit>(main, kStatus))) {
        say("status " + kStatus);
        QTest::mouseClick(connect, Qt::LeftButton);
        next = Step::Commit;
    } else if (next == Step::Commit) {
        QWidget *panel = shownWindow(kMainTitle + " - CONNECTION");
        if (QLineEdit *field = shownChild<QLineEdit>(panel, "127.0.0.1")) {
            const QString address = qEnvironmentVariable("QUORVAT_PROBE_COMMIT");
            QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(field, Qt::Key_Delete);
            QTest::keyClicks(field, address);
            QTest::keyClick(field, Qt::Key_Return);
            say("committed " + address);
            next = Step::Close;
        }
    } else if (next == Step::Close && main && closeAsked) {
        say("closing");
        next = Step::Done;
        main->close();
    }
}

// Runs as the program makes its application object; from then on the steps are tried on each
// turn of a timer, whenever the program lets events through.
void start() {
    auto *timer = new QTimer(QCoreApplication::instance());
    QObject::connect(timer, &QTimer::timeout, step);
    timer->start(20);
    auto *input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, timer);
    QObject::connect(input, &QSocketNotifier::activated, input, [input] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            input->setEnabled(false);
        closeAsked = true;
    });
}

const bool installed = (qAddPreRoutine(start), true);

} // namespace

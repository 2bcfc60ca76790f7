// Preloaded into the installed program by the packaging test: it looks at the windows as an
// operator would and acts through them, without any help from the program. Once the window
// titled QUORVAT_PROBE_WINDOW shows the text QUORVAT_PROBE_STATUS, it says so; when
// QUORVAT_PROBE_COMMIT is set it then opens the connection panel with CONNECT and commits that
// address in the field that holds QUORVAT_PROBE_FIELD; last, when a line arrives on standard
// input, it closes the main window. Each step is one line on standard output.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <cstdio>

#include <unistd.h>

namespace {

QString setting(const char *name) {
    return qEnvironmentVariable(name);
}

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

bool showsText(QWidget *window, const QString &text) {
    for (QLabel *l : window->findChildren<QLabel *>())
        if (l->isVisible() && l->text() == text)
            return true;
    for (QLineEdit *e : window->findChildren<QLineEdit *>())
        if (e->isVisible() && e->text() == text)
            return true;
    return false;
}

template <typename W> W *shownChild(QWidget *window, const QString &text) {
    for (W *w : window->findChildren<W *>())
        if (w->isVisible() && w->text() == text)
            return w;
    return nullptr;
}

enum class Step { Status, OpenPanel, Commit, Close, Done };
bool closeAsked = false;

void step() {
    static Step next = Step::Status;
    QWidget *main = shownWindow(setting("QUORVAT_PROBE_WINDOW"));
    switch (next) {
    case Step::Status:
        if (main && showsText(main, setting("QUORVAT_PROBE_STATUS"))) {
            say(QStringLiteral("window ") + main->windowTitle());
            say(QStringLiteral("status ") + setting("QUORVAT_PROBE_STATUS"));
            next = setting("QUORVAT_PROBE_COMMIT").isEmpty() ? Step::Close : Step::OpenPanel;
        }
        return;
    case Step::OpenPanel:
        if (QPushButton *connect = main ? shownChild<QPushButton>(main, "CONNECT") : nullptr) {
            QTest::mouseClick(connect, Qt::LeftButton);
            next = Step::Commit;
        }
        return;
    case Step::Commit: {
        QWidget *panel = shownWindow(setting("QUORVAT_PROBE_WINDOW") + " - CONNECTION");
        QLineEdit *field =
            panel ? shownChild<QLineEdit>(panel, setting("QUORVAT_PROBE_FIELD")) : nullptr;
        if (!field)
            return;
        const QString address = setting("QUORVAT_PROBE_COMMIT");
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_Delete);
        QTest::keyClicks(field, address);
        QTest::keyClick(field, Qt::Key_Return);
        say(QStringLiteral("committed ") + address);
        next = Step::Close;
        return;
    }
    case Step::Close:
        if (main && closeAsked) {
            say(QStringLiteral("closing"));
            next = Step::Done;
            main->close();
        }
        return;
    case Step::Done:
        return;
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

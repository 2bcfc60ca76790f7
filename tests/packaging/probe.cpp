// Preloaded into the installed program by the packaging test, it acts as an operator would,
// through the windows alone, saying each step on standard error: once the main window shows the
// simulator's version it clicks CONNECT; it commits QUORVAT_PROBE_COMMIT in the connection
// panel's field holding 127.0.0.1; then it closes the main window.
#include <QApplication>
#include <QDebug>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

// The shown widget of kind W with this text, in the shown window with this title.
template <typename W> W *shown(const QString &title, const QString &text) {
    for (QWidget *window : QApplication::topLevelWidgets())
        if (window->isVisible() && window->windowTitle() == title)
            for (W *w : window->findChildren<W *>())
                if (w->isVisible() && w->text() == text)
                    return w;
    return nullptr;
}

int done = 0; // steps done

void step() {
    const QString main = "QUORVAT V6.0", status = "QUORVAT SENSOR SIMULATOR V1.0";
    QPushButton *connect = shown<QPushButton>(main, "CONNECT");
    QLineEdit *field = shown<QLineEdit>(main + " - CONNECTION", "127.0.0.1");
    if (done == 0 && connect && shown<QLabel>(main, status)) {
        qInfo().noquote() << "status " + status;
        QTest::mouseClick(connect, Qt::LeftButton);
        ++done;
    } else if (done == 1 && field) {
        const QString address = qEnvironmentVariable("QUORVAT_PROBE_COMMIT");
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(field, address);
        QTest::keyClick(field, Qt::Key_Return);
        qInfo().noquote() << "committed " + address;
        ++done;
    } else if (done == 2 && connect) {
        // The commit was posted and has run by now: the history's write is done within it.
        ++done;
        connect->window()->close();
    }
}

// From the making of the application object, the steps are tried whenever events go through.
void start() {
    auto *timer = new QTimer(QCoreApplication::instance());
    QObject::connect(timer, &QTimer::timeout, step);
    timer->start(20);
}

const bool installed = (qAddPreRoutine(start), true);

} // namespace

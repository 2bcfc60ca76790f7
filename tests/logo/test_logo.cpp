// The branding banner on the real main panel: the start-up row's lines in their style, rows that
// change nothing, a bitmap that cannot be loaded, and every row's lines inside the banner.
#include "logo/logo.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "tests/support/support.h"

#include <QFile>
#include <QLabel>
#include <QTest>

using namespace qv;
using qvtest::attr;

namespace {

// Shows `row` and returns the controls it made, which come last in creation order.
std::vector<int> show(int row) {
    int before = 0, id = 0;
    rt::GetPanelAttribute(panel, rt::ATTR_NUM_CTRLS, &before);
    ShowLogo(row);
    std::vector<int> ids;
    for (rt::GetPanelAttribute(panel, rt::ATTR_PANEL_FIRST_CTRL, &id); id > 0;
         id = attr(panel, id, rt::ATTR_NEXT_CTRL))
        ids.push_back(id);
    return {ids.begin() + before, ids.end()};
}

QImage picture() {
    return static_cast<QLabel *>(qvtest::widget(panel, P_LOGO))->pixmap().toImage();
}

QRect rect(int control) {
    return qvtest::widget(panel, control)->geometry();
}

} // namespace

class LogoTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { qvtest::loadPanels(); }

    // Rows out of the table change nothing; a row whose bitmap is gone or damaged still makes
    // its lines and leaves the picture shown before rather than going blank.
    void rowsThatCannotShowEverything() {
        QVERIFY(show(-1).empty() && show(12).empty() && picture().isNull());
        QCOMPARE(attr(panel, P_BANNER, rt::ATTR_FRAME_COLOR), 0xFFFFFF);
        for (const bool damaged : {false, true}) {
            qvtest::ScratchProject project;
            const QString bitmap = project.file("brand01.png");
            QVERIFY(damaged ? qvtest::writeFile(bitmap, "not a picture") : QFile::remove(bitmap));
            qvtest::loadPanels();
            show(5);
            const QImage before = picture();
            QCOMPARE(show(1).size(), std::size_t(3));
            QCOMPARE(picture(), before);
        }
    }

    // Every row: its bitmap loads, and its lines lie inside the banner and clear of the logo.
    // The start-up row's are white on the blue banner, in the program's font, the title first.
    void everyRowFitsTheBanner() {
        for (int row = 0; row < 12; ++row) {
            qvtest::loadPanels();
            const std::vector<int> lines = show(row);
            QVERIFY(!lines.empty());
            QCOMPARE(picture().isNull(), row == 0);
            for (int id : lines)
                QVERIFY2(rect(P_BANNER).contains(rect(id)) &&
                             (row == 0 || !rect(id).intersects(rect(P_LOGO))),
                         qPrintable(QString("row %1").arg(row)));
        }
        qvtest::loadPanels();
        const std::vector<int> lines = show(5);
        QCOMPARE(attr(panel, P_BANNER, rt::ATTR_FRAME_COLOR), 0x0080FF);
        QCOMPARE(lines.size(), std::size_t(4));
        QCOMPARE(qvtest::ctrlText(panel, lines[0]), QByteArray("QUORVAT V6.0"));
        char font[32] = "";
        for (int id : lines) {
            rt::GetCtrlAttribute(panel, id, rt::ATTR_TEXT_FONT, font);
            QCOMPARE(QByteArray(font), QByteArray("AppFont"));
            QCOMPARE(attr(panel, id, rt::ATTR_TEXT_COLOR), 0xFFFFFF);
            QCOMPARE(attr(panel, id, rt::ATTR_TEXT_BGCOLOR), 0x0080FF);
        }
    }
};

QTEST_MAIN(LogoTest)
#include "test_logo.moc"

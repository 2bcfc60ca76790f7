// The branding banner on the real main panel: what each row creates and where, rows that must
// change nothing, bitmaps that cannot be loaded, and that every row reads cleanly in the banner.
#include "logo/logo.h"
#include "platform/testing.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "tests/support/support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace qv;

namespace {

constexpr int kBlue = 0x0080FF;

int ctrlAttr(int control, int attribute) {
    int value = -1;
    rt::GetCtrlAttribute(panel, control, attribute, &value);
    return value;
}

int panelAttr(int attribute) {
    int value = -1;
    rt::GetPanelAttribute(panel, attribute, &value);
    return value;
}

std::vector<int> controlsInCreationOrder() {
    std::vector<int> ids;
    for (int id = panelAttr(rt::ATTR_PANEL_FIRST_CTRL); id > 0;
         id = ctrlAttr(id, rt::ATTR_NEXT_CTRL))
        ids.push_back(id);
    return ids;
}

struct Text {
    int id;
    QByteArray text;
    QByteArray font;
    int left, top, pointSize, color, background;
    bool operator==(const Text &o) const {
        return text == o.text && font == o.font && left == o.left && top == o.top &&
               pointSize == o.pointSize && color == o.color && background == o.background;
    }
};

// Runs one row on freshly loaded panels and returns the text controls it created, in order.
std::vector<Text> showRow(int row) {
    qvtest::loadPanels();
    const std::vector<int> before = controlsInCreationOrder();
    ShowLogo(row);
    std::vector<Text> created;
    for (int id : controlsInCreationOrder()) {
        if (std::find(before.begin(), before.end(), id) != before.end() ||
            ctrlAttr(id, rt::ATTR_CTRL_STYLE) != rt::CTRL_TEXT_MSG)
            continue;
        char text[256] = "", font[64] = "";
        rt::GetCtrlVal(panel, id, text);
        rt::GetCtrlAttribute(panel, id, rt::ATTR_TEXT_FONT, font);
        created.push_back({id, text, font, ctrlAttr(id, rt::ATTR_LEFT), ctrlAttr(id, rt::ATTR_TOP),
                           ctrlAttr(id, rt::ATTR_TEXT_POINT_SIZE),
                           ctrlAttr(id, rt::ATTR_TEXT_COLOR), ctrlAttr(id, rt::ATTR_TEXT_BGCOLOR)});
    }
    return created;
}

QImage logoPicture() {
    const auto *label = qobject_cast<QLabel *>(qvtest::widget(panel, P_LOGO));
    return label ? label->pixmap().toImage() : QImage();
}

QPoint logoPosition() {
    return {ctrlAttr(P_LOGO, rt::ATTR_LEFT), ctrlAttr(P_LOGO, rt::ATTR_TOP)};
}

QRect widgetRect(int control) {
    QWidget *w = qvtest::widget(panel, control);
    return w ? w->geometry() : QRect();
}

QImage grab(const QRect &area) {
    rt::testing::FlushDisplays();
    return rt::testing::PanelWidget(panel)->grab(area).toImage();
}

bool near(QRgb a, int rgb, int tolerance) {
    return std::abs(qRed(a) - ((rgb >> 16) & 0xFF)) <= tolerance &&
           std::abs(qGreen(a) - ((rgb >> 8) & 0xFF)) <= tolerance &&
           std::abs(qBlue(a) - (rgb & 0xFF)) <= tolerance;
}

double luminance(int rgb) {
    auto channel = [](int c) {
        const double s = c / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel((rgb >> 16) & 0xFF) + 0.7152 * channel((rgb >> 8) & 0xFF) +
           0.0722 * channel(rgb & 0xFF);
}

double contrast(int a, int b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QString describe(const Text &t) {
    return QStringLiteral("\"%1\" at %2,%3")
        .arg(QString::fromLatin1(t.text))
        .arg(t.left)
        .arg(t.top);
}

} // namespace

class LogoTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { qvtest::initRunTime(); }

    void startUpRowIsTheProductsOwn() {
        const std::vector<Text> texts = showRow(5);
        QCOMPARE(ctrlAttr(P_BANNER, rt::ATTR_FRAME_COLOR), kBlue);
        QCOMPARE(logoPosition(), QPoint(168, 6));
        QVERIFY(!logoPicture().isNull());
        QCOMPARE(texts.size(), std::size_t(4));
        for (const Text &t : texts) {
            QCOMPARE(t.color, 0xFFFFFF);
            QCOMPARE(t.background, kBlue);
            QCOMPARE(t.font, QByteArray("AppFont"));
        }
        const Text &title = texts[0];
        QCOMPARE(title.text, QByteArray("QUORVAT V6.0"));
        QCOMPARE(QPoint(title.left, title.top), QPoint(218, 30));
        QCOMPARE(title.pointSize, 18);
        for (int i = 1; i < 4; ++i) {
            QCOMPARE(texts[i].left, 15);
            QCOMPARE(texts[i].top, 5 + 15 * (i - 1));
            QCOMPARE(texts[i].pointSize, 12);
        }
    }

    void rowZeroIsTheTitleAlone() {
        const std::vector<Text> texts = showRow(0);
        QVERIFY(logoPicture().isNull());
        QCOMPARE(logoPosition(), QPoint(640, 5));
        QCOMPARE(ctrlAttr(P_BANNER, rt::ATTR_FRAME_COLOR), 0xFFFFFF);
        QCOMPARE(texts.size(), std::size_t(1));
        QCOMPARE(texts[0].text, QByteArray("QUORVAT V6.0"));
        QCOMPARE(QPoint(texts[0].left, texts[0].top), QPoint(180, 20));
        QCOMPARE(texts[0].pointSize, 22);
        QCOMPARE(texts[0].color, 0x000000);
        QCOMPARE(texts[0].background, 0xFFFFFF);
    }

    void rowsOutsideTheTableChangeNothing_data() {
        QTest::addColumn<int>("row");
        QTest::newRow("-1") << -1;
        QTest::newRow("12") << 12;
    }
    void rowsOutsideTheTableChangeNothing() {
        QFETCH(int, row);
        qvtest::loadPanels();
        const int controls = panelAttr(rt::ATTR_NUM_CTRLS);
        const int banner = ctrlAttr(P_BANNER, rt::ATTR_FRAME_COLOR);
        const QPoint logo = logoPosition();
        ShowLogo(row);
        QCOMPARE(panelAttr(rt::ATTR_NUM_CTRLS), controls);
        QCOMPARE(ctrlAttr(P_BANNER, rt::ATTR_FRAME_COLOR), banner);
        QCOMPARE(logoPosition(), logo);
        QVERIFY(logoPicture().isNull());
    }

    // The operator still gets the row's texts when its bitmap is gone or damaged; the picture
    // shown before stays rather than going blank.
    void unloadableBitmapKeepsThePicture_data() {
        QTest::addColumn<bool>("damaged");
        QTest::newRow("missing") << false;
        QTest::newRow("damaged") << true;
    }
    void unloadableBitmapKeepsThePicture() {
        QFETCH(bool, damaged);
        qvtest::ScratchProject project;
        QFile bitmap(project.file("brand01.png"));
        if (damaged) {
            QVERIFY(bitmap.open(QIODevice::WriteOnly | QIODevice::Truncate));
            bitmap.write("not a picture");
            bitmap.close();
        } else {
            QVERIFY(bitmap.remove());
        }
        qvtest::loadPanels();
        ShowLogo(5);
        const QImage before = logoPicture();
        QVERIFY(!before.isNull());
        const std::vector<int> controls = controlsInCreationOrder();
        ShowLogo(1);
        QCOMPARE(logoPicture(), before);
        QCOMPARE(logoPosition(), QPoint(485, 5));
        QCOMPARE(controlsInCreationOrder().size(), controls.size() + 3);
    }

    void twinRowsDifferOnlyInTheirBitmap() {
        const std::vector<Text> ten = showRow(10);
        const QPoint tenLogo = logoPosition();
        const int tenBanner = ctrlAttr(P_BANNER, rt::ATTR_FRAME_COLOR);
        const QImage tenPicture = logoPicture();
        const std::vector<Text> eleven = showRow(11);
        QVERIFY(ten == eleven);
        QCOMPARE(logoPosition(), tenLogo);
        QCOMPARE(ctrlAttr(P_BANNER, rt::ATTR_FRAME_COLOR), tenBanner);
        QVERIFY(!tenPicture.isNull());
        QVERIFY(logoPicture() != tenPicture);
    }

    // What the operator sees: each row's bitmap loads and scales cleanly, every glyph of every
    // text is visible (not under another line's background, the logo or the banner's edge), and
    // the text stands out from what is behind it. Pictures of each row go to bin/screenshots.
    void everyRowReadsCleanly_data() {
        QTest::addColumn<int>("row");
        for (int row = 0; row < 12; ++row)
            QTest::addRow("row %d", row) << row;
    }
    void everyRowReadsCleanly() {
        QFETCH(int, row);
        const std::vector<Text> texts = showRow(row);
        const QRect banner = widgetRect(P_BANNER);
        const QRect logo = widgetRect(P_LOGO);
        const int bannerColor = ctrlAttr(P_BANNER, rt::ATTR_FRAME_COLOR);

        if (row > 0) {
            const QImage source(
                QDir(QCoreApplication::applicationDirPath())
                    .filePath(QStringLiteral("brand%1.png").arg(row, 2, 10, QChar('0'))));
            QVERIFY(!source.isNull());
            // Square and a whole multiple of the control: scaled down without blur or bars.
            QCOMPARE(source.width(), source.height());
            QCOMPARE(source.width() % logo.width(), 0);
            QVERIFY(!logoPicture().isNull());
        }

        const QString dir = QCoreApplication::applicationDirPath() + "/screenshots";
        QDir().mkpath(dir);
        QVERIFY(qvtest::grabPanel(
            panel, dir + QStringLiteral("/logo-row-%1.png").arg(row, 2, 10, QChar('0'))));

        // Everything the texts could reach, so that ink past the banner's edge is seen too.
        QRect area = banner;
        for (const Text &t : texts)
            area |= widgetRect(t.id);
        const QImage shown = grab(area);
        const QRect inside = banner.adjusted(1, 1, -1, -1); // within its border
        QStringList hidden, outside, onLogo, faint, crowded;
        // Lines of one column may touch; a text must keep clear of the other column.
        for (const Text &a : texts)
            for (const Text &b : texts)
                if (a.left < b.left && widgetRect(a.id).intersects(widgetRect(b.id)))
                    crowded << describe(a) + " and " + describe(b);
        for (const Text &t : texts) {
            const int behind = t.background == rt::VAL_TRANSPARENT ? bannerColor : t.background;
            if (contrast(t.color, behind) < 3.0)
                faint << describe(t);
            const QRect box = widgetRect(t.id);
            if (row > 0 && box.intersects(logo))
                onLogo << describe(t);
            // Raised in front of everything the line shows all its glyphs; each of those pixels
            // must look the same where the line really is in the stack.
            qvtest::widget(panel, t.id)->raise();
            const QImage alone = grab(area);
            int ink = 0, covered = 0, out = 0;
            for (int y = box.top(); y <= box.bottom(); ++y)
                for (int x = box.left(); x <= box.right(); ++x) {
                    const QPoint at = QPoint(x, y) - area.topLeft();
                    if (!near(alone.pixel(at), t.color, 40))
                        continue;
                    ++ink;
                    if (!near(shown.pixel(at), t.color, 40))
                        ++covered;
                    if (!inside.contains(x, y))
                        ++out;
                }
            if (ink < 20)
                faint << describe(t) + " (no visible ink)";
            if (covered > 0)
                hidden << describe(t) +
                              QStringLiteral(" (%1 of %2 ink pixels)").arg(covered).arg(ink);
            if (out > 0)
                outside << describe(t);
        }
        QVERIFY2(faint.isEmpty(), qPrintable("hard to read: " + faint.join(", ")));
        QVERIFY2(onLogo.isEmpty(), qPrintable("over the logo: " + onLogo.join(", ")));
        QVERIFY2(outside.isEmpty(), qPrintable("beyond the banner: " + outside.join(", ")));
        QVERIFY2(crowded.isEmpty(), qPrintable("too close: " + crowded.join(", ")));
        QVERIFY2(hidden.isEmpty(), qPrintable("partly covered: " + hidden.join(", ")));
    }
};

QTEST_MAIN(LogoTest)
#include "test_logo.moc"

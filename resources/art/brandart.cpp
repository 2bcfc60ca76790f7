// Draws the branding bitmaps resources/brand01.png to brand11.png, one per row of the branding
// table in logo/logo.cpp. Each is drawn at twice the 46x46 picture control and scaled down by the
// run-time, which keeps the edges smooth. Rows 5 and 9 sit on coloured banners, the rest on white.
// Rerun from the repository root: g++ -std=c++20 -fPIC resources/art/brandart.cpp $(pkg-config
// --cflags --libs Qt6Gui) -o /tmp/brandart && /tmp/brandart resources
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>

#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

constexpr int kScale = 2;
constexpr double kSize = 46; // drawing units: pixels of the picture control

// The panel's own red, green and blue (its bars), so the marks sit well next to them.
const QColor kRed(0xD0, 0x30, 0x30);
const QColor kGreen(0x2E, 0x9E, 0x3E);
const QColor kBlue(0x2F, 0x62, 0xD8);
const QColor kInk(0x3A, 0x40, 0x4A);

QPointF polar(QPointF centre, double radius, double degrees) {
    const double a = degrees * std::numbers::pi / 180.0;
    return centre + QPointF(radius * std::cos(a), -radius * std::sin(a));
}

// Row 1, an optics maker: a prism splitting a ray into a fan of colours.
void prism(QPainter &p) {
    const QPolygonF body({{20, 7}, {35, 37}, {5, 37}});
    p.setPen(QPen(QColor(0x70, 0x70, 0x70), 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(0, 30), QPointF(12.5, 24));
    const QColor fan[] = {QColor(0xD0, 0x30, 0x30), QColor(0xF0, 0x8A, 0x1C),
                          QColor(0xF2, 0xC2, 0x1B), QColor(0x2E, 0x9E, 0x3E),
                          QColor(0x2F, 0x62, 0xD8), QColor(0x7A, 0x3F, 0xC4)};
    const QPointF exit(26.5, 22.5);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 6; ++i) {
        p.setBrush(fan[i]);
        p.drawPolygon(QPolygonF({exit, QPointF(46, 14 + i * 4.6), QPointF(46, 18.6 + i * 4.6)}));
    }
    QLinearGradient glass(5, 37, 35, 7);
    glass.setColorAt(0, QColor(0xE8, 0xEE, 0xF4, 235));
    glass.setColorAt(1, QColor(0xFF, 0xFF, 0xFF, 235));
    p.setBrush(glass);
    p.setPen(QPen(kInk, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolygon(body);
}

// Row 2, a measuring-instrument maker named after the northern lights.
void aurora(QPainter &p) {
    const QRectF tile(1, 1, 44, 44);
    QLinearGradient sky(0, 0, 0, kSize);
    sky.setColorAt(0, QColor(0x0A, 0x16, 0x33));
    sky.setColorAt(1, QColor(0x16, 0x2D, 0x5A));
    p.setPen(Qt::NoPen);
    p.setBrush(sky);
    p.drawRoundedRect(tile, 8, 8);
    p.save();
    QPainterPath clip;
    clip.addRoundedRect(tile, 8, 8);
    p.setClipPath(clip);
    const QColor bands[] = {QColor(0x3D, 0xDC, 0x97), QColor(0x2E, 0xC4, 0xC6),
                            QColor(0xA0, 0x86, 0xE0)};
    for (int i = 0; i < 3; ++i) {
        QPainterPath wave;
        const double y = 17 + i * 6;
        wave.moveTo(-2, y + 4);
        wave.cubicTo(10, y - 8, 22, y + 10, 48, y - 6);
        QColor c = bands[i];
        p.setPen(QPen(c, 3.4 - i * 0.6, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawPath(wave);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xFF, 0xFF, 0xFF, 220));
    for (QPointF star : {QPointF(9, 8), QPointF(33, 7), QPointF(39, 15), QPointF(19, 5.5)})
        p.drawEllipse(star, 0.9, 0.9);
    QPainterPath hills;
    hills.moveTo(0, 46);
    hills.lineTo(0, 38);
    hills.cubicTo(10, 31, 16, 36, 24, 35);
    hills.cubicTo(32, 34, 38, 30, 46, 34);
    hills.lineTo(46, 46);
    p.setBrush(QColor(0x05, 0x0C, 0x1C));
    p.drawPath(hills);
    p.restore();
}

// Row 3: a colour cube seen from a corner, one face per primary.
void cube(QPainter &p) {
    const QPointF c(23, 23);
    const double r = 21;
    QPointF v[6];
    for (int i = 0; i < 6; ++i)
        v[i] = polar(c, r, 90 + i * 60);
    // v[0] top, then anticlockwise: upper left, lower left, bottom, lower right, upper right.
    p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kBlue);
    p.drawPolygon(QPolygonF({v[0], v[1], c, v[5]}));
    p.setBrush(kRed);
    p.drawPolygon(QPolygonF({v[1], v[2], v[3], c}));
    p.setBrush(kGreen);
    p.drawPolygon(QPolygonF({c, v[3], v[4], v[5]}));
}

// Row 4: a measuring reticle, its ring in the three primaries.
void reticle(QPainter &p) {
    const QPointF c(23, 23);
    const QRectF ring(6, 6, 34, 34);
    const QColor arcs[] = {kRed, kGreen, kBlue};
    for (int i = 0; i < 3; ++i) {
        p.setPen(QPen(arcs[i], 4.2, Qt::SolidLine, Qt::FlatCap));
        p.drawArc(ring, (100 + i * 120) * 16, 100 * 16);
    }
    p.setPen(QPen(kInk, 2, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 4; ++i)
        p.drawLine(polar(c, 9, 90 * i), polar(c, 22.5, 90 * i));
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawEllipse(c, 3.2, 3.2);
}

// Row 5, our own mark: red, green and blue light adding up to white on a white tile, for the
// blue banner.
void quorvat(QPainter &p) {
    const QRectF tile(1, 1, 44, 44);
    p.setPen(QPen(QColor(0x00, 0x5C, 0xB8), 1));
    p.setBrush(Qt::white);
    p.drawRoundedRect(tile, 9, 9);
    // Mixed on a layer of its own, so the overlaps add like light instead of covering.
    QImage light(46 * kScale, 46 * kScale, QImage::Format_ARGB32_Premultiplied);
    light.fill(Qt::transparent);
    {
        QPainter l(&light);
        l.setRenderHint(QPainter::Antialiasing);
        l.scale(kScale, kScale);
        l.setCompositionMode(QPainter::CompositionMode_Plus);
        l.setPen(Qt::NoPen);
        const QPointF c(23, 23.5);
        const double r = 10.5, spread = 7.2;
        const QColor primaries[] = {QColor(0xFF, 0x1A, 0x1A), QColor(0x1A, 0xE0, 0x1A),
                                    QColor(0x1A, 0x5A, 0xFF)};
        for (int i = 0; i < 3; ++i) {
            l.setBrush(primaries[i]);
            l.drawEllipse(polar(c, spread, 90 + i * 120), r, r);
        }
    }
    p.drawImage(QRectF(0, 0, kSize, kSize), light);
}

// Row 6, a colour house named after the keystone of an arch.
void keystone(QPainter &p) {
    // The arch first; the stone sits in its crown.
    p.setPen(QPen(QColor(0x9A, 0xA0, 0xA8), 6, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(5, 27, 36, 36), 0, 180 * 16);
    const QPolygonF stone({{10, 3}, {36, 3}, {29.5, 32}, {16.5, 32}});
    p.save();
    QPainterPath clip;
    clip.addPolygon(stone);
    p.setClipPath(clip);
    const QColor inks[] = {QColor(0x00, 0xA6, 0xD6), QColor(0xD6, 0x2A, 0x8C),
                           QColor(0xF2, 0xC2, 0x1B)};
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 3; ++i) {
        p.setBrush(inks[i]);
        p.drawRect(QRectF(10 + i * 26.0 / 3, 0, 26.0 / 3 + 0.1, 34));
    }
    p.restore();
    p.setPen(QPen(kInk, 2, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolygon(stone);
}

// Row 7, an instrument works: a gear whose hub holds the three primaries.
void gear(QPainter &p) {
    const QPointF c(23, 23);
    QPainterPath teeth;
    const int n = 8;
    for (int i = 0; i < n; ++i) {
        const double a = i * 360.0 / n;
        const QPolygonF tooth({polar(c, 16, a - 13), polar(c, 21.5, a - 8), polar(c, 21.5, a + 8),
                               polar(c, 16, a + 13)});
        teeth.addPolygon(tooth);
        teeth.closeSubpath();
    }
    QPainterPath wheel;
    wheel.addEllipse(c, 17, 17);
    QPainterPath hole;
    hole.addEllipse(c, 10.5, 10.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x55, 0x5B, 0x66));
    p.drawPath(wheel.united(teeth).subtracted(hole));
    const QColor sectors[] = {kRed, kGreen, kBlue};
    const QRectF hub(c.x() - 8.5, c.y() - 8.5, 17, 17);
    for (int i = 0; i < 3; ++i) {
        p.setBrush(sectors[i]);
        p.drawPie(hub, (90 + i * 120) * 16, 120 * 16);
    }
    p.setBrush(Qt::white);
    p.drawEllipse(c, 2.6, 2.6);
}

// Row 8, a sample maker: a spectrum drawn as bars under a response curve.
void spectrum(QPainter &p) {
    const QColor hues[] = {QColor(0x7A, 0x3F, 0xC4), QColor(0x2F, 0x62, 0xD8),
                           QColor(0x00, 0xA6, 0xD6), QColor(0x2E, 0x9E, 0x3E),
                           QColor(0xF2, 0xC2, 0x1B), QColor(0xF0, 0x8A, 0x1C),
                           QColor(0xD0, 0x30, 0x30)};
    const double heights[] = {12, 21, 29, 33, 30, 22, 14};
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 7; ++i) {
        p.setBrush(hues[i]);
        p.drawRoundedRect(QRectF(4.5 + i * 5.6, 40 - heights[i], 4.2, heights[i]), 1, 1);
    }
    p.setPen(QPen(kInk, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(2, 41.5), QPointF(44, 41.5));
}

// Row 9: a camera-like aperture of six coloured blades, for the dark banner.
void aperture(QPainter &p) {
    const QPointF c(23, 23);
    const double r = 21;
    const QColor blades[] = {QColor(0xD0, 0x30, 0x30), QColor(0xF2, 0xC2, 0x1B),
                             QColor(0x2E, 0x9E, 0x3E), QColor(0x00, 0xA6, 0xD6),
                             QColor(0x2F, 0x62, 0xD8), QColor(0xC2, 0x3F, 0xB0)};
    const double opening = 7.5;
    QPainterPath disc;
    disc.addEllipse(c, r, r);
    p.setPen(QPen(QColor(0x1E, 0x2A, 0x3C), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    for (int i = 0; i < 6; ++i) {
        const double a = i * 60.0;
        // Each blade runs from one corner of the hexagonal opening out to the rim, turned.
        QPainterPath blade;
        blade.moveTo(polar(c, opening, a));
        blade.lineTo(polar(c, r + 4, a + 25));
        blade.lineTo(polar(c, r + 4, a + 85));
        blade.lineTo(polar(c, opening, a + 60));
        blade.closeSubpath();
        p.setBrush(blades[i]);
        p.drawPath(blade.intersected(disc));
    }
}

// Row 10: a twelve-part colour wheel.
void wheel(QPainter &p) {
    const QRectF disc(2, 2, 42, 42);
    p.setPen(QPen(Qt::white, 1.2));
    for (int i = 0; i < 12; ++i) {
        p.setBrush(QColor::fromHsvF(i / 12.0, 0.78, 0.9));
        p.drawPie(disc, (90 - i * 30) * 16, -30 * 16);
    }
    p.setBrush(Qt::white);
    p.setPen(QPen(kInk, 1.6));
    p.drawEllipse(QPointF(23, 23), 7, 7);
}

// Row 11: a sensor chip with its four photodiodes: red, green, blue and clear.
void chip(QPainter &p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x9A, 0xA0, 0xA8));
    for (int i = 0; i < 4; ++i) {
        const double at = 11 + i * 7.4;
        p.drawRoundedRect(QRectF(at - 1.6, 1, 3.2, 8), 1, 1);
        p.drawRoundedRect(QRectF(at - 1.6, 37, 3.2, 8), 1, 1);
        p.drawRoundedRect(QRectF(1, at - 1.6, 8, 3.2), 1, 1);
        p.drawRoundedRect(QRectF(37, at - 1.6, 8, 3.2), 1, 1);
    }
    p.setBrush(QColor(0x30, 0x34, 0x3B));
    p.drawRoundedRect(QRectF(6, 6, 34, 34), 4, 4);
    const QColor cells[] = {kRed, kGreen, kBlue, QColor(0xE6, 0xE9, 0xEE)};
    for (int i = 0; i < 4; ++i) {
        p.setBrush(cells[i]);
        p.drawRoundedRect(QRectF(12 + (i % 2) * 11.5, 12 + (i / 2) * 11.5, 10.5, 10.5), 1.5, 1.5);
    }
}

bool draw(const char *dir, int row, void (*paint)(QPainter &)) {
    QImage image(46 * kScale, 46 * kScale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(kScale, kScale);
    paint(p);
    p.end();
    char name[512];
    std::snprintf(name, sizeof name, "%s/brand%02d.png", dir, row);
    if (!image.save(name)) {
        std::fprintf(stderr, "brandart: cannot write %s\n", name);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv) {
    const char *dir = argc > 1 ? argv[1] : ".";
    void (*const rows[])(QPainter &) = {prism, aurora,   cube,     reticle, quorvat, keystone,
                                        gear,  spectrum, aperture, wheel,   chip};
    bool ok = true;
    for (int row = 1; row <= 11; ++row)
        ok = draw(dir, row, rows[row - 1]) && ok;
    return ok ? 0 : 1;
}

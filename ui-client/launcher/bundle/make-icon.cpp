// Draws the launcher's dialog icon: a 72 by 72 PNG of a rounded tile with
// two waves. Run by the build: make-icon <output.png>
#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {

const int kSize = 72;

QPainterPath Wave(double baseline, double amplitude)
{
    QPainterPath path;
    path.moveTo(8, baseline);
    path.cubicTo(20, baseline - amplitude, 28, baseline - amplitude, 36, baseline);
    path.cubicTo(44, baseline + amplitude, 52, baseline + amplitude, 64, baseline);
    return path;
}

void Draw(QImage& image)
{
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    QLinearGradient tile(0, 0, 0, kSize);
    tile.setColorAt(0.0, QColor(0x2f, 0x9c, 0xd8));
    tile.setColorAt(1.0, QColor(0x13, 0x4f, 0x8c));
    painter.setPen(Qt::NoPen);
    painter.setBrush(tile);
    painter.drawRoundedRect(QRectF(2, 2, kSize - 4, kSize - 4), 14, 14);

    QPen pen(QColor(Qt::white));
    pen.setWidthF(5.0);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(Wave(30, 9));
    pen.setColor(QColor(255, 255, 255, 170));
    painter.setPen(pen);
    painter.drawPath(Wave(46, 9));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.png>\n", argc > 0 ? argv[0] : "make-icon");
        return 2;
    }
    QImage image(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) {
        std::fprintf(stderr, "QImage(%d, %d) failed\n", kSize, kSize);
        return 1;
    }
    image.fill(Qt::transparent);
    Draw(image);
    if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "QImage::save(%s) failed\n", argv[1]);
        return 1;
    }
    return 0;
}

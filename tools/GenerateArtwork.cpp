// Draws the tool's artwork and writes it into the source tree:
//   corvan-artwork <source directory>
// Every image is an 8-bit RGBA PNG on a transparent ground. Run it through `make artwork` after
// changing a drawing here, and commit what it writes.

#include "Emblem.h"
#include "IconFile.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <cstdio>

using namespace Corvan;

namespace
{
const QColor Glyph(0xcc, 0xcc, 0xcc);
const QColor DisabledGlyph(0x33, 0x33, 0x33);
const QColor DarkGlyph(0x2d, 0x2d, 0x2d);
const QColor Accent(0xe2, 0xb6, 0x39);

// The desktop's name for the tool's icon, the same as its application id.
const char* const DesktopIconName = "example.corvan_works.HTMLStarter";

QImage Canvas(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QImage SmallClose()
{
    QImage image = Canvas(13, 13);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Glyph, 2.6, Qt::SolidLine, Qt::FlatCap));
    painter.drawLine(QPointF(2, 2), QPointF(11, 11));
    painter.drawLine(QPointF(11, 2), QPointF(2, 11));
    painter.end();
    return InOneColour(image, Glyph);
}

enum class EPointing
{
    Left,
    Right,
    Up,
    Down
};

// A solid triangle centred in a side x side square, reach pixels long along its direction and
// spread pixels wide across it.
QImage Triangle(int side, qreal reach, qreal spread, EPointing pointing, const QColor& colour)
{
    const qreal c = side / 2.0;
    const qreal r = reach / 2.0;
    const qreal s = spread / 2.0;
    QPolygonF corners;
    switch (pointing)
    {
    case EPointing::Left:
        corners << QPointF(c + r, c - s) << QPointF(c + r, c + s) << QPointF(c - r, c);
        break;
    case EPointing::Right:
        corners << QPointF(c - r, c - s) << QPointF(c - r, c + s) << QPointF(c + r, c);
        break;
    case EPointing::Up:
        corners << QPointF(c - s, c + r) << QPointF(c + s, c + r) << QPointF(c, c - r);
        break;
    case EPointing::Down:
        corners << QPointF(c - s, c - r) << QPointF(c + s, c - r) << QPointF(c, c + r);
        break;
    }
    QImage image = Canvas(side, side);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawPolygon(corners);
    painter.end();
    return InOneColour(image, colour);
}

QImage Arrow18(EPointing pointing)
{
    return Triangle(18, 11, 11, pointing, Glyph);
}

QImage Arrow9(EPointing pointing, const QColor& colour)
{
    return Triangle(9, 5, 8, pointing, colour);
}

// Tree branch lines are exact 1 px lines, fully opaque, so they join from row to row.
QImage BranchLines(int height, int verticalUntil, int horizontalRow)
{
    QImage image = Canvas(21, height);
    QPainter painter(&image);
    painter.fillRect(10, 0, 1, verticalUntil + 1, Glyph);
    if (horizontalRow >= 0)
        painter.fillRect(10, horizontalRow, 11, 1, Glyph);
    painter.end();
    return InOneColour(image, Glyph);
}

QImage Rotate()
{
    QImage image = Canvas(24, 24);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF circle(4.5, 4.5, 15, 15);
    painter.setPen(QPen(Accent, 2.4, Qt::SolidLine, Qt::FlatCap));
    // Qt counts angles anticlockwise from three o'clock, in sixteenths of a degree.
    painter.drawArc(circle, 100 * 16, 290 * 16);
    // The arrowhead sits at the open end (30 degrees) and points on along the circle, clockwise.
    const qreal end = qDegreesToRadians(30.0);
    const QPointF tip(12 + 7.5 * qCos(end), 12 - 7.5 * qSin(end));
    const QPointF along(qSin(end), qCos(end));
    const QPointF across(qCos(end), -qSin(end));
    QPolygonF head;
    head << tip + along * 4.5 << tip - along * 1.5 + across * 4.2 << tip - along * 1.5 - across * 4.2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(Accent);
    painter.drawPolygon(head);
    painter.end();
    return InOneColour(image, Accent);
}

QImage Scale()
{
    QImage image = Canvas(24, 24);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Accent);
    painter.drawRect(QRectF(7.5, 7.5, 9, 9));
    painter.drawPolygon(QPolygonF({QPointF(14, 2), QPointF(22, 2), QPointF(22, 10)}));
    painter.drawPolygon(QPolygonF({QPointF(2, 14), QPointF(2, 22), QPointF(10, 22)}));
    painter.end();
    return InOneColour(image, Accent);
}

QImage Transform()
{
    QImage image = Canvas(24, 24);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Accent, 2, Qt::SolidLine, Qt::FlatCap));
    painter.drawLine(QPointF(12, 5), QPointF(12, 19));
    painter.drawLine(QPointF(5, 12), QPointF(19, 12));
    painter.setPen(Qt::NoPen);
    painter.setBrush(Accent);
    const QPolygonF up({QPointF(12, 1), QPointF(16.5, 6.5), QPointF(7.5, 6.5)});
    for (int quarter = 0; quarter < 4; ++quarter)
    {
        QTransform turn;
        turn.translate(12, 12);
        turn.rotate(90 * quarter);
        turn.translate(-12, -12);
        painter.drawPolygon(turn.map(up));
    }
    painter.end();
    return InOneColour(image, Accent);
}

bool Write(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
    {
        std::fprintf(stderr, "corvan-artwork: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

bool WritePng(const QString& path, const QImage& image)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!image.save(path, "PNG"))
    {
        std::fprintf(stderr, "corvan-artwork: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}
} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: corvan-artwork <source directory>\n");
        return 2;
    }
    const QDir source(QString::fromLocal8Bit(argv[1]));
    const QString tool = source.filePath(QStringLiteral("Resources/"));
    const QString look = source.filePath(QStringLiteral("Resources/CorvanCustomizedUI/"));

    const QImage close = SmallClose();
    const QImage smallRight = Arrow9(EPointing::Right, Glyph);
    const QList<QPair<QString, QImage>> images = {
        {tool + "SmallClose.png", close},
        {tool + "Tools_iconz.png", PaintEmblem(128, EEmblemStyle::Full)},
        {tool + "logoBG.png", PaintEmblem(140, EEmblemStyle::Watermark)},
        {look + "SmallClose.png", close},
        {look + "arrow.png", Arrow18(EPointing::Down)},
        {look + "uparrow.png", Arrow18(EPointing::Up)},
        {look + "rightarrow.png", Arrow18(EPointing::Right)},
        {look + "leftSmallArrow.png", Arrow9(EPointing::Left, Glyph)},
        {look + "rightSmallArrow.png", smallRight},
        {look + "branch-closed.png", smallRight},
        {look + "branch-open.png", Arrow9(EPointing::Down, Glyph)},
        {look + "Arrow_disabled.png", Arrow9(EPointing::Right, DisabledGlyph)},
        {look + "leftArrow_disabled.png", Arrow9(EPointing::Left, DisabledGlyph)},
        {look + "Arrow_down_dark.png", Arrow9(EPointing::Down, DarkGlyph)},
        {look + "vline.png", BranchLines(13, 12, -1)},
        {look + "branch-more.png", BranchLines(25, 24, 12)},
        {look + "branch-end.png", BranchLines(13, 6, 6)},
        {look + "Rotate.png", Rotate()},
        {look + "Scale.png", Scale()},
        {look + "Transform.png", Transform()},
    };
    bool ok = true;
    for (const auto& image : images)
        ok = WritePng(image.first, image.second) && ok;

    // The executable's icon: 16, 24, 32 and 48 as bitmaps, 256 as PNG, in that order. The desktop's
    // icon theme gets the same images and the window icon's 128, nothing drawn for it alone.
    QList<QImage> iconImages;
    for (int size : {16, 24, 32, 48, 256})
        iconImages << PaintEmblem(size, EEmblemStyle::Full);
    ok = Write(tool + "CorvanHTMLStarter.ico", IconFileData(iconImages)) && ok;

    QList<QImage> desktopImages = iconImages;
    desktopImages << PaintEmblem(128, EEmblemStyle::Full);
    for (const QImage& image : desktopImages)
    {
        const QString path = source.filePath(QStringLiteral("packaging/icons/hicolor/%1x%1/apps/%2.png")
                                                 .arg(image.width())
                                                 .arg(QString::fromLatin1(DesktopIconName)));
        ok = WritePng(path, image) && ok;
    }
    return ok ? 0 : 1;
}

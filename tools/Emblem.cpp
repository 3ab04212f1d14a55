#include "Emblem.h"

#include <QPainter>
#include <QPainterPath>
#include <QTransform>
#include <QtMath>

namespace Corvan
{

namespace
{
// The emblem is designed on a 128 x 128 grid and scaled to the size asked for.
constexpr qreal Grid = 128.0;
constexpr QPointF Centre(64.0, 64.0);

const QColor Ink(0x1b, 0x1b, 0x1b);
const QColor Steel(0x8d, 0x8d, 0x8d);
const QColor Slate(0x38, 0x38, 0x38);
const QColor Accent(0xe2, 0xb6, 0x39);
const QColor WatermarkInk(0x22, 0x22, 0x22);

// A hexagon with flat top and bottom, like a nut seen from above.
QPainterPath Hexagon(qreal radius)
{
    QPolygonF corners;
    for (int i = 0; i < 6; ++i)
    {
        const qreal angle = qDegreesToRadians(60.0 * i);
        corners << Centre + QPointF(radius * qCos(angle), radius * qSin(angle));
    }
    QPainterPath path;
    path.addPolygon(corners);
    path.closeSubpath();
    return path;
}

QPainterPath Disc(const QPointF& centre, qreal radius)
{
    QPainterPath path;
    path.addEllipse(centre, radius, radius);
    return path;
}

// The "</>" of a web page, as one outline so it can be cut out of the core.
QPainterPath PageMark()
{
    QPainterPath strokes;
    strokes.moveTo(51, 52);
    strokes.lineTo(41, 62);
    strokes.lineTo(51, 72);
    strokes.moveTo(77, 52);
    strokes.lineTo(87, 62);
    strokes.lineTo(77, 72);
    strokes.moveTo(68, 49);
    strokes.lineTo(60, 75);
    QPainterPathStroker stroker;
    stroker.setWidth(5.5);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(strokes).simplified();
}

// A claw hammer lying along the y axis, head up, centred on the origin: the striking face to the
// left, the claw tapering off to the right.
QPainterPath Hammer()
{
    QPainterPath handle;
    handle.addRoundedRect(QRectF(-3.2, -16, 6.4, 44), 3.2, 3.2);
    QPainterPath head;
    head.moveTo(-16, -29);
    head.lineTo(-9, -29);
    head.lineTo(-8, -27.5);
    head.lineTo(4, -27.5);
    head.quadTo(13, -27.5, 19, -20);
    head.quadTo(11, -22.5, 4, -18.5);
    head.lineTo(-8, -18.5);
    head.lineTo(-9, -17);
    head.lineTo(-16, -17);
    head.closeSubpath();
    return handle.united(head);
}

// An open-ended wrench lying along the y axis, jaw up, centred on the origin.
QPainterPath Wrench()
{
    QPainterPath shaft;
    shaft.addRoundedRect(QRectF(-3.6, -16, 7.2, 42), 3.6, 3.6);
    QPainterPath jaw = Disc(QPointF(0, -21), 10.5);
    QPainterPath mouth;
    mouth.addRect(QRectF(-4, -36, 8, 14));
    QPainterPath tail = Disc(QPointF(0, 26), 6.5);
    return shaft.united(jaw).subtracted(mouth).united(tail).subtracted(Disc(QPointF(0, 26), 2.6));
}

QPainterPath Placed(const QPainterPath& tool, qreal degrees, const QPointF& at)
{
    QTransform transform;
    transform.translate(at.x(), at.y());
    transform.rotate(degrees);
    transform.scale(0.82, 0.82);
    return transform.map(tool);
}

void FillLayer(QPainter& painter, const QPainterPath& path, const QColor& colour)
{
    // Source replaces what lies below, so a layer of lower alpha over a higher one still shows.
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillPath(path, colour);
}

QColor WithAlpha(QColor colour, int alpha)
{
    colour.setAlpha(alpha);
    return colour;
}
} // namespace

QImage InOneColour(const QImage& painted, const QColor& colour)
{
    QImage result = painted.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < result.height(); ++y)
    {
        QRgb* row = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < result.width(); ++x)
            row[x] = qAlpha(row[x]) ? qRgba(colour.red(), colour.green(), colour.blue(), qAlpha(row[x])) : 0;
    }
    return result;
}

QImage PaintEmblem(int size, EEmblemStyle style)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / Grid, size / Grid);

    const QPainterPath outline = Hexagon(61);
    const QPainterPath rim = Hexagon(57);
    const QPainterPath face = Hexagon(47);
    const QPainterPath core = Disc(Centre, 31);
    const QPainterPath mark = PageMark();

    if (style == EEmblemStyle::Full)
    {
        FillLayer(painter, outline, Ink);
        FillLayer(painter, rim, Steel);
        FillLayer(painter, face, Slate);
        FillLayer(painter, core, Ink);
        FillLayer(painter, mark, Steel);

        const QPointF crossing(95, 95);
        const QPainterPath hammer = Placed(Hammer(), 45, crossing);
        const QPainterPath wrench = Placed(Wrench(), -45, crossing);
        // A dark halo keeps the tools apart from the emblem and from each other.
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.strokePath(wrench, QPen(Ink, 4.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.fillPath(wrench, Accent);
        painter.strokePath(hammer, QPen(Ink, 4.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.fillPath(hammer, Accent);
    }
    else
    {
        FillLayer(painter, outline, WithAlpha(WatermarkInk, 255));
        FillLayer(painter, rim, WithAlpha(WatermarkInk, 150));
        FillLayer(painter, face, WithAlpha(WatermarkInk, 255));
        FillLayer(painter, core, WithAlpha(WatermarkInk, 90));
        FillLayer(painter, mark, WithAlpha(WatermarkInk, 255));
    }
    painter.end();
    if (style == EEmblemStyle::Watermark)
        return InOneColour(image, WatermarkInk);
    return image.convertToFormat(QImage::Format_ARGB32);
}

} // namespace Corvan

#pragma once

#include <QColor>
#include <QImage>

namespace Corvan
{

enum class EEmblemStyle
{
    // The brand mark in its greys with the crossed hammer and wrench in the accent colour.
    Full,
    // The mark alone in one dark colour, its parts told apart by alpha: a watermark for dark grounds.
    Watermark,
};

// A painted one-colour image as straight (not premultiplied) ARGB. Un-premultiplying rounds the
// colour of faint edge pixels, so the colour is set exactly again and alpha alone carries the shape.
QImage InOneColour(const QImage& painted, const QColor& colour);

// The product emblem, drawn to fill a size x size image on a transparent ground.
QImage PaintEmblem(int size, EEmblemStyle style);

} // namespace Corvan

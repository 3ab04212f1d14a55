#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>

namespace Corvan
{

// A Windows icon file holding the images in the given order: images up to 255 pixels wide as 32-bit
// bitmaps with alpha and a 1-bit mask (what every Windows version reads), larger ones as PNG.
QByteArray IconFileData(const QList<QImage>& images);

} // namespace Corvan

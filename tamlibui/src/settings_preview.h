// The preview picture of the colour page: the first frame of a movie, decoded with the decoder's
// colour settings as they stand.
#pragma once

#include <QImage>
#include <QString>

namespace tamlibui::detail {

// The first picture of `path` through the first installed plug-in that reads it; a null image
// when no plug-in reads the file or no frame decodes.
QImage decodePreviewFrame(const QString& path);

} // namespace tamlibui::detail

#pragma once

// The three installer pages put together from the images as the pages lay
// them out, to judge the images in place.

#include <QHash>
#include <QImage>
#include <QString>

// `images` maps each artwork's path ("main/main_logo.png") to its image.
QImage drawPagePreview(const QHash<QString, QImage> &images);

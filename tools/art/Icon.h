#pragma once

// The installer's program icon: the emblem on a dark rounded tile, at the
// sizes Windows asks an icon file for.

#include <QByteArray>
#include <QImage>
#include <QList>

QImage drawProgramIcon(int size);
// The sizes the icon file holds, smallest first.
QList<int> programIconSizes();
// An icon file (.ico) holding each image as a PNG entry.
QByteArray iconFile(const QList<QImage> &images);

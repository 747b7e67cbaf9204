#pragma once

// The installer's images: where each one goes below the page folder, its
// exact size, and how it is drawn.

#include <QImage>
#include <QSize>
#include <QString>
#include <vector>

struct Artwork {
    QString path;  // relative to the page folder, e.g. "main/main_logo.png"
    QSize size;
    QImage (*draw)(const QSize &size);
};

const std::vector<Artwork> &artworks();

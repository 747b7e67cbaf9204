#pragma once

// The pages' background: a night sky with a streak of flowing light over
// layered hills.

#include <QImage>
#include <QSize>

struct SkyStyle {
    quint32 starSeed;  // where the stars fall
    bool mirrored;     // the streak of light rises to the left instead of the right
};

QImage drawNightSky(const QSize &size, const SkyStyle &style);

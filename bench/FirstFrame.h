#pragma once

// When a program first draws on the X server: from the moment it is
// started to the first damage the server reports on a top-level window
// that has been mapped.

#include <functional>

// Starts the program through `start` and waits at most timeoutSeconds for
// its first frame. The seconds it took, or a negative number when no frame
// came (or the display can't be watched).
double secondsToFirstFrame(const std::function<bool()> &start, double timeoutSeconds);

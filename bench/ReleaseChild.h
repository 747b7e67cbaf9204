#pragma once

// The child of the release benchmarks, on Linux (bench_release) and on
// Windows (bench/windows): a copy of the program lying in the data set
// releases the folder it lies in as the installer does, job 2 on its own
// thread with every report relayed to the install object of the main
// thread. Only Qt and the installer's units here, so both systems build it.

#include "Info.h"
#include "Operation.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <cstring>

namespace bench {

// `PROGRAM --job2 TARGET`: the command line of a release child.
inline bool isReleaseChild(int argc, char *argv[])
{
    return argc == 3 && std::strcmp(argv[1], "--job2") == 0;
}

// Prints the seconds from the start of job 2 to its end as the install
// object sees it, when every file's report has reached it. Fails (exit 1)
// unless the release succeeded and the last report was the page's full
// share. Loading the program and Qt is no part of a release, so it stays
// outside the figure.
inline int releaseAsJobTwo(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    installPath = app.arguments().value(2);
    Operation page;
    int reports = 0;
    int last = -1;
    QObject::connect(&page, &Operation::qml_sign_int_progressvalue, [&](int value) {
        ++reports;
        last = value;
    });
    bool released = false;
    QObject::connect(&page, &Operation::qmlSign_bool_releasefile, [&](bool success) {
        released = success;
        app.quit();
    });
    QElapsedTimer clock;
    clock.start();
    page.startthread(2);
    app.exec();
    std::printf("%.6f\n", double(clock.nsecsElapsed()) / 1e9);
    std::fflush(stdout);
    return released && reports == releaseTotal && last == 65 ? 0 : 1;
}

} // namespace bench

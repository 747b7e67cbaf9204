// The Windows build's release child (bench_release.exe): placed in the data
// set, it releases the folder it lies in as the installer's job 2 does and
// prints the seconds it took (bench/ReleaseChild.h). Run under Wine by
// bench_winrelease, which takes turns between it and copyloop.exe.
//
//   bench_release --job2 TARGET

#include "ReleaseChild.h"

int main(int argc, char *argv[])
{
    if (bench::isReleaseChild(argc, argv))
        return bench::releaseAsJobTwo(argc, argv);
    std::fprintf(stderr, "usage: bench_release --job2 TARGET\n");
    return 2;
}

// The channel scan over any process listing: the installer's image name is
// whatever the system lists, so every byte sequence is a possible input.

#include "FuzzSupport.h"
#include "Info.h"
#include "main.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    startFuzzApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray listing(reinterpret_cast<const char *>(data), int(size));
    const ChannelValues defaults{QString(), QStringLiteral("100"), QStringLiteral("lumenrider")};
    const ChannelValues found = scanInstallerChannel(listing, defaults);

    const int markerAt = listing.indexOf("lumenrider_");
    if (markerAt < 0) {
        require(found.inviteCdk == defaults.inviteCdk && found.oemId == defaults.oemId
                    && found.projectName == defaults.projectName,
                "a listing without the image name changes nothing");
        return 0;
    }
    // Every value comes out of the 60 bytes of the image name, or keeps its default.
    const QString slice = QString::fromUtf8(listing.mid(markerAt, 60));
    require(found.inviteCdk.isEmpty() || slice.contains(found.inviteCdk), "the invite code is part of the name");
    require(found.oemId == defaults.oemId || slice.contains(found.oemId), "the channel id is part of the name");
    require(found.projectName == defaults.projectName || slice.contains(found.projectName),
            "the project name is part of the name");
    require(found.inviteCdk != versionName, "the version alone is no invite code");
    return 0;
}

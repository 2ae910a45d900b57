#include "Artwork.h"

// Q_INIT_RESOURCE has to be used outside any namespace. Referencing it also makes the linker
// keep the compiled resources, which it would otherwise drop from the static library.
static void InitArtworkResource() {
    Q_INIT_RESOURCE(artwork);
}

void InitArtwork() {
    static const bool done = [] {
        InitArtworkResource();
        return true;
    }();
    (void)done;
}

QIcon ProgramIcon() {
    InitArtwork();
    QIcon icon;
    icon.addFile(QString::fromLatin1(Art::ProgramIcon), QSize(32, 32));
    icon.addFile(QString::fromLatin1(Art::ProgramIconSmall), QSize(16, 16));
    return icon;
}

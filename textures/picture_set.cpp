// The nine picture textures: loaded from picture1.jpg … picture9.jpg at window creation,
// released at close.
#include "textures/picture_set.h"

#include <cstdio>

#include "platform/system.h"

PictureSet g_pictureSet;

void LoadPictureSet() {
    // One loader for the life of the process, at the lower quality the browser always uses.
    if (!g_pictureSet.loader) {
        g_pictureSet.loader = std::make_unique<TextureLoader>();
        g_pictureSet.loader->SetHighQuality(false);
    }
    bool lastLoaded = false;
    for (int number = 1; number <= kPictureCount; ++number) {
        char fileName[32];
        std::snprintf(fileName, sizeof fileName, "picture%d.jpg", number);
        // A failed picture stays untextured and does not stop the others.
        lastLoaded =
            g_pictureSet.loader->LoadTextureFromFile(fileName, g_pictureSet.records[number - 1]);
    }
    // The drawing memory kept from picture to picture is not needed once the set is up.
    g_pictureSet.loader->ReleaseLoadMemory();
    // Only the ninth result is reported; the first eight never change the text.
    platform::OutputDebugStringA(lastLoaded ? "Loded texture successfully..."
                                            : "Loded texture failed...");
}

void ReleasePictureSet() {
    // Without a loader nothing was ever loaded, so there is nothing to delete.
    if (!g_pictureSet.loader) {
        return;
    }
    for (const TextureRecord& record : g_pictureSet.records) {
        g_pictureSet.loader->FreeTexture(record);
    }
}

// The program's nine picture textures, loaded at window creation and released at close.
#pragma once

#include <memory>

#include "textures/texture_loader.h"
#include "textures/texture_record.h"

constexpr int kPictureCount = 9;

struct PictureSet {
    TextureRecord records[kPictureCount];   // record i is drawn by the slot with texture index i
    std::unique_ptr<TextureLoader> loader;  // made at the first load, kept until the process ends
};

// The one picture set of the program.
extern PictureSet g_pictureSet;

// Loads picture1.jpg … picture9.jpg from the current directory into records 0 … 8 and writes
// the load result of the ninth to the debugger output. Needs a current rendering context.
void LoadPictureSet();

// Deletes the nine textures; the rendering context must still be current.
void ReleasePictureSet();

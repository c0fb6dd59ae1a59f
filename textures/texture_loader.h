// Turns image files into OpenGL textures: picks the decoder by file name, sizes textures to
// powers of two and uploads them with the loader's filter settings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "textures/texture_record.h"

// How a texture is sampled when drawn larger or smaller than its size.
enum class TextureFilter : std::int32_t {
    None = 0,
    Bilinear = 1,
    Trilinear = 2,
};

// Carries the loading settings and the load, upload and free operations; holds no
// per-texture state, so one instance serves every texture. Memory for drawing pictures is kept
// from one load to the next until ReleaseLoadMemory.
class TextureLoader {
  public:
    // Sets the defaults: colour key on (black), high quality, no mipmaps, nearest filtering.
    TextureLoader();
    virtual ~TextureLoader();

    // Stores whether textures wider than 64 keep their full size (true) or are halved (false).
    void SetHighQuality(bool quality);

    // Loads fileName (relative to the current directory, or an http:// URL) into the record,
    // choosing the decoder by the name's extension. Needs a current rendering context.
    bool LoadTextureFromFile(const std::string& fileName, TextureRecord& record);

    // Decodes any picture format the picture decoder knows and uploads it as RGBA, with the
    // colour key turned into alpha 0. The record's name is untouched on failure.
    bool LoadPictureTexture(const std::string& path, TextureRecord& record);

    // Reads an uncompressed or run-length-encoded true-colour TGA file and uploads it; the
    // record keeps the header's size, depth and format even when the data is unusable.
    bool LoadTgaTexture(const std::string& path, TextureRecord& record);

    // The power of two nearest to imageSize on a log scale, or maxSize when imageSize is larger;
    // 1 for a size below 1.
    static int TextureSizeFor(int imageSize, int maxSize);

    // Texture width and height for an image: TextureSizeFor each, then halved when highQuality
    // is false and the width is above 64.
    void ChooseTextureSize(int imageWidth, int imageHeight, int maxSize, int& textureWidth,
                           int& textureHeight) const;

    // Uploads the record's width × height pixels of its format, tightly packed, into the
    // texture the record names, with the loader's filter; only the nearest-filter path leaves
    // GL_UNPACK_ALIGNMENT changed (at 1).
    void UploadTexture(const TextureRecord& record, const std::uint8_t* pixels) const;

    // Deletes the record's texture; name 0 does nothing. The record is left as it is.
    void FreeTexture(const TextureRecord& record) const;

    // Frees what picture loads keep for the next one (the drawing target, the decoders' buffers);
    // call it after a batch of loads. Loading afterwards still works, and allocates afresh.
    void ReleaseLoadMemory();

    bool alphaMatch = true;                      // picture path: the match colour gets alpha 0
    bool highQuality = true;                     // false: textures wider than 64 are halved
    bool mipmapping = false;                     // with Bilinear: build mipmaps
    TextureFilter filter = TextureFilter::None;  // magnification and minification filter
    std::uint8_t matchRed = 0;                   // colour key, red
    std::uint8_t matchGreen = 0;                 // colour key, green
    std::uint8_t matchBlue = 0;                  // colour key, blue

  private:
    // A fresh 16 MiB target per picture costs 4096 page faults before a pixel is drawn.
    std::unique_ptr<std::uint8_t[]> drawingTarget;  // kept drawing target, drawingTargetBytes long
    std::size_t drawingTargetBytes = 0;             // bytes
};

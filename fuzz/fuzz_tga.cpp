// The TGA parser from memory: header, validation, raw and run-length pixel data.
#include <cstddef>
#include <cstdint>

#include "textures/tga_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    textures::TgaImage image;
    textures::DecodeTgaFromMemory(data, size, image);
    return 0;
}

// Small fixtures the texture and TGA tests share: a scratch folder, a working-directory guard,
// writers for tiny BMP and TGA files, and reading a texture back from GL.
#pragma once

#include <GL/gl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

namespace textures_test {

using Bytes = std::vector<std::uint8_t>;

// One pixel as red, green, blue, alpha.
struct Rgba {
    std::uint8_t r = 0;    // red, 0–255
    std::uint8_t g = 0;    // green, 0–255
    std::uint8_t b = 0;    // blue, 0–255
    std::uint8_t a = 255;  // alpha, 0–255
    bool operator==(const Rgba&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Rgba& p) {
    return out << "(" << int{p.r} << ", " << int{p.g} << ", " << int{p.b} << ", " << int{p.a}
               << ")";
}

// A folder under the system's temporary folder, removed with everything in it at the end.
class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "varnolt-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

// Makes a folder the current directory for the guard's lifetime.
class CurrentDirGuard {
  public:
    explicit CurrentDirGuard(const std::filesystem::path& dir)
        : saved_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~CurrentDirGuard() {
        std::error_code ignored;
        std::filesystem::current_path(saved_, ignored);
    }
    CurrentDirGuard(const CurrentDirGuard&) = delete;
    CurrentDirGuard& operator=(const CurrentDirGuard&) = delete;

  private:
    std::filesystem::path saved_;
};

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline void PutLe16(Bytes& out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

inline void PutLe32(Bytes& out, std::uint32_t value) {
    PutLe16(out, value & 0xFFFF);
    PutLe16(out, value >> 16);
}

// An 18-byte TGA header with the given image type, size and depth, and an ID length.
inline Bytes TgaHeader(int type, unsigned width, unsigned height, int depth, int idLength = 0) {
    Bytes out = {static_cast<std::uint8_t>(idLength), 0, static_cast<std::uint8_t>(type)};
    out.insert(out.end(), 9, 0);  // colour-map fields, x and y origin
    PutLe16(out, width);
    PutLe16(out, height);
    out.push_back(static_cast<std::uint8_t>(depth));
    out.push_back(0);  // image descriptor
    return out;
}

// A whole TGA file of width × height pixels (rows in file order, RGB or RGBA by depth 24 or
// 32): raw, or run-length with a run packet for repeats and raw packets otherwise.
inline Bytes MakeTga(int width, int height, int depth, bool runLength,
                     const std::vector<Rgba>& pixels) {
    Bytes out = TgaHeader(runLength ? 10 : 2, static_cast<unsigned>(width),
                          static_cast<unsigned>(height), depth);
    auto put = [&](const Rgba& p) {
        out.insert(out.end(), {p.b, p.g, p.r});
        if (depth == 32) {
            out.push_back(p.a);
        }
    };
    if (!runLength) {
        for (const Rgba& p : pixels) {
            put(p);
        }
        return out;
    }
    std::size_t i = 0;
    while (i < pixels.size()) {
        std::size_t run = 1;
        while (i + run < pixels.size() && run < 128 && pixels[i + run] == pixels[i]) {
            ++run;
        }
        if (run > 1) {
            out.push_back(static_cast<std::uint8_t>(127 + run));
            put(pixels[i]);
        } else {
            out.push_back(0);
            put(pixels[i]);
        }
        i += run;
    }
    return out;
}

// A 24-bit BI_RGB BMP of width × height; pixels are given bottom row first, as BMP stores them.
inline Bytes MakeBmp(int width, int height, const std::vector<Rgba>& pixels) {
    const auto rowBytes = static_cast<std::uint32_t>((width * 3 + 3) / 4 * 4);
    const std::uint32_t dataBytes = rowBytes * static_cast<std::uint32_t>(height);
    Bytes out = {'B', 'M'};
    PutLe32(out, 54 + dataBytes);  // file size
    PutLe32(out, 0);               // reserved
    PutLe32(out, 54);              // offset of the pixel data
    PutLe32(out, 40);              // BITMAPINFOHEADER size
    PutLe32(out, static_cast<std::uint32_t>(width));
    PutLe32(out, static_cast<std::uint32_t>(height));  // positive: bottom-up rows
    PutLe16(out, 1);                                   // planes
    PutLe16(out, 24);                                  // bits per pixel
    PutLe32(out, 0);                                   // BI_RGB
    PutLe32(out, dataBytes);
    PutLe32(out, 3780);  // 96 dpi in pixels per metre, x
    PutLe32(out, 3780);  // and y
    PutLe32(out, 0);     // colours used
    PutLe32(out, 0);     // important colours
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgba& p = pixels[static_cast<std::size_t>(y * width + x)];
            out.insert(out.end(), {p.b, p.g, p.r});
        }
        out.insert(out.end(), rowBytes - static_cast<std::uint32_t>(width * 3), 0);
    }
    return out;
}

// A BMP of one colour.
inline Bytes MakeSolidBmp(int width, int height, Rgba colour) {
    return MakeBmp(width, height,
                   std::vector<Rgba>(static_cast<std::size_t>(width * height), colour));
}

// The texture's level 0 as RGBA, row 0 first; empty when it has no image.
inline std::vector<Rgba> ReadTexture(GLuint name, int& width, int& height) {
    glBindTexture(GL_TEXTURE_2D, name);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
    std::vector<Rgba> texels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    if (!texels.empty()) {
        GLint packAlignment = 4;
        glGetIntegerv(GL_PACK_ALIGNMENT, &packAlignment);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
        glPixelStorei(GL_PACK_ALIGNMENT, packAlignment);
    }
    return texels;
}

inline GLint TexParameter(GLuint name, GLenum parameter) {
    GLint value = 0;
    glBindTexture(GL_TEXTURE_2D, name);
    glGetTexParameteriv(GL_TEXTURE_2D, parameter, &value);
    return value;
}

inline GLint LevelParameter(GLuint name, GLint level, GLenum parameter) {
    GLint value = 0;
    glBindTexture(GL_TEXTURE_2D, name);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, parameter, &value);
    return value;
}

}  // namespace textures_test

// The texture loader's settings, the power-of-two size rule, the upload both decoders share,
// and the choice of decoder by file name.
#include "textures/texture_loader.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cmath>
#include <cstddef>

#include "platform/system.h"

namespace {

// ln 2 rounded to single precision on purpose: the size rule divides by this value, not by the
// exact one, and sizes at the rounding boundaries depend on it.
const float kLn2Single = std::log(2.0f);

// Largest exponent whose power of two still fits in an int.
constexpr int kMaxExponent = 30;

// One row of the extension table: a lower-case extension and the kind it sets.
struct ExtensionKind {
    const char* extension;  // lower case, no dot
    ImageKind kind;         // code stored in the record
};

constexpr ExtensionKind kExtensionKinds[] = {
    {"bmp", ImageKindBmp},
    {"jpg", ImageKindJpeg},
    {"jpeg", ImageKindJpeg},
    {"gif", ImageKindGif},
    {"ico", ImageKindIcon},
    {"emf", ImageKindEnhancedMetafile},
    {"wmf", ImageKindWindowsMetafile},
};

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(const std::string& text, const char* lower) {
    std::size_t i = 0;
    for (; i < text.size() && lower[i] != '\0'; ++i) {
        if (AsciiLower(text[i]) != lower[i]) {
            return false;
        }
    }
    return i == text.size() && lower[i] == '\0';
}

}  // namespace

TextureLoader::TextureLoader() = default;

TextureLoader::~TextureLoader() = default;

void TextureLoader::SetHighQuality(bool quality) {
    highQuality = quality;
}

int TextureLoader::TextureSizeFor(int imageSize, int maxSize) {
    if (imageSize > maxSize) {
        return maxSize;
    }
    // ln 0 has no power of two; a picture that small is drawn as one pixel.
    if (imageSize < 1) {
        return 1;
    }
    const double exponent = std::floor(
        std::log(static_cast<double>(imageSize)) / static_cast<double>(kLn2Single) + 0.5);
    if (exponent >= kMaxExponent) {
        return 1 << kMaxExponent;
    }
    return 1 << static_cast<int>(exponent);
}

void TextureLoader::ChooseTextureSize(int imageWidth, int imageHeight, int maxSize,
                                      int& textureWidth, int& textureHeight) const {
    textureWidth = TextureSizeFor(imageWidth, maxSize);
    textureHeight = TextureSizeFor(imageHeight, maxSize);
    // Only the width decides, so a narrow tall texture keeps its full height.
    if (!highQuality && textureWidth > 64) {
        textureWidth /= 2;
        textureHeight /= 2;
    }
}

void TextureLoader::UploadTexture(const TextureRecord& record, const std::uint8_t* pixels) const {
    const GLint components = record.format == GL_RGBA ? 4 : 3;
    const auto format = static_cast<GLenum>(record.format);
    glBindTexture(GL_TEXTURE_2D, record.name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);

    if (filter != TextureFilter::Bilinear && filter != TextureFilter::Trilinear) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        // Not put back: every pixel transfer in this program uses tightly packed rows.
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexImage2D(GL_TEXTURE_2D, 0, components, record.width, record.height, 0, format,
                     GL_UNSIGNED_BYTE, pixels);
        return;
    }

    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    const bool buildMipmaps = filter == TextureFilter::Trilinear || mipmapping;
    if (filter == TextureFilter::Trilinear) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    } else {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
                        mipmapping ? GL_LINEAR_MIPMAP_NEAREST : GL_LINEAR);
    }
    // The rows are tightly packed, so they must be read at an alignment of 1 (an RGB texture 1
    // or 2 pixels wide would be misread at 4); these paths put the caller's alignment back.
    GLint savedAlignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &savedAlignment);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (buildMipmaps) {
        gluBuild2DMipmaps(GL_TEXTURE_2D, components, record.width, record.height, format,
                          GL_UNSIGNED_BYTE, pixels);
    } else {
        glTexImage2D(GL_TEXTURE_2D, 0, components, record.width, record.height, 0, format,
                     GL_UNSIGNED_BYTE, pixels);
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, savedAlignment);
}

void TextureLoader::FreeTexture(const TextureRecord& record) const {
    if (record.name == 0) {
        return;
    }
    const GLuint name = record.name;
    glDeleteTextures(1, &name);
}

bool TextureLoader::LoadTextureFromFile(const std::string& fileName, TextureRecord& record) {
    // A URL goes to the decoder as it is; everything else is taken from the current directory
    // as it is now, not from where the program lives. The path is a string of any length; when
    // the directory cannot be read the name stays relative, which still resolves against it.
    std::string fullPath;
    if (fileName.find("http://") != std::string::npos) {
        fullPath = fileName;
    } else {
        fullPath = platform::GetCurrentDirectoryA();
        if (!fullPath.empty() && fullPath.back() != platform::kPathSeparator) {
            fullPath += platform::kPathSeparator;
        }
        fullPath += fileName;
    }

    // Taken from the name as given, so a dot in a directory of the full path never counts.
    const std::size_t dot = fileName.rfind('.');
    const std::string extension =
        dot == std::string::npos ? std::string() : fileName.substr(dot + 1);

    if (EqualsIgnoringCase(extension, "tga")) {
        return LoadTgaTexture(fullPath, record);
    }
    record.kind = ImageKindOther;
    for (const ExtensionKind& entry : kExtensionKinds) {
        if (EqualsIgnoringCase(extension, entry.extension)) {
            record.kind = entry.kind;
            break;
        }
    }
    return LoadPictureTexture(fullPath, record);
}

#include "platform/picture/picture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/picture/backend.h"

namespace platform {
namespace {

// Tried in this order; the first whose signature matches decodes the picture.
const PictureBackend* const kBackends[] = {
    &kJpegBackend, &kPixbufBackend, &kGifBackend, &kIcoBackend, &kEmfBackend, &kWmfBackend,
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

PictureResult ReadFile(const char* path, std::unique_ptr<std::uint8_t[]>& bytes,
                       std::size_t& size) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file) {
        return PictureResult::OpenFailed;
    }
    if (std::fseek(file.get(), 0, SEEK_END) != 0) {
        return PictureResult::OpenFailed;
    }
    const long length = std::ftell(file.get());
    if (length < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) {
        return PictureResult::OpenFailed;
    }
    if (static_cast<unsigned long>(length) > kMaxPictureBytes) {
        return PictureResult::TooLarge;
    }
    size = static_cast<std::size_t>(length);
    bytes.reset(new (std::nothrow) std::uint8_t[size == 0 ? 1 : size]);
    if (!bytes) {
        return PictureResult::OutOfMemory;
    }
    if (std::fread(bytes.get(), 1, size, file.get()) != size) {
        return PictureResult::OpenFailed;
    }
    return PictureResult::Ok;
}

PictureResult OpenBytes(std::unique_ptr<std::uint8_t[]> bytes, std::size_t size,
                        PicturePtr& picture) {
    for (const PictureBackend* backend : kBackends) {
        if (!backend->matches(bytes.get(), size)) {
            continue;
        }
        PicturePtr opened(new (std::nothrow) Picture);
        if (!opened) {
            return PictureResult::OutOfMemory;
        }
        opened->backend = backend;
        opened->bytes = std::move(bytes);
        opened->size = size;
        const PictureResult result = backend->open(*opened);
        if (result != PictureResult::Ok) {
            return result;
        }
        picture = std::move(opened);
        return PictureResult::Ok;
    }
    return PictureResult::UnknownFormat;
}

}  // namespace

void PictureDeleter::operator()(Picture* picture) const { delete picture; }

void SetBitmapSize(Picture& picture, std::int32_t width, std::int32_t height) {
    picture.pixelWidth = width;
    picture.pixelHeight = height;
    picture.widthHimetric = static_cast<std::int32_t>(
        (static_cast<std::int64_t>(width) * kHimetricPerInch + kLogicalPixelsPerInch / 2) /
        kLogicalPixelsPerInch);
    picture.heightHimetric = static_cast<std::int32_t>(
        (static_cast<std::int64_t>(height) * kHimetricPerInch + kLogicalPixelsPerInch / 2) /
        kLogicalPixelsPerInch);
}

bool PixelCountAllowed(std::int64_t width, std::int64_t height) {
    if (width <= 0 || height <= 0) {
        return false;
    }
    return static_cast<std::uint64_t>(width) <= kMaxPicturePixels / static_cast<std::uint64_t>(height);
}

bool MetafileDrawingAllowed(std::size_t records, int width, int height) {
    // Record × target-side products up to this draw in about a second (librsvg's antialiased
    // strokes are the slower of the two players).
    constexpr std::uint64_t kMaxRecordSpan = std::uint64_t{1} << 25;
    const std::uint64_t span = static_cast<std::uint64_t>(std::max(width, 0)) +
                               static_cast<std::uint64_t>(std::max(height, 0));
    return span == 0 || records <= kMaxRecordSpan / span;
}

PictureResult OleLoadPicturePath(const char* pathOrUrl, PicturePtr& picture) {
    if (pathOrUrl == nullptr) {
        return PictureResult::OpenFailed;
    }
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t size = 0;
    if (std::strncmp(pathOrUrl, "http://", 7) == 0) {
        if (!FetchHttp(pathOrUrl, bytes, size)) {
            return PictureResult::OpenFailed;
        }
    } else {
        const PictureResult read = ReadFile(pathOrUrl, bytes, size);
        if (read != PictureResult::Ok) {
            return read;
        }
    }
    return OpenBytes(std::move(bytes), size, picture);
}

PictureResult LoadPictureFromMemory(const std::uint8_t* data, std::size_t size,
                                    PicturePtr& picture) {
    if (size > kMaxPictureBytes || (data == nullptr && size != 0)) {
        return PictureResult::TooLarge;
    }
    std::unique_ptr<std::uint8_t[]> bytes(new (std::nothrow) std::uint8_t[size == 0 ? 1 : size]);
    if (!bytes) {
        return PictureResult::OutOfMemory;
    }
    if (size != 0) {
        std::memcpy(bytes.get(), data, size);
    }
    return OpenBytes(std::move(bytes), size, picture);
}

std::int32_t PictureWidthHimetric(const Picture& picture) { return picture.widthHimetric; }
std::int32_t PictureHeightHimetric(const Picture& picture) { return picture.heightHimetric; }
const char* PictureFormatName(const Picture& picture) { return picture.backend->name; }

PictureResult RenderPicture(Picture& picture, std::uint8_t* pixels, int width, int height) {
    if (pixels == nullptr || !PixelCountAllowed(width, height)) {
        return PictureResult::TooLarge;
    }
    return picture.backend->render(picture, pixels, width, height);
}

}  // namespace platform

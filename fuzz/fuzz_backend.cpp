// One format's decoder on its own, past the recognition step, so the fuzzer's mutations are
// not wasted on inputs another format would claim first. VARNOLT_FUZZ_BACKEND names it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "platform/picture/backend.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const platform::PictureBackend& backend = platform::VARNOLT_FUZZ_BACKEND;
    if (!backend.matches(data, size)) {
        return 0;
    }
    platform::Picture picture;
    picture.backend = &backend;
    picture.bytes.reset(new (std::nothrow) std::uint8_t[size == 0 ? 1 : size]);
    if (!picture.bytes) {
        return 0;
    }
    if (size != 0) {
        std::memcpy(picture.bytes.get(), data, size);
    }
    picture.size = size;
    if (backend.open(picture) != platform::PictureResult::Ok) {
        return 0;
    }
    std::uint8_t pixels[64 * 48 * 4];
    backend.render(picture, pixels, 64, 48);
    std::uint8_t one[4];
    backend.render(picture, one, 1, 1);
    return 0;
}

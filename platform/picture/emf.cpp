// Placeholder until this format's decoder lands: recognises nothing.
#include "platform/picture/backend.h"

namespace platform {
namespace {
bool Matches(const std::uint8_t*, std::size_t) { return false; }
PictureResult Open(Picture&) { return PictureResult::UnknownFormat; }
PictureResult Render(Picture&, std::uint8_t*, int, int) { return PictureResult::UnknownFormat; }
}  // namespace

const PictureBackend kEmfBackend = {"emf", Matches, Open, Render};

}  // namespace platform

// Placeholder until URL fetching lands: every fetch fails.
#include "platform/picture/backend.h"

namespace platform {
bool FetchHttp(const char*, std::unique_ptr<std::uint8_t[]>&, std::size_t&) { return false; }
}  // namespace platform

// Fetches http:// pictures with libcurl into memory. Every fetch is bounded in time and size so a
// dead, slow or hostile server costs start-up seconds at most: the picture set loads before the
// first frame, and a hung download would freeze the program.
#include "platform/picture/fetch.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "platform/picture/backend.h"

namespace platform {
namespace {

// First allocation for a body of unknown length, bytes; it doubles from there.
constexpr std::size_t kInitialBodyBytes = std::size_t{64} << 10;

// The bounds every fetch runs with.
FetchLimits limits = DefaultFetchLimits();

// The body as it arrives, held to a cap the write callback enforces: libcurl's own maximum-size
// option only acts on a declared length, and an endless body declares none.
struct Body {
    std::unique_ptr<std::uint8_t[]> data;  // received bytes, owned
    std::size_t size = 0;                  // bytes received
    std::size_t capacity = 0;              // bytes allocated in data
    std::size_t limit = 0;                 // bytes accepted at most
};

// Grows the body's buffer to hold needed bytes, doubling, never past the cap; false when it
// cannot.
bool Reserve(Body& body, std::size_t needed) {
    if (needed <= body.capacity) {
        return true;
    }
    std::size_t capacity = std::max(body.capacity, kInitialBodyBytes);
    while (capacity < needed) {
        if (capacity >= body.limit) {
            return false;
        }
        capacity = capacity > body.limit / 2 ? body.limit : capacity * 2;
    }
    std::unique_ptr<std::uint8_t[]> grown(new (std::nothrow) std::uint8_t[capacity]);
    if (!grown) {
        return false;
    }
    if (body.size != 0) {
        std::memcpy(grown.get(), body.data.get(), body.size);
    }
    body.data = std::move(grown);
    body.capacity = capacity;
    return true;
}

// Appends a chunk of the body; returning less than was handed makes libcurl abort the transfer,
// which is how the cap cuts off a body that declared no length.
std::size_t WriteBody(char* chunk, std::size_t itemBytes, std::size_t items, void* context) {
    Body& body = *static_cast<Body*>(context);
    if (itemBytes != 0 && items > SIZE_MAX / itemBytes) {
        return 0;
    }
    const std::size_t bytes = itemBytes * items;
    if (bytes > body.limit - body.size || !Reserve(body, body.size + bytes)) {
        return 0;
    }
    if (bytes != 0) {
        std::memcpy(body.data.get() + body.size, chunk, bytes);
    }
    body.size += bytes;
    return bytes;
}

// Once per process, before the first handle; the program has one thread.
bool CurlReady() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

// Frees an easy handle.
struct CurlCleanup {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

// Applies every option; false when libcurl refuses one (an old libcurl lacking one would
// otherwise fetch with fewer bounds than intended).
bool Configure(CURL* curl, const char* url, Body& body) {
    // The cap is at most kMaxPictureBytes, far inside curl_off_t.
    const auto maxBytes = static_cast<curl_off_t>(body.limit);
    return curl_easy_setopt(curl, CURLOPT_URL, url) == CURLE_OK &&
           // Only plain http, for the request and for every redirect.
           curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http") == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http") == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_MAXREDIRS, limits.maxRedirects) == CURLE_OK &&
           // Timeouts without SIGALRM: signals would reach the rest of the program.
           curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, limits.totalTimeoutMs) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytesPerSecond) ==
               CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, limits.lowSpeedSeconds) == CURLE_OK &&
           // The body is taken as sent: no Accept-Encoding is offered and nothing is inflated,
           // so a small compressed body cannot grow into a huge one past the cap.
           curl_easy_setopt(curl, CURLOPT_HTTP_CONTENT_DECODING, 0L) == CURLE_OK &&
           // A declared length over the cap fails before any byte arrives.
           curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, maxBytes) == CURLE_OK &&
           // The program reads no environment: no proxy from http_proxy and the like.
           curl_easy_setopt(curl, CURLOPT_PROXY, "") == CURLE_OK &&
           // Error statuses end the transfer without downloading their bodies.
           curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteBody) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body) == CURLE_OK;
}

}  // namespace

FetchLimits DefaultFetchLimits() {
    FetchLimits defaults{};
    defaults.connectTimeoutMs = 10 * 1000;
    defaults.lowSpeedBytesPerSecond = 1024;
    defaults.lowSpeedSeconds = 10;
    defaults.totalTimeoutMs = 30 * 1000;
    defaults.maxRedirects = 5;
    defaults.maxBytes = kMaxPictureBytes;
    return defaults;
}

void SetFetchLimitsForTesting(const FetchLimits& replacement) {
    limits = replacement;
}

bool FetchHttp(const char* url, std::unique_ptr<std::uint8_t[]>& bytes, std::size_t& size) {
    if (url == nullptr || !CurlReady()) {
        return false;
    }
    const std::unique_ptr<CURL, CurlCleanup> curl(curl_easy_init());
    if (!curl) {
        return false;
    }
    Body body;
    body.limit = std::min(limits.maxBytes, kMaxPictureBytes);
    if (!Configure(curl.get(), url, body) || curl_easy_perform(curl.get()) != CURLE_OK) {
        return false;
    }
    // Only a plain success carries the picture, whatever another status's body holds.
    long status = 0;
    if (curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status) != CURLE_OK ||
        status != 200) {
        return false;
    }
    if (!body.data && !Reserve(body, 1)) {
        return false;
    }
    bytes = std::move(body.data);
    size = body.size;
    return true;
}

}  // namespace platform

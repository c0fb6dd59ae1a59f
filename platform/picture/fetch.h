// The bounds of the http:// fetcher, and the one way to change them, which only tests use so that
// the slow-server cases finish in seconds; the program itself fetches with the defaults.
#pragma once

#include <cstddef>

namespace platform {

// How long and how much one fetch may take before it is abandoned.
struct FetchLimits {
    long connectTimeoutMs;        // milliseconds until the connection must stand
    long lowSpeedBytesPerSecond;  // bytes per second the transfer must keep up ...
    long lowSpeedSeconds;         // ... over this many seconds, or it is cut
    long totalTimeoutMs;          // milliseconds for the whole fetch, redirects included
    long maxRedirects;            // redirects followed
    std::size_t maxBytes;         // bytes of body accepted
};

// The limits a picture set loads with: a dead server costs start-up seconds, never minutes.
FetchLimits DefaultFetchLimits();

// Replaces the limits of every fetch that follows; tests only.
void SetFetchLimitsForTesting(const FetchLimits& limits);

}  // namespace platform

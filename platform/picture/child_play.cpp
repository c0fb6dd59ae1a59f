#include "platform/picture/child_play.h"

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

namespace platform {
namespace {

// What the child hands back ahead of the pixels in the shared mapping.
struct ChildReport {
    int result;  // PictureResult of the play, as an int
};
constexpr std::size_t kReportBytes = 64;  // keeps the pixels after it 64-byte aligned

struct SharedMapping {
    void* address = MAP_FAILED;  // start of the mapping
    std::size_t bytes = 0;       // its length
    ~SharedMapping() {
        if (address != MAP_FAILED)
            munmap(address, bytes);
    }
};

// Waits for the child until limit has passed, then kills it; true when it exited by itself
// with 0.
bool WaitForChild(pid_t child, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) {
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        if ((done < 0 && errno != EINTR) || std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            return false;
        }
        timespec pause{0, 1000000L};  // 1 ms
        nanosleep(&pause, nullptr);
    }
}

}  // namespace

PictureResult PlayInChild(Picture& picture, std::uint8_t* pixels, int width, int height,
                          PictureResult (*play)(Picture& picture, std::uint8_t* target, int width,
                                                int height),
                          std::chrono::milliseconds limit) {
    const std::size_t pixelBytes =
        static_cast<std::size_t>(width) * 4 * static_cast<std::size_t>(height);
    SharedMapping shared;
    shared.bytes = kReportBytes + pixelBytes;
    shared.address =
        mmap(nullptr, shared.bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared.address == MAP_FAILED) {
        return PictureResult::OutOfMemory;
    }
    auto* report = static_cast<ChildReport*>(shared.address);
    report->result = static_cast<int>(PictureResult::Corrupt);
    std::uint8_t* sharedPixels = static_cast<std::uint8_t*>(shared.address) + kReportBytes;
    const pid_t child = fork();
    if (child < 0) {
        return PictureResult::OutOfMemory;
    }
    if (child == 0) {
        // _exit, not exit: the child must not run the parent's exit handlers or flush its
        // buffered output a second time.
        report->result = static_cast<int>(play(picture, sharedPixels, width, height));
        _exit(0);
    }
    std::memset(pixels, 0, pixelBytes);
    if (!WaitForChild(child, limit)) {
        return PictureResult::Corrupt;
    }
    const auto result = static_cast<PictureResult>(report->result);
    if (result == PictureResult::Ok) {
        std::memcpy(pixels, sharedPixels, pixelBytes);
    }
    return result;
}

}  // namespace platform

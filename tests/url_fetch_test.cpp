// Pictures from http:// URLs, against a small HTTP server the test runs on 127.0.0.1: good
// pictures load as their bytes would from a file; error statuses, redirect loops and other
// protocols fail; servers that never answer, trickle, never finish, send without end or send a
// compression bomb are cut off by the fetcher's own bounds. The slow cases run with shortened
// bounds so they end in seconds; one runs with the shipped ones.
#include <GL/gl.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/picture/backend.h"
#include "platform/picture/fetch.h"
#include "platform/picture/picture.h"
#include "support/test_support.h"
#include "textures/texture_loader.h"
#include "textures/texture_record.h"

namespace {

using platform::PicturePtr;
using platform::PictureResult;

// ---------------------------------------------------------------------------------------------
// The server.

// One accepted connection, its request head already read.
struct Connection {
    int socket = -1;      // the accepted socket
    int stopSignal = -1;  // readable once the server is stopping
    std::string request;  // the request line and headers
};

// Waits up to ms milliseconds; false as soon as the client hangs up or the server stops, true
// when the time passed with the client still there.
bool Wait(const Connection& connection, int ms) {
    pollfd fds[2] = {{connection.socket, POLLIN, 0}, {connection.stopSignal, POLLIN, 0}};
    const int ready = poll(fds, 2, ms);
    if (ready == 0) {
        return true;
    }
    if (ready < 0 || fds[1].revents != 0) {
        return false;
    }
    char scratch[512];
    return recv(connection.socket, scratch, sizeof scratch, MSG_DONTWAIT) > 0;
}

// Sends all of bytes; false once the client has gone (no SIGPIPE) or the server stops.
bool Send(const Connection& connection, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        pollfd fds[2] = {{connection.socket, POLLOUT, 0}, {connection.stopSignal, POLLIN, 0}};
        if (poll(fds, 2, 1000) < 0 || fds[1].revents != 0 ||
            (fds[0].revents & (POLLERR | POLLHUP)) != 0) {
            return false;
        }
        if ((fds[0].revents & POLLOUT) == 0) {
            continue;
        }
        const ssize_t n =
            send(connection.socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// The path of the request line, "GET /path HTTP/1.1".
std::string PathOf(const std::string& request) {
    const std::size_t start = request.find(' ');
    const std::size_t end = request.find(' ', start + 1);
    return start == std::string::npos || end == std::string::npos
               ? std::string()
               : request.substr(start + 1, end - start - 1);
}

std::string Response(int status, const std::string& body, const std::string& headers = "") {
    return "HTTP/1.1 " + std::to_string(status) +
           " Whatever\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n" + headers + "\r\n" + body;
}

// Serves one connection at a time on 127.0.0.1 at a port the kernel picks, from its own thread,
// until destroyed.
class LoopbackServer {
  public:
    using Handler = std::function<void(const Connection&)>;

    explicit LoopbackServer(Handler handler) : handler_(std::move(handler)) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        socklen_t length = sizeof address;
        if (listener_ < 0 || pipe2(stop_, O_CLOEXEC) != 0 ||
            bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener_, 16) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Run(); });
    }

    ~LoopbackServer() {
        if (thread_.joinable()) {
            const char byte = 0;
            EXPECT_EQ(write(stop_[1], &byte, 1), 1);
            thread_.join();
        }
        for (int fd : {listener_, stop_[0], stop_[1]}) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }

    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    bool Running() const { return port_ != 0; }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    int Port() const { return port_; }
    int Connections() const { return connections_; }
    std::vector<std::string> Requests() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

  private:
    void Run() {
        for (;;) {
            pollfd fds[2] = {{listener_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            if (fds[1].revents != 0) {
                return;
            }
            const int accepted = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (accepted < 0) {
                continue;
            }
            ++connections_;
            Connection connection;
            connection.socket = accepted;
            connection.stopSignal = stop_[0];
            connection.request = ReadHead(connection);
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(connection.request);
            }
            handler_(connection);
            close(accepted);
        }
    }

    // Up to the blank line ending the head; what came when the client goes quiet for 2 s.
    static std::string ReadHead(const Connection& connection) {
        std::string head;
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
            pollfd fds[2] = {{connection.socket, POLLIN, 0}, {connection.stopSignal, POLLIN, 0}};
            if (poll(fds, 2, 2000) <= 0 || fds[1].revents != 0) {
                break;
            }
            char chunk[4096];
            const ssize_t n = recv(connection.socket, chunk, sizeof chunk, 0);
            if (n <= 0) {
                break;
            }
            head.append(chunk, static_cast<std::size_t>(n));
        }
        return head;
    }

    Handler handler_;
    int listener_ = -1;
    int stop_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<int> connections_{0};
    std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// ---------------------------------------------------------------------------------------------
// Bodies.

void AppendLe(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>(value >> (8 * i)));
    }
}

// A 4 × 2 24-bit BMP: bottom row red, top row blue.
std::string SmallBmp() {
    std::string rows;
    for (const char* colour : {"\x00\x00\xFF", "\xFF\x00\x00"}) {  // blue, green, red
        for (int x = 0; x < 4; ++x) {
            rows.append(colour, 3);
        }
    }
    std::string out = "BM";
    AppendLe(out, static_cast<std::uint32_t>(54 + rows.size()), 4);
    AppendLe(out, 0, 4);
    AppendLe(out, 54, 4);
    AppendLe(out, 40, 4);
    AppendLe(out, 4, 4);
    AppendLe(out, 2, 4);
    AppendLe(out, 1, 2);
    AppendLe(out, 24, 2);
    for (int i = 0; i < 6; ++i) {
        AppendLe(out, 0, 4);
    }
    return out + rows;
}

std::uint32_t Crc32OfZeros(std::uint64_t count) {
    std::uint32_t table[256];
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        table[i] = c;
    }
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint64_t i = 0; i < count; ++i) {
        crc = table[crc & 0xFF] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFu;
}

// A valid gzip member that inflates to inflated zero bytes, about 160 times smaller: one fixed-
// Huffman deflate block of a literal zero and then matches of 258 at distance 1.
std::string GzipOfZeros(std::uint64_t matches, std::uint64_t& inflated) {
    std::string out = std::string("\x1F\x8B\x08\x00\x00\x00\x00\x00\x00\x03", 10);
    std::uint32_t bits = 0;
    int count = 0;
    auto put = [&](std::uint32_t value, int length) {  // LSB first
        bits |= value << count;
        count += length;
        while (count >= 8) {
            out.push_back(static_cast<char>(bits & 0xFF));
            bits >>= 8;
            count -= 8;
        }
    };
    auto putCode = [&](std::uint32_t code, int length) {  // Huffman codes go MSB first
        for (int i = length - 1; i >= 0; --i) {
            put((code >> i) & 1, 1);
        }
    };
    put(1, 1);         // last block
    put(1, 2);         // fixed Huffman codes
    putCode(0x30, 8);  // literal 0
    for (std::uint64_t i = 0; i < matches; ++i) {
        putCode(0xC5, 8);  // length code 285: 258
        putCode(0, 5);     // distance code 0: 1
    }
    putCode(0, 7);  // end of block
    if (count > 0) {
        out.push_back(static_cast<char>(bits));
    }
    inflated = 1 + 258 * matches;
    AppendLe(out, Crc32OfZeros(inflated), 4);
    AppendLe(out, static_cast<std::uint32_t>(inflated), 4);
    return out;
}

// ---------------------------------------------------------------------------------------------
// The tests.

// Bounds short enough for the slow cases to end in a few seconds.
platform::FetchLimits ShortLimits() {
    platform::FetchLimits limits = platform::DefaultFetchLimits();
    limits.connectTimeoutMs = 2000;
    limits.lowSpeedBytesPerSecond = 1024;
    limits.lowSpeedSeconds = 1;
    limits.totalTimeoutMs = 4000;
    limits.maxBytes = std::size_t{1} << 20;
    return limits;
}

class UrlTest : public ::testing::Test {
  protected:
    void SetUp() override { platform::SetFetchLimitsForTesting(ShortLimits()); }
    void TearDown() override { platform::SetFetchLimitsForTesting(platform::DefaultFetchLimits()); }

    static bool Fetch(const std::string& url, std::string& body) {
        std::unique_ptr<std::uint8_t[]> bytes;
        std::size_t size = 0;
        if (!platform::FetchHttp(url.c_str(), bytes, size)) {
            return false;
        }
        body.assign(reinterpret_cast<const char*>(bytes.get()), size);
        return true;
    }
};

struct GoodCase {
    const char* name;  // what is served
    std::string body;  // the picture's bytes; empty when the corpus is missing
};

std::vector<GoodCase> GoodPictures() {
    const std::string corpus = testing_support::CorpusDir();
    auto corpusFile = [&](const char* file) {
        return corpus.empty() ? std::string() : testing_support::ReadFileBytes(corpus + file);
    };
    return {
        {"bmp", SmallBmp()},
        {"jpeg", corpusFile("/jpg/hopper.jpg")},
        {"emf", corpusFile("/emf/drawing.emf")},
        {"wmf", corpusFile("/wmf/drawing.wmf")},
    };
}

// A URL picture opens as the same bytes do from memory: same format, same size, same pixels,
// and the URL reached the server unchanged.
void ExpectLoadsAsItsBytesDo(const GoodCase& c) {
    SCOPED_TRACE(c.name);
    if (c.body.empty()) {
        return;  // no shared corpus beside the checkout
    }
    const std::string& body = c.body;
    LoopbackServer server(
        [&body](const Connection& connection) { Send(connection, Response(200, body)); });
    ASSERT_TRUE(server.Running());
    const std::string path = std::string("/pictures/picture.") + c.name + "?v=1";

    PicturePtr fromUrl;
    ASSERT_EQ(platform::OleLoadPicturePath(server.Url(path).c_str(), fromUrl), PictureResult::Ok);
    PicturePtr fromMemory;
    ASSERT_EQ(platform::LoadPictureFromMemory(reinterpret_cast<const std::uint8_t*>(body.data()),
                                              body.size(), fromMemory),
              PictureResult::Ok);
    EXPECT_STREQ(platform::PictureFormatName(*fromUrl), platform::PictureFormatName(*fromMemory));
    EXPECT_EQ(platform::PictureWidthHimetric(*fromUrl),
              platform::PictureWidthHimetric(*fromMemory));
    EXPECT_EQ(platform::PictureHeightHimetric(*fromUrl),
              platform::PictureHeightHimetric(*fromMemory));
    std::vector<std::uint8_t> a(16 * 8 * 4, 1);
    std::vector<std::uint8_t> b(16 * 8 * 4, 2);
    ASSERT_EQ(platform::RenderPicture(*fromUrl, a.data(), 16, 8), PictureResult::Ok);
    ASSERT_EQ(platform::RenderPicture(*fromMemory, b.data(), 16, 8), PictureResult::Ok);
    EXPECT_EQ(a, b);
    const std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(PathOf(requests[0]), path);
}

TEST_F(UrlTest, GoodPicturesLoadAsTheirBytesDo) {
    for (const GoodCase& c : GoodPictures()) {
        ExpectLoadsAsItsBytesDo(c);
    }
}

// The BMP's colours arrive intact: the fetched bytes are the served ones.
TEST_F(UrlTest, FetchedBmpDrawsItsColours) {
    const std::string body = SmallBmp();
    LoopbackServer server(
        [&body](const Connection& connection) { Send(connection, Response(200, body)); });
    ASSERT_TRUE(server.Running());
    PicturePtr picture;
    ASSERT_EQ(platform::OleLoadPicturePath(server.Url("/small.bmp").c_str(), picture),
              PictureResult::Ok);
    std::vector<std::uint8_t> pixels(4 * 2 * 4, 0xA5);
    ASSERT_EQ(platform::RenderPicture(*picture, pixels.data(), 4, 2), PictureResult::Ok);
    // Row 0 is the bottom row: red; row 1 blue.
    EXPECT_EQ(pixels[2], 0xFF);
    EXPECT_EQ(pixels[0], 0x00);
    EXPECT_EQ(pixels[16], 0xFF);
    EXPECT_EQ(pixels[18], 0x00);
}

// The loader's own path: a name with "http://" is fetched as it stands (never joined to the
// current directory) and becomes a keyed RGBA texture like a file would.
TEST_F(UrlTest, LoaderTurnsAUrlIntoATexture) {
    ASSERT_TRUE(testing_support::EnsureGlContext());
    const std::string body = SmallBmp();
    LoopbackServer server(
        [&body](const Connection& connection) { Send(connection, Response(200, body)); });
    ASSERT_TRUE(server.Running());
    TextureLoader loader;
    TextureRecord record;
    ASSERT_TRUE(loader.LoadTextureFromFile(server.Url("/small.bmp"), record));
    EXPECT_NE(record.name, 0u);
    EXPECT_EQ(record.kind, ImageKindBmp);
    EXPECT_EQ(record.format, GL_RGBA);
    EXPECT_EQ(record.width, 4);
    EXPECT_EQ(record.height, 2);
    loader.FreeTexture(record);

    TextureRecord missing;
    EXPECT_FALSE(loader.LoadTextureFromFile("http://127.0.0.1:1/closed.jpg", missing));
    EXPECT_EQ(missing.name, 0u);
}

// Only 200 carries a picture, whatever the body of another status holds.
TEST_F(UrlTest, OnlyStatus200Succeeds) {
    const std::string bmp = SmallBmp();
    const struct {
        int status;
        bool fetched;
    } cases[] = {{200, true},  {203, false}, {204, false}, {206, false},
                 {404, false}, {410, false}, {500, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        const std::string body = c.status == 204 ? std::string() : bmp;
        LoopbackServer server(
            [&](const Connection& connection) { Send(connection, Response(c.status, body)); });
        ASSERT_TRUE(server.Running());
        std::string fetched;
        EXPECT_EQ(Fetch(server.Url("/p.bmp"), fetched), c.fetched);
        if (c.fetched) {
            EXPECT_EQ(fetched, bmp);
        }
    }
}

TEST_F(UrlTest, A404WithAPictureBodyFailsTheLoad) {
    const std::string bmp = SmallBmp();
    LoopbackServer server(
        [&bmp](const Connection& connection) { Send(connection, Response(404, bmp)); });
    ASSERT_TRUE(server.Running());
    PicturePtr picture;
    EXPECT_EQ(platform::OleLoadPicturePath(server.Url("/missing.bmp").c_str(), picture),
              PictureResult::OpenFailed);
    EXPECT_EQ(picture, nullptr);
}

// /hop/N redirects to /hop/N-1 and /hop/0 answers; /loop/a and /loop/b send to each other.
void Redirector(const Connection& connection, const std::string& body) {
    const std::string path = PathOf(connection.request);
    std::string next;
    if (path == "/loop/a") {
        next = "/loop/b";
    } else if (path == "/loop/b") {
        next = "/loop/a";
    } else if (path.rfind("/hop/", 0) == 0 && path != "/hop/0") {
        next = "/hop/" + std::to_string(std::stoi(path.substr(5)) - 1);
    }
    if (next.empty()) {
        Send(connection, Response(200, body));
    } else {
        Send(connection, Response(302, "", "Location: " + next + "\r\n"));
    }
}

TEST_F(UrlTest, FollowsAtMostFiveRedirects) {
    const std::string bmp = SmallBmp();
    const struct {
        const char* path;
        bool fetched;
        int connections;  // requests the server saw
    } cases[] = {{"/hop/5", true, 6}, {"/hop/6", false, 6}, {"/loop/a", false, 6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        LoopbackServer server(
            [&bmp](const Connection& connection) { Redirector(connection, bmp); });
        ASSERT_TRUE(server.Running());
        std::string fetched;
        EXPECT_EQ(Fetch(server.Url(c.path), fetched), c.fetched);
        if (c.fetched) {
            EXPECT_EQ(fetched, bmp);
        }
        EXPECT_EQ(server.Connections(), c.connections);
    }
}

// Redirects may only lead to plain http: the target is never contacted, though a server listens
// where it points.
TEST_F(UrlTest, RefusesRedirectsToOtherProtocols) {
    for (const char* scheme : {"https", "ftp", "file", "gopher"}) {
        SCOPED_TRACE(scheme);
        std::atomic<int> port{0};
        LoopbackServer server([&](const Connection& connection) {
            const std::string target =
                std::string(scheme) +
                (std::string(scheme) == "file"
                     ? ":///etc/hostname"
                     : "://127.0.0.1:" + std::to_string(port.load()) + "/p.bmp");
            Send(connection, Response(302, "", "Location: " + target + "\r\n"));
        });
        ASSERT_TRUE(server.Running());
        port = server.Port();
        std::string fetched;
        EXPECT_FALSE(Fetch(server.Url("/start"), fetched));
        EXPECT_EQ(server.Connections(), 1);
    }
}

TEST_F(UrlTest, RefusesOtherProtocolsOutright) {
    LoopbackServer server(
        [](const Connection& connection) { Send(connection, Response(200, SmallBmp())); });
    ASSERT_TRUE(server.Running());
    for (const char* scheme : {"https", "ftp", "dict", "HTTPS"}) {
        SCOPED_TRACE(scheme);
        std::string fetched;
        EXPECT_FALSE(Fetch(
            std::string(scheme) + "://127.0.0.1:" + std::to_string(server.Port()) + "/p", fetched));
    }
    EXPECT_EQ(server.Connections(), 0);
}

// Each of these servers would hold a fetch without bounds; the fetch must give up by itself
// (a test that hangs here is caught by the test timeout).
TEST_F(UrlTest, SlowAndEndlessServersAreCutOff) {
    const struct {
        const char* name;
        LoopbackServer::Handler handler;
    } cases[] = {
        {"never answers",
         [](const Connection& connection) {
             while (Wait(connection, 1000)) {
             }
         }},
        {"trickles a byte every 100 ms",
         [](const Connection& connection) {
             if (Send(connection,
                      "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nConnection: close\r\n\r\n")) {
                 while (Wait(connection, 100) && Send(connection, "x")) {
                 }
             }
         }},
        {"steady above the low-speed bound, never finishing",
         [](const Connection& connection) {
             if (Send(connection,
                      "HTTP/1.1 200 OK\r\nContent-Length: 500000\r\nConnection: close\r\n\r\n")) {
                 const std::string chunk(4096, 'x');
                 while (Wait(connection, 100) && Send(connection, chunk)) {
                 }
             }
         }},
        {"endless body without a length",
         [](const Connection& connection) {
             if (Send(connection, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n")) {
                 const std::string chunk(65536, 'x');
                 while (Send(connection, chunk)) {
                 }
             }
         }},
        {"declared length over the cap",
         [](const Connection& connection) {
             Send(connection, Response(200, std::string((std::size_t{1} << 20) + 1, 'x')));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackServer server(c.handler);
        ASSERT_TRUE(server.Running());
        std::string fetched;
        EXPECT_FALSE(Fetch(server.Url("/p.bmp"), fetched));
        PicturePtr picture;
        EXPECT_EQ(platform::OleLoadPicturePath(server.Url("/p.bmp").c_str(), picture),
                  PictureResult::OpenFailed);
    }
}

// The cap is exact, with a declared length or without.
TEST_F(UrlTest, BodiesUpToTheCapArriveWhole) {
    platform::FetchLimits limits = ShortLimits();
    limits.maxBytes = 65536;
    platform::SetFetchLimitsForTesting(limits);
    const struct {
        std::size_t bytes;
        bool declared;
        bool fetched;
    } cases[] = {
        {65536, true, true}, {65536, false, true}, {65537, true, false}, {65537, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.bytes) + (c.declared ? " declared" : " undeclared"));
        const std::string body(c.bytes, 'x');
        LoopbackServer server([&](const Connection& connection) {
            Send(connection, c.declared ? Response(200, body)
                                        : "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body);
        });
        ASSERT_TRUE(server.Running());
        std::string fetched;
        EXPECT_EQ(Fetch(server.Url("/p"), fetched), c.fetched);
        if (c.fetched) {
            EXPECT_EQ(fetched.size(), c.bytes);
        }
    }
}

// A gzip body that would inflate to 64 MiB, far over the 1 MiB cap, is handed over as sent
// (about 400 KiB): nothing asks for compression, nothing inflates it, and it decodes as no
// picture.
TEST_F(UrlTest, CompressedBodiesAreNotInflated) {
    std::uint64_t inflated = 0;
    const std::string bomb = GzipOfZeros((std::uint64_t{64} << 20) / 258, inflated);
    ASSERT_GT(inflated, std::uint64_t{64} * 1000 * 1000);
    LoopbackServer server([&bomb](const Connection& connection) {
        Send(connection, Response(200, bomb, "Content-Encoding: gzip\r\n"));
    });
    ASSERT_TRUE(server.Running());
    std::string fetched;
    ASSERT_TRUE(Fetch(server.Url("/bomb.bmp"), fetched));
    EXPECT_EQ(fetched, bomb);
    PicturePtr picture;
    EXPECT_NE(platform::OleLoadPicturePath(server.Url("/bomb.bmp").c_str(), picture),
              PictureResult::Ok);
    for (const std::string& request : server.Requests()) {
        EXPECT_EQ(request.find("Accept-Encoding"), std::string::npos) << request;
    }
}

// With the limits the program ships, a server that never answers still ends the fetch.
TEST_F(UrlTest, ShippedLimitsEndAFetchThatNeverAnswers) {
    platform::SetFetchLimitsForTesting(platform::DefaultFetchLimits());
    LoopbackServer server([](const Connection& connection) {
        while (Wait(connection, 1000)) {
        }
    });
    ASSERT_TRUE(server.Running());
    PicturePtr picture;
    EXPECT_EQ(platform::OleLoadPicturePath(server.Url("/p.jpg").c_str(), picture),
              PictureResult::OpenFailed);
}

// Nothing listens on the port: the fetch fails at once.
TEST_F(UrlTest, ClosedPortFails) {
    int port = 0;
    {
        LoopbackServer server([](const Connection&) {});
        ASSERT_TRUE(server.Running());
        port = server.Port();
    }
    std::string fetched;
    EXPECT_FALSE(Fetch("http://127.0.0.1:" + std::to_string(port) + "/p.bmp", fetched));
}

}  // namespace

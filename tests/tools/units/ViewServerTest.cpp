// The live view's server on loopback: its own files and nothing else,
// requests it refuses, twenty viewers at once, a viewer that stops reading,
// viewers that go, and a port already in use.
#include "ViewServer.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Capture::ViewServer;
using namespace std::chrono_literals;

constexpr auto Limit = 10s;

// A folder with the page's files (and one in a subfolder, never served).
struct Files {
    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                ("quelto-view-test-" + std::to_string(::getpid()));
    Files() {
        std::filesystem::create_directories(dir / "sub");
        std::ofstream(dir / "index.html") << "<!doctype html><title>view</title>";
        std::ofstream(dir / "view.js") << "console.log(1);";
        std::ofstream(dir / "sub" / "hidden.js") << "secret";
    }
    ~Files() { std::filesystem::remove_all(dir); }
};

std::unique_ptr<ViewServer> Serve(const Files& files) {
    return std::make_unique<ViewServer>(Capture::Endpoint{"127.0.0.1", 0}, Capture::ReadServedFiles(files.dir.string()));
}

// Sends `request` on a fresh connection and reads until the server closes
// it or Limit passes.
std::string Exchange(uint16_t port, const std::string& request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
        ::close(fd);
        return "connect failed";
    }
    (void)::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string reply;
    const auto end = std::chrono::steady_clock::now() + Limit;
    char buffer[4096];
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        reply.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return reply;
}

std::string Get(uint16_t port, const std::string& target) {
    return Exchange(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

// The reply's status code; 0 when there is no HTTP reply.
int Status(const std::string& reply) {
    return reply.rfind("HTTP/1.", 0) == 0 && reply.size() > 12 ? std::stoi(reply.substr(9, 3)) : 0;
}

// A WebSocket viewer with reads bounded in time.
struct Viewer {
    net::io_context io;
    websocket::stream<tcp::socket> ws{io};

    explicit Viewer(uint16_t port, int receiveBuffer = 0) {
        ws.next_layer().open(tcp::v4());
        if (receiveBuffer) ws.next_layer().set_option(net::socket_base::receive_buffer_size(receiveBuffer));
        ws.next_layer().connect({net::ip::address_v4::loopback(), port});
        ws.handshake("127.0.0.1", "/stream");
    }
    // The next message, or "" when none comes within Limit or the stream ends.
    std::string Read() {
        beast::flat_buffer buffer;
        bool done = false;
        beast::error_code result;
        ws.async_read(buffer, [&](beast::error_code ec, size_t) {
            result = ec;
            done = true;
        });
        io.restart();
        io.run_for(Limit);
        if (!done) {
            ws.next_layer().cancel();
            io.restart();
            io.run();
            return "";
        }
        return result ? "" : beast::buffers_to_string(buffer.data());
    }
};

bool PollUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + Limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

TEST(ViewServer, ServesItsOwnFilesAndNothingElse) {
    Files files;
    auto server = Serve(files);
    const uint16_t port = server->Port();
    EXPECT_EQ(server->Url(), "http://127.0.0.1:" + std::to_string(port) + "/");

    std::string reply = Get(port, "/");
    EXPECT_EQ(Status(reply), 200) << reply;
    EXPECT_NE(reply.find("Content-Type: text/html"), std::string::npos);
    EXPECT_NE(reply.find("<title>view</title>"), std::string::npos);
    reply = Get(port, "/view.js");
    EXPECT_EQ(Status(reply), 200);
    EXPECT_NE(reply.find("text/javascript"), std::string::npos);

    for (const char* target : {"/missing.js", "/sub/hidden.js", "/../index.html", "/%2e%2e/etc/passwd",
                               "//etc/passwd", "/view.js?x=1", "/stream", "index.html"}) {
        reply = Get(port, target);
        EXPECT_EQ(Status(reply), 404) << target << "\n" << reply;
        EXPECT_EQ(reply.find("secret"), std::string::npos);
    }
    reply = Exchange(port, "POST / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(Status(reply), 405) << reply;
}

TEST(ViewServer, RefusesMalformedAndOversizedRequestsAndClosesTheConnection) {
    Files files;
    auto server = Serve(files);
    const uint16_t port = server->Port();
    EXPECT_EQ(Status(Exchange(port, "NOT HTTP AT ALL\r\n\r\n")), 400);
    EXPECT_EQ(Status(Exchange(port, "GET / HTTP/1.1\r\nHost: x\r\nBad Header Line\r\n\r\n")), 400);
    const std::string big(ViewServer::HeaderLimit, 'a');
    EXPECT_EQ(Status(Exchange(port, "GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + big + "\r\n\r\n")), 431);
    EXPECT_EQ(Status(Exchange(port, "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 100000\r\n\r\n" + std::string(100, 'b'))),
              413);
    // The server still answers.
    EXPECT_EQ(Status(Get(port, "/")), 200);
}

TEST(ViewServer, TwentyViewersAtOnceGetTheGreetingAndTheFramesInOrder) {
    Files files;
    auto server = Serve(files);
    server->SetGreeting("hello");
    constexpr int Viewers = 20, Frames = 200;
    std::vector<std::unique_ptr<Viewer>> viewers;
    for (int i = 0; i < Viewers; ++i) viewers.push_back(std::make_unique<Viewer>(server->Port()));
    ASSERT_TRUE(PollUntil([&] { return server->Viewers() == Viewers; }));
    std::vector<int> last(Viewers, -1), received(Viewers, 0);
    std::vector<char> ordered(Viewers, 1), greeted(Viewers, 0);  // one reader thread each
    std::vector<std::thread> readers;
    for (int v = 0; v < Viewers; ++v) {
        readers.emplace_back([&, v] {
            greeted[v] = viewers[v]->Read() == "hello";
            while (last[v] < Frames - 1) {
                const std::string m = viewers[v]->Read();
                if (m.empty()) return;
                const int n = std::stoi(m.substr(6));
                ordered[v] = ordered[v] && n > last[v];
                last[v] = n;
                ++received[v];
            }
        });
    }
    for (int f = 0; f < Frames; ++f) server->Broadcast("frame " + std::to_string(f));
    for (auto& t : readers) t.join();
    for (int v = 0; v < Viewers; ++v) {
        EXPECT_TRUE(greeted[v]) << v;
        EXPECT_TRUE(ordered[v]) << v;
        // The newest frame is never the one dropped.
        EXPECT_EQ(last[v], Frames - 1) << v;
    }
    // Whatever a viewer missed was counted.
    uint64_t got = 0;
    for (int r : received) got += static_cast<uint64_t>(r);
    EXPECT_EQ(got + server->Dropped(), uint64_t{Viewers} * Frames);
}

TEST(ViewServer, AViewerThatStopsReadingCostsTheBroadcastNothing) {
    Files files;
    auto server = Serve(files);
    Viewer stalled(server->Port(), 4096);  // never reads
    Viewer reader(server->Port());
    ASSERT_TRUE(PollUntil([&] { return server->Viewers() == 2; }));
    constexpr int Frames = 2000;
    const std::string payload(20000, 'x');
    int last = -1;
    std::thread reading([&] {
        while (last < Frames - 1) {
            const std::string m = reader.Read();
            if (m.empty()) return;
            if (m.rfind("frame ", 0) == 0) last = std::stoi(m.substr(6, m.find(' ', 6) - 6));
        }
    });
    std::chrono::nanoseconds slowest{0};
    for (int f = 0; f < Frames; ++f) {
        const auto start = std::chrono::steady_clock::now();
        server->Broadcast("frame " + std::to_string(f) + " " + payload);
        slowest = std::max(slowest, std::chrono::steady_clock::now() - start);
    }
    reading.join();
    EXPECT_EQ(last, Frames - 1);
    // 40 MB were offered to the stalled viewer; all but a few frames (what
    // its queue and the sockets' buffers hold) were dropped instead of kept.
    EXPECT_GT(server->Dropped(), uint64_t{Frames} / 2);
    EXPECT_LT(slowest, 200ms);
    // Stopping does not wait for the stalled viewer either.
    const auto start = std::chrono::steady_clock::now();
    server->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}

TEST(ViewServer, ViewersThatGoAreForgottenAndGetACloseAtTheEnd) {
    Files files;
    auto server = Serve(files);
    {
        std::vector<std::unique_ptr<Viewer>> viewers;
        for (int i = 0; i < 5; ++i) viewers.push_back(std::make_unique<Viewer>(server->Port()));
        ASSERT_TRUE(PollUntil([&] { return server->Viewers() == 5; }));
        viewers[0]->ws.close(websocket::close_code::normal);  // a proper close
        viewers[1]->ws.next_layer().close();                   // gone without a word
        ASSERT_TRUE(PollUntil([&] { return server->Viewers() == 3; }));
    }  // the others drop their sockets
    ASSERT_TRUE(PollUntil([&] { return server->Viewers() == 0; }));
    Viewer last(server->Port());
    ASSERT_EQ(last.Read(), "{}");  // the greeting before any is set
    std::thread stop([&] { server->Stop(); });
    // The viewer sees the stream end (a close frame), not a hang.
    EXPECT_EQ(last.Read(), "");
    stop.join();
    EXPECT_EQ(Status(Get(server->Port(), "/")), 0);  // nothing listens any more
}

TEST(ViewServer, APortInUseIsRefusedWithTheReason) {
    Files files;
    auto first = Serve(files);
    try {
        ViewServer second({"127.0.0.1", first->Port()}, Capture::ReadServedFiles(files.dir.string()));
        FAIL() << "a second server listens on the same port";
    } catch (const std::runtime_error& e) {
        const std::string text = e.what();
        EXPECT_NE(text.find("127.0.0.1:" + std::to_string(first->Port())), std::string::npos) << text;
        EXPECT_NE(text.find("in use"), std::string::npos) << text;
    }
}

TEST(ViewServer, AddressesAreParsedAndLoopbackIsKnown) {
    EXPECT_EQ(Capture::ParseEndpoint("127.0.0.1:8080").port, 8080);
    EXPECT_EQ(Capture::ParseEndpoint("[::1]:0").host, "::1");
    for (const char* bad : {"8080", ":80", "host:", "host:http", "host:70000"}) {
        EXPECT_THROW(Capture::ParseEndpoint(bad), std::invalid_argument) << bad;
    }
    EXPECT_TRUE(Capture::IsLoopback("127.0.0.1"));
    EXPECT_TRUE(Capture::IsLoopback("127.1.2.3"));
    EXPECT_TRUE(Capture::IsLoopback("::1"));
    EXPECT_TRUE(Capture::IsLoopback("localhost"));
    EXPECT_FALSE(Capture::IsLoopback("0.0.0.0"));
    EXPECT_FALSE(Capture::IsLoopback("192.0.2.1"));
}

}  // namespace

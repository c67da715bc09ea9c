// The live view's web server (Boost.Beast over Asio, one network thread):
// GET of the page's own files, and a WebSocket at /stream on which every
// frame handed to Broadcast goes to every viewer. Read-only: what a viewer
// sends is read and dropped.
//
// Nothing waits on a viewer: Broadcast only queues the frame for each
// session, which keeps at most MaxQueued frames behind the one it is
// writing (and a socket send buffer of SendBuffer bytes); when a viewer
// falls behind, its oldest queued frame is dropped and counted. Requests are small (a header of at most 8 KiB, no
// body); a malformed one gets 400, an oversized one 431 or 413, a path
// that is not one of the files 404, and the connection is closed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace Capture {

struct ServedFile {
    std::string content;
    std::string type;  // Content-Type
};

// The files of a folder (not its subfolders) by request path: "/name", and
// "/" for index.html. Throws std::runtime_error when the folder cannot be
// read or holds no index.html.
std::map<std::string, ServedFile> ReadServedFiles(const std::string& folder);

// "127.0.0.1:8080", "[::1]:8080", "localhost:0" -> host and port; throws
// std::invalid_argument saying what is wrong.
struct Endpoint {
    std::string host;
    uint16_t port = 0;
};
Endpoint ParseEndpoint(const std::string& text);
// Whether a host names only this machine (127.0.0.0/8, ::1, localhost).
bool IsLoopback(const std::string& host);

class ViewServer {
public:
    static constexpr size_t MaxQueued = 8;        // frames behind the one in flight, per viewer
    static constexpr size_t MaxViewers = 64;      // more get 503
    static constexpr size_t HeaderLimit = 8192;   // bytes of a request's header
    static constexpr int SendBuffer = 256 * 1024; // the socket's send buffer per viewer

    // Binds and listens (so that a port in use fails here, before any
    // capture) and starts the network thread. Throws std::runtime_error
    // naming the address and the system's reason.
    ViewServer(const Endpoint& at, std::map<std::string, ServedFile> files);
    ~ViewServer();
    ViewServer(const ViewServer&) = delete;
    ViewServer& operator=(const ViewServer&) = delete;

    // The address and port bound ("127.0.0.1", 8080; the port chosen when
    // 0 was asked).
    const std::string& Host() const { return host_; }
    uint16_t Port() const { return port_; }
    // "http://127.0.0.1:8080/"
    std::string Url() const;

    // The first message of every new viewer (the page's setup); any thread.
    void SetGreeting(std::string text);
    // Sends `frame` to every viewer; any thread, never waits.
    void Broadcast(std::string frame);

    size_t Viewers() const;
    // Frames left out for viewers that fell behind, and frames written,
    // over all viewers.
    uint64_t Dropped() const;
    uint64_t Sent() const;

    // Closes every connection (a viewer gets a normal close) and ends the
    // network thread. Called by the destructor too.
    void Stop();

    struct State;  // the network side (ViewServer.cpp)

private:
    std::unique_ptr<State> state_;
    std::string host_;
    uint16_t port_ = 0;
    std::thread thread_;
    std::mutex stopMutex_;
    bool stopped_ = false;
};

}  // namespace Capture

#include "ViewServer.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace Capture {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

constexpr auto RequestTimeout = std::chrono::seconds(10);
constexpr auto CloseGrace = std::chrono::milliseconds(500);
constexpr const char* ServerName = "quelto-capture";
constexpr const char* StreamPath = "/stream";

std::string TypeOf(const std::filesystem::path& path) {
    const std::string ext = path.extension().string();
    if (ext == ".html") return "text/html; charset=utf-8";
    if (ext == ".js") return "text/javascript; charset=utf-8";
    if (ext == ".css") return "text/css; charset=utf-8";
    if (ext == ".png") return "image/png";
    if (ext == ".svg") return "image/svg+xml";
    if (ext == ".json") return "application/json";
    return "application/octet-stream";
}

}  // namespace

std::map<std::string, ServedFile> ReadServedFiles(const std::string& folder) {
    std::map<std::string, ServedFile> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        if (!in) throw std::runtime_error("cannot read " + entry.path().string());
        files["/" + entry.path().filename().string()] = {content.str(), TypeOf(entry.path())};
    }
    if (ec) throw std::runtime_error("the live view's files: cannot read " + folder + ": " + ec.message());
    const auto index = files.find("/index.html");
    if (index == files.end()) throw std::runtime_error("the live view's files: no index.html in " + folder);
    files["/"] = index->second;
    return files;
}

Endpoint ParseEndpoint(const std::string& text) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos) throw std::invalid_argument("'" + text + "' is not ADDRESS:PORT");
    Endpoint e;
    e.host = text.substr(0, colon);
    if (e.host.size() >= 2 && e.host.front() == '[' && e.host.back() == ']') e.host = e.host.substr(1, e.host.size() - 2);
    if (e.host.empty()) throw std::invalid_argument("'" + text + "' names no address");
    const std::string port = text.substr(colon + 1);
    size_t used = 0;
    unsigned long n = 0;
    try {
        n = std::stoul(port, &used);
    } catch (const std::logic_error&) {
        used = 0;
    }
    if (port.empty() || used != port.size() || n > 65535) {
        throw std::invalid_argument("'" + port + "' is not a port number (0 to 65535; 0: any free port)");
    }
    e.port = static_cast<uint16_t>(n);
    return e;
}

bool IsLoopback(const std::string& host) {
    if (host == "localhost") return true;
    boost::system::error_code ec;
    const auto address = net::ip::make_address(host, ec);
    return !ec && address.is_loopback();
}

// ------------------------------------------------------------------ state

class WsSession;

// Declared before the io_context: the handlers it still holds when it goes
// end their sessions, which count themselves out here.
struct ViewServer::State {
    std::atomic<size_t> viewers{0}, connections{0};
    std::atomic<uint64_t> dropped{0}, sent{0};
    std::mutex mutex;  // sessions, greeting, stopping
    std::shared_ptr<const std::string> greeting = std::make_shared<const std::string>("{}");
    bool stopping = false;
    std::map<std::string, ServedFile> files;

    net::io_context io{1};
    net::executor_work_guard<net::io_context::executor_type> work = net::make_work_guard(io);
    tcp::acceptor acceptor{io};
    net::steady_timer closing{io};
    std::set<std::shared_ptr<WsSession>> sessions;

    void Accept();
    void Join(const std::shared_ptr<WsSession>& s);
    void Leave(const std::shared_ptr<WsSession>& s);
    // Ends the network thread once nothing is open; io thread.
    void StopWhenIdle();
};

// One viewer: the frames it has yet to get, at most MaxQueued behind the
// one being written.
class WsSession : public std::enable_shared_from_this<WsSession> {
public:
    WsSession(tcp::socket&& socket, ViewServer::State* state)
        : ws_(std::move(socket)), state_(state) {}

    void Run(http::request<http::empty_body> request) {
        websocket::stream_base::timeout timeout{};
        timeout.handshake_timeout = std::chrono::seconds(10);
        // A viewer that neither reads nor answers a ping for 20 s is gone.
        timeout.idle_timeout = std::chrono::seconds(20);
        timeout.keep_alive_pings = true;
        ws_.set_option(timeout);
        ws_.set_option(websocket::stream_base::decorator(
            [](websocket::response_type& r) { r.set(http::field::server, ServerName); }));
        ws_.read_message_max(4096);
        ws_.async_accept(request, beast::bind_front_handler(&WsSession::OnAccept, shared_from_this()));
    }

    // Any thread: queues a frame for this viewer; when MaxQueued wait
    // already, the oldest of them is dropped and counted.
    void Offer(const std::shared_ptr<const std::string>& frame) {
        std::lock_guard lock(mutex_);
        if (closed_) return;
        if (queue_.size() >= ViewServer::MaxQueued) {
            queue_.pop_front();
            state_->dropped.fetch_add(1);
        }
        queue_.push_back(frame);
        if (!writing_) {
            writing_ = true;
            net::post(ws_.get_executor(), [self = shared_from_this()] { self->WriteNext(); });
        }
    }

    void Close() {
        net::post(ws_.get_executor(), [self = shared_from_this()] {
            {
                std::lock_guard lock(self->mutex_);
                if (self->closed_) return;
                self->closed_ = true;
                self->queue_.clear();
            }
            self->ws_.async_close(websocket::close_code::going_away, [self](beast::error_code) {});
        });
    }

private:
    void OnAccept(beast::error_code ec) {
        if (ec) return;
        ws_.text(true);
        ws_.auto_fragment(false);  // a frame is one message
        // The greeting goes first: joined under the lock that broadcasts take.
        state_->Join(shared_from_this());
        Read();
    }

    // On the session's strand: writes the next queued frame, if any.
    void WriteNext() {
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty() || closed_) {
                writing_ = false;
                return;
            }
            current_ = std::move(queue_.front());
            queue_.pop_front();
        }
        ws_.async_write(net::buffer(*current_), beast::bind_front_handler(&WsSession::OnWrite, shared_from_this()));
    }

    void OnWrite(beast::error_code ec, size_t) {
        current_.reset();
        if (ec) return Fail();
        state_->sent.fetch_add(1);
        WriteNext();
    }

    // What a viewer sends is read and dropped; reading also sees the close.
    void Read() {
        ws_.async_read(incoming_, [self = shared_from_this()](beast::error_code ec, size_t) {
            self->incoming_.consume(self->incoming_.size());
            if (ec) return self->Fail();
            self->Read();
        });
    }

    void Fail() {
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
            queue_.clear();
        }
        state_->Leave(shared_from_this());
    }

    websocket::stream<beast::tcp_stream> ws_;
    ViewServer::State* state_;
    beast::flat_buffer incoming_;
    std::shared_ptr<const std::string> current_;  // being written
    std::mutex mutex_;
    std::deque<std::shared_ptr<const std::string>> queue_;
    bool writing_ = false;  // a write is under way or posted
    bool closed_ = false;
};

// One HTTP connection: the page's files, or the upgrade to the stream.
class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    HttpSession(tcp::socket&& socket, ViewServer::State* state)
        : stream_(std::move(socket)), state_(state) {}
    ~HttpSession() { state_->connections.fetch_sub(1); }

    void Run() { net::dispatch(stream_.get_executor(), beast::bind_front_handler(&HttpSession::Read, shared_from_this())); }

private:
    void Read() {
        parser_.emplace();
        parser_->header_limit(ViewServer::HeaderLimit);
        parser_->body_limit(0);
        stream_.expires_after(RequestTimeout);
        http::async_read(stream_, buffer_, *parser_, beast::bind_front_handler(&HttpSession::OnRead, shared_from_this()));
    }

    void OnRead(beast::error_code ec, size_t) {
        if (ec == http::error::end_of_stream || ec == beast::error::timeout || ec == net::error::eof) return Close();
        if (ec) {
            // The request is not one we take: say why, then close.
            if (ec == http::error::header_limit) return Reply(http::status::request_header_fields_too_large, "", false);
            if (ec == http::error::body_limit || ec == http::error::unexpected_body) {
                return Reply(http::status::payload_too_large, "", false);
            }
            if (ec.category() == http::make_error_code(http::error::bad_target).category()) {
                return Reply(http::status::bad_request, "", false);
            }
            return Close();
        }
        http::request<http::empty_body> request = parser_->release();
        const std::string target(request.target());
        if (websocket::is_upgrade(request)) {
            if (target != StreamPath) return Reply(http::status::not_found, "", false);
            if (state_->viewers.load() >= ViewServer::MaxViewers) return Reply(http::status::service_unavailable, "", false);
            stream_.expires_never();
            // The kernel's share of a viewer that stops reading is bounded too.
            beast::error_code ignored;
            stream_.socket().set_option(net::socket_base::send_buffer_size(ViewServer::SendBuffer), ignored);
            std::make_shared<WsSession>(stream_.release_socket(), state_)->Run(std::move(request));
            return;
        }
        if (request.method() != http::verb::get && request.method() != http::verb::head) {
            return Reply(http::status::method_not_allowed, "", request.keep_alive(), request.version());
        }
        const auto file = state_->files.find(target);
        if (file == state_->files.end()) return Reply(http::status::not_found, "", request.keep_alive(), request.version());
        Reply(http::status::ok, file->first, request.keep_alive(), request.version(),
              request.method() == http::verb::head);
    }

    void Reply(http::status status, const std::string& path, bool keepAlive, unsigned version = 11, bool head = false) {
        auto response = std::make_shared<http::response<http::string_body>>(status, version);
        response->set(http::field::server, ServerName);
        response->set(http::field::cache_control, "no-store");
        response->set("X-Content-Type-Options", "nosniff");
        if (status == http::status::ok) {
            const ServedFile& f = state_->files.at(path);
            response->set(http::field::content_type, f.type);
            response->set("Content-Security-Policy",
                          "default-src 'self'; connect-src 'self'; img-src 'self' data:; style-src 'self' 'unsafe-inline'");
            if (head) {
                response->content_length(f.content.size());
            } else {
                response->body() = f.content;
            }
        } else {
            response->set(http::field::content_type, "text/plain; charset=utf-8");
            response->body() = std::to_string(static_cast<unsigned>(status)) + " " +
                               std::string(http::obsolete_reason(status)) + "\n";
        }
        response->keep_alive(keepAlive);
        if (!head || status != http::status::ok) response->prepare_payload();
        http::async_write(stream_, *response, [self = shared_from_this(), response](beast::error_code ec, size_t) {
            if (ec || !response->keep_alive()) return self->Close();
            self->Read();
        });
    }

    void Close() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    }

    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::empty_body>> parser_;
    ViewServer::State* state_;
};

void ViewServer::State::Accept() {
    acceptor.async_accept(net::make_strand(io), [this](beast::error_code ec, tcp::socket socket) {
        if (!acceptor.is_open()) return;
        if (!ec) {
            connections.fetch_add(1);
            std::make_shared<HttpSession>(std::move(socket), this)->Run();
        }
        Accept();
    });
}

void ViewServer::State::Join(const std::shared_ptr<WsSession>& s) {
    std::lock_guard lock(mutex);
    if (stopping) {
        s->Close();
        return;
    }
    s->Offer(greeting);
    sessions.insert(s);
    viewers.store(sessions.size());
}

void ViewServer::State::Leave(const std::shared_ptr<WsSession>& s) {
    std::lock_guard lock(mutex);
    sessions.erase(s);
    viewers.store(sessions.size());
    if (stopping) net::post(io, [this] { StopWhenIdle(); });
}

void ViewServer::State::StopWhenIdle() {
    std::lock_guard lock(mutex);
    if (sessions.empty() && connections.load() == 0) io.stop();
}

// ------------------------------------------------------------------ server

ViewServer::ViewServer(const Endpoint& at, std::map<std::string, ServedFile> files)
    : state_(std::make_unique<State>()) {
    state_->files = std::move(files);
    const std::string where = at.host + ":" + std::to_string(at.port);
    boost::system::error_code ec;
    tcp::resolver resolver(state_->io);
    const auto found = resolver.resolve(at.host, std::to_string(at.port), tcp::resolver::numeric_service, ec);
    if (ec || found.empty()) throw std::runtime_error("--view: cannot resolve " + at.host + ": " + ec.message());
    const tcp::endpoint endpoint = found.begin()->endpoint();
    auto& a = state_->acceptor;
    a.open(endpoint.protocol(), ec);
    if (!ec) a.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) a.bind(endpoint, ec);
    if (!ec) a.listen(net::socket_base::max_listen_connections, ec);
    if (ec) throw std::runtime_error("--view: cannot listen on " + where + ": " + ec.message());
    const tcp::endpoint bound = a.local_endpoint();
    host_ = bound.address().to_string();
    port_ = bound.port();
    state_->Accept();
    thread_ = std::thread([state = state_.get()] { state->io.run(); });
}

ViewServer::~ViewServer() { Stop(); }

std::string ViewServer::Url() const {
    const bool v6 = host_.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_) + "/";
}

void ViewServer::SetGreeting(std::string text) {
    auto greeting = std::make_shared<const std::string>(std::move(text));
    std::lock_guard lock(state_->mutex);
    state_->greeting = std::move(greeting);
}

void ViewServer::Broadcast(std::string frame) {
    auto shared = std::make_shared<const std::string>(std::move(frame));
    std::lock_guard lock(state_->mutex);
    for (const auto& s : state_->sessions) s->Offer(shared);
}

size_t ViewServer::Viewers() const { return state_->viewers.load(); }
uint64_t ViewServer::Dropped() const { return state_->dropped.load(); }
uint64_t ViewServer::Sent() const { return state_->sent.load(); }

void ViewServer::Stop() {
    std::lock_guard stopLock(stopMutex_);
    if (stopped_) return;
    stopped_ = true;
    net::post(state_->io, [state = state_.get()] {
        beast::error_code ignored;
        state->acceptor.close(ignored);
        {
            std::lock_guard lock(state->mutex);
            state->stopping = true;
            for (const auto& s : state->sessions) s->Close();
        }
        // Viewers that do not take their close in time, and connections
        // still reading a request, are cut off.
        state->closing.expires_after(CloseGrace);
        state->closing.async_wait([state](beast::error_code) { state->io.stop(); });
        state->StopWhenIdle();
    });
    state_->work.reset();
    thread_.join();
    // What the io_context still holds goes with it, before the state.
    std::lock_guard lock(state_->mutex);
    state_->sessions.clear();
}

}  // namespace Capture

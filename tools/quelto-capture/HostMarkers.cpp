#include "HostMarkers.h"

#include "LslPublisher.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace Capture {

HostMarkers::HostMarkers(int fd, Mark mark) : fd_(fd), mark_(std::move(mark)) {
    if (isatty(fd_) && tcgetpgrp(fd_) != getpgrp()) return;
    thread_ = std::thread([this] { Run(); });
}

HostMarkers::~HostMarkers() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

void HostMarkers::Run() {
    std::string line;
    char chunk[512];
    while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        const int ready = poll(&p, 1, 100);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            if (ready < 0) return;
            continue;
        }
        const ssize_t n = read(fd_, chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return;  // end of input
        const double at = MonotonicSeconds();
        for (ssize_t i = 0; i < n; ++i) {
            if (chunk[i] != '\n') {
                line += chunk[i];
                continue;
            }
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) mark_(std::move(line), at);
            line.clear();
        }
    }
}

}  // namespace Capture

// Markers typed by the experimenter: each line on standard input, with the
// time it was read, goes to a callback. Reading stops at the end of input or
// when the object goes. Not started when standard input is a terminal of
// which this process is not in the foreground (reading would stop it).
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace Capture {

class HostMarkers {
public:
    // `mark(text, monotonic seconds)` runs on the reading thread.
    using Mark = std::function<void(std::string, double)>;
    HostMarkers(int fd, Mark mark);
    ~HostMarkers();
    HostMarkers(const HostMarkers&) = delete;
    HostMarkers& operator=(const HostMarkers&) = delete;
    bool Reading() const { return thread_.joinable(); }

private:
    void Run();
    int fd_;
    Mark mark_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace Capture

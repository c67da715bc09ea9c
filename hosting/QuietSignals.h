// The guard against the signals a write can raise (a closed pipe, a file
// size limit), for the runtime's file and console writes. POSIX only.
#pragma once

#ifndef _WIN32
#include <cerrno>
#include <csignal>
#include <ctime>
#include <initializer_list>
#include <pthread.h>

namespace Runtime {

// Holds back, on the calling thread, the signals a write can raise (a closed
// pipe, a file-size limit) and discards those that this write raised, so the
// caller sees only the failed write. The process's handlers are left alone.
class QuietSignals {
public:
    QuietSignals() {
        sigemptyset(&quiet_);
        sigaddset(&quiet_, SIGPIPE);
        sigaddset(&quiet_, SIGXFSZ);
        pthread_sigmask(SIG_BLOCK, &quiet_, &previous_);
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        for (int s : {SIGPIPE, SIGXFSZ}) {
            if (sigismember(&pending, s)) sigdelset(&quiet_, s);  // not ours: left for the host
        }
    }
    ~QuietSignals() {
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        for (int s : {SIGPIPE, SIGXFSZ}) {
            if (!sigismember(&quiet_, s) || !sigismember(&pending, s)) continue;
            sigset_t one;
            sigemptyset(&one);
            sigaddset(&one, s);
            const timespec zero{};
            while (sigtimedwait(&one, nullptr, &zero) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    QuietSignals(const QuietSignals&) = delete;
    QuietSignals& operator=(const QuietSignals&) = delete;

private:
    sigset_t quiet_;
    sigset_t previous_;
};

}  // namespace Runtime
#endif

#include "ManagedCallThread.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#ifndef _WIN32
#include <pthread.h>
#endif

namespace Hosting::Managed {

namespace {

thread_local bool t_isCallThread = false;
std::atomic<void* (*)()> g_currentDomain{nullptr};
// In a child made by fork() the call threads are gone: nothing is handed to
// them there.
std::atomic<bool> g_forked{false};

// One call thread: runs one job at a time for the thread that holds it, and
// ends with that thread.
class CallThread {
public:
    CallThread() : thread_([this] { Loop(); }) {}
    CallThread(const CallThread&) = delete;
    CallThread& operator=(const CallThread&) = delete;
    ~CallThread() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    void Run(void (*job)(void*), void* context) {
        std::unique_lock lock(mutex_);
        job_ = job;
        context_ = context;
        done_ = false;
        wake_.notify_all();
        wake_.wait(lock, [&] { return done_; });
    }

private:
    void Loop() {
        t_isCallThread = true;
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return job_ != nullptr || stop_; });
            if (!job_) return;
            auto* job = std::exchange(job_, nullptr);
            lock.unlock();
            job(context_);
            lock.lock();
            done_ = true;
            wake_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    void (*job_)(void*) = nullptr;
    void* context_ = nullptr;
    bool done_ = false;
    bool stop_ = false;
    std::thread thread_;  // last: starts once the rest is made
};

// Set once the thread's lease has gone (objects destroyed after it, at
// process exit, still call): such calls are made on the thread itself.
thread_local bool t_leaseGone = false;

// The calling thread's call thread, made on its first call into the runtime.
struct Lease {
    std::unique_ptr<CallThread> thread;
    Lease() {
#ifndef _WIN32
        static const int once = pthread_atfork(nullptr, nullptr, [] { g_forked.store(true); });
        (void)once;
#endif
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    ~Lease() {
        t_leaseGone = true;
        // In a forked child the thread does not exist: leave it be.
        if (g_forked.load(std::memory_order_relaxed)) static_cast<void>(thread.release());
    }
    CallThread* Get() {
        if (t_leaseGone) return nullptr;
        if (!thread) {
            try {
                thread = std::make_unique<CallThread>();
            } catch (...) {
                return nullptr;  // no thread to be had: the caller calls itself
            }
        }
        return thread.get();
    }
};
thread_local Lease t_lease;

}  // namespace

bool CallsDirectly() noexcept {
#ifdef _WIN32
    return true;  // the CLR does not interrupt threads for its collections
#else
    if (t_isCallThread) return true;
    auto* currentDomain = g_currentDomain.load(std::memory_order_acquire);
    return currentDomain && currentDomain() != nullptr;
#endif
}

bool RunOnCallThread(void (*job)(void*), void* context) {
    if (g_forked.load(std::memory_order_relaxed) || t_leaseGone) return false;
    CallThread* thread = t_lease.Get();
    if (!thread) return false;
    thread->Run(job, context);
    return true;
}

void SetRuntimeThreadQuery(void* (*currentDomain)()) noexcept {
    g_currentDomain.store(currentDomain, std::memory_order_release);
}

}  // namespace Hosting::Managed

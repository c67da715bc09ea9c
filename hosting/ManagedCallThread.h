// Calls into the managed runtime from threads that are not the runtime's.
//
// Mono keeps every thread that ever entered managed code attached, and
// signals it at each collection: a host thread's own nanosleep, poll or
// select would then return early with EINTR. So a thread that the runtime
// does not already know (a host's thread, the bridge's worker, which runs
// the host's callbacks) has each call carried out by a call thread of its
// own, and never enters the runtime itself. Mono's threads and the call
// threads call directly.
#pragma once

#include <type_traits>

namespace Hosting::Managed {

// True on a call thread, and on a thread the runtime already knows.
bool CallsDirectly() noexcept;

// Runs job(context) on the calling thread's call thread (made on first use,
// ended with the calling thread) and waits for it. False,
// with nothing run, when no thread could be made.
bool RunOnCallThread(void (*job)(void*), void* context);

template <class F>
bool OnCallThread(F&& f) {
    using Job = std::remove_reference_t<F>;
    return RunOnCallThread([](void* c) { (*static_cast<Job*>(c))(); }, const_cast<void*>(static_cast<const void*>(&f)));
}

// Mono's own test of whether the calling thread is attached (given when the
// runtime starts, or joined).
void SetRuntimeThreadQuery(void* (*currentDomain)()) noexcept;

}  // namespace Hosting::Managed

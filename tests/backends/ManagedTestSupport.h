// What the managed backend's test programs share.
#pragma once

#include "QueltoBridge.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

namespace ManagedTest {

// An environment variable set for the life of the object.
struct Env {
    std::string name;
    Env(const char* n, const std::string& value) : name(n) { setenv(n, value.c_str(), 1); }
    ~Env() { unsetenv(name.c_str()); }
    Env(const Env&) = delete;
    Env& operator=(const Env&) = delete;
};

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::string LastError() {
    const char* error = Quelto_Bridge_GetLastError();
    return error ? error : "(none)";
}

// Runs `call` on a thread of its own: false when it has not returned within
// `limit` (the thread hangs, or was ended under it), so that a failure that
// takes the calling thread fails the test rather than the test program.
inline bool ReturnsWithin(std::function<void()> call, std::chrono::seconds limit = std::chrono::seconds(60)) {
    auto returned = std::make_shared<std::promise<bool>>();
    std::future<bool> result = returned->get_future();
    std::thread thread([call = std::move(call), returned] {
        call();
        returned->set_value(true);
    });
    if (result.wait_for(limit) != std::future_status::ready) {
        thread.detach();
        return false;
    }
    thread.join();
    try {
        return result.get();
    } catch (const std::future_error&) {
        return false;  // unwound without returning
    }
}

}  // namespace ManagedTest

// A small object runtime that stands in for the managed runtime hosting the
// device SDK: reference-counted objects, nullable UTF-16 strings, arrays of
// rank 1 to 3, events, the runtime's exception types, and the file, path,
// trace and text services the bridge relies on.
//
// Everything here is shared by the bridge and the SDK libraries it loads. It
// holds no process-wide state; the assembly loader (AppDomain.h) does.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The exception types leave the bridge library with their type information
// and members, so that hosts catch them by type. Everything linked with the
// runtime's own code (the bridge, the SDK libraries) defines
// QUELTO_RUNTIME_BUILDING; hosts import them from the bridge.
#if defined(_WIN32)
#if defined(QUELTO_RUNTIME_BUILDING)
#define QUELTO_RUNTIME_API __declspec(dllexport)
#else
#define QUELTO_RUNTIME_API __declspec(dllimport)
#endif
#else
#define QUELTO_RUNTIME_API __attribute__((visibility("default")))
#endif

namespace Runtime {

// ---------------------------------------------------------------- objects

// Base of every object made by class name. Objects are shared and
// reference counted; a null reference is an empty pointer.
class Object {
public:
    virtual ~Object() = default;
};

template <class T>
using Ref = std::shared_ptr<T>;

// Objects with an explicit release step (the device object).
class IDisposable {
public:
    virtual ~IDisposable() = default;
    virtual void Dispose() = 0;
};

// UTF-16 text that may be null, as the SDK's strings are.
using String = std::optional<std::u16string>;

// ------------------------------------------------------------- exceptions

// Base of the runtime's exceptions: a type name, a message and the call stack
// at the point of the throw.
class QUELTO_RUNTIME_API Exception : public std::exception {
public:
    explicit Exception(std::string message = {});
    Exception(const Exception&) = default;
    Exception& operator=(const Exception&) = default;
    ~Exception() override = default;
    const char* what() const noexcept override { return message_.c_str(); }

    // Fully qualified type name, e.g. "System.ArgumentNullException".
    virtual const char* TypeName() const noexcept { return "System.Exception"; }
    const std::string& Message() const noexcept { return message_; }
    const std::string& StackTrace() const noexcept { return stack_; }

    // "<type>: <message>" then the stack, one frame a line ("   at ...").
    virtual std::string ToString() const;

private:
    std::string message_;
    std::string stack_;
};

#define QUELTO_RUNTIME_EXCEPTION(Name, Base, FullName, DefaultMessage)                 \
    class QUELTO_RUNTIME_API Name : public Base {                                      \
    public:                                                                            \
        explicit Name(std::string message = DefaultMessage) : Base(std::move(message)) {} \
        const char* TypeName() const noexcept override { return FullName; }            \
    };

QUELTO_RUNTIME_EXCEPTION(SystemException, Exception, "System.SystemException", "System error.")
QUELTO_RUNTIME_EXCEPTION(ArgumentException, SystemException, "System.ArgumentException",
                         "Value does not fall within the expected range.")
QUELTO_RUNTIME_EXCEPTION(ArgumentOutOfRangeException, ArgumentException,
                         "System.ArgumentOutOfRangeException",
                         "Specified argument was out of the range of valid values.")
QUELTO_RUNTIME_EXCEPTION(ArgumentNullException, ArgumentException, "System.ArgumentNullException",
                         "Value cannot be null.")
QUELTO_RUNTIME_EXCEPTION(IndexOutOfRangeException, SystemException,
                         "System.IndexOutOfRangeException",
                         "Index was outside the bounds of the array.")
QUELTO_RUNTIME_EXCEPTION(NullReferenceException, SystemException, "System.NullReferenceException",
                         "Object reference not set to an instance of an object.")
QUELTO_RUNTIME_EXCEPTION(InvalidOperationException, SystemException,
                         "System.InvalidOperationException",
                         "Operation is not valid due to the current state of the object.")
QUELTO_RUNTIME_EXCEPTION(InvalidCastException, SystemException, "System.InvalidCastException",
                         "Specified cast is not valid.")
QUELTO_RUNTIME_EXCEPTION(FormatException, SystemException, "System.FormatException",
                         "Input string was not in a correct format.")
QUELTO_RUNTIME_EXCEPTION(OutOfMemoryException, SystemException, "System.OutOfMemoryException",
                         "Insufficient memory to continue the execution of the program.")
QUELTO_RUNTIME_EXCEPTION(IOException, SystemException, "System.IO.IOException", "I/O error occurred.")
QUELTO_RUNTIME_EXCEPTION(FileNotFoundException, IOException, "System.IO.FileNotFoundException",
                         "Unable to find the specified file.")
QUELTO_RUNTIME_EXCEPTION(FileLoadException, IOException, "System.IO.FileLoadException",
                         "Could not load the specified file.")
QUELTO_RUNTIME_EXCEPTION(BadImageFormatException, SystemException, "System.BadImageFormatException",
                         "Format of the executable (.exe) or library (.dll) is invalid.")
QUELTO_RUNTIME_EXCEPTION(TypeLoadException, SystemException, "System.TypeLoadException",
                         "Failure has occurred while loading a type.")
QUELTO_RUNTIME_EXCEPTION(EntryPointNotFoundException, TypeLoadException,
                         "System.EntryPointNotFoundException", "Entry point was not found.")

#undef QUELTO_RUNTIME_EXCEPTION

// Throws NullReferenceException when `ref` is null, else returns it.
template <class P>
decltype(auto) Deref(P&& ref) {
    if (!ref) throw NullReferenceException();
    return *ref;
}

// ---------------------------------------------------------------- arrays

// A rectangular array of rank 1 to 3, indexed like the runtime's arrays:
// element access is bounds-checked and fails with IndexOutOfRangeException.
// Storage is row-major (last index fastest).
template <class T, int Rank>
class Array {
    static_assert(Rank >= 1 && Rank <= 3);

public:
    using value_type = T;
    static constexpr int rank = Rank;

    template <class... Extents>
    explicit Array(Extents... extents) : extents_{static_cast<int32_t>(extents)...} {
        static_assert(sizeof...(Extents) == Rank, "one extent per dimension");
        std::size_t n = 1;
        for (int32_t e : extents_) {
            if (e < 0) throw OverflowGuard();
            n *= static_cast<std::size_t>(e);
        }
        size_ = n;
        if (n) {
            auto storage = std::make_shared<T[]>(n);
            data_ = storage.get();
            storage_ = std::move(storage);
        }
    }

    // An array over storage owned elsewhere (a managed array pinned by
    // `keepAlive`): element writes reach that storage. `data` holds the
    // product of the extents elements, or is null when that is 0.
    static Ref<Array> View(T* data, const std::array<int32_t, Rank>& extents, std::shared_ptr<void> keepAlive) {
        auto view = std::make_shared<Array>(ViewTag{});
        std::size_t n = 1;
        for (int32_t e : extents) n *= static_cast<std::size_t>(e < 0 ? 0 : e);
        view->extents_ = extents;
        view->size_ = n;
        view->data_ = n ? data : nullptr;
        view->storage_ = std::move(keepAlive);
        return view;
    }

    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;

private:
    struct ViewTag {};

public:
    // For View alone (its tag is private): an empty array.
    explicit Array(ViewTag) : extents_{} {}

    int32_t GetLength(int dimension) const {
        if (dimension < 0 || dimension >= Rank) throw IndexOutOfRangeException();
        return extents_[dimension];
    }
    // Number of elements over all dimensions.
    std::size_t Length() const noexcept { return size_; }

    template <class... Index>
    T& operator()(Index... index) {
        return data_[Offset(static_cast<int64_t>(index)...)];
    }
    template <class... Index>
    const T& operator()(Index... index) const {
        return data_[Offset(static_cast<int64_t>(index)...)];
    }
    T& operator[](int64_t i) requires(Rank == 1) { return data_[Offset(i)]; }
    const T& operator[](int64_t i) const requires(Rank == 1) { return data_[Offset(i)]; }

    // Row-major storage, `Length()` elements (null when empty).
    T* Data() noexcept { return data_; }
    const T* Data() const noexcept { return data_; }

private:
    static ArgumentOutOfRangeException OverflowGuard() {
        return ArgumentOutOfRangeException("Array dimensions exceeded supported range.");
    }
    template <class... Index>
    std::size_t Offset(Index... index) const {
        static_assert(sizeof...(Index) == Rank, "one index per dimension");
        const int64_t idx[] = {index...};
        std::size_t off = 0;
        for (int d = 0; d < Rank; ++d) {
            if (idx[d] < 0 || idx[d] >= extents_[d]) throw IndexOutOfRangeException();
            off = off * static_cast<std::size_t>(extents_[d]) + static_cast<std::size_t>(idx[d]);
        }
        return off;
    }

    std::array<int32_t, Rank> extents_;
    std::size_t size_ = 0;
    T* data_ = nullptr;
    std::shared_ptr<void> storage_;
};

template <class T, int Rank = 1>
using ArrayRef = Ref<Array<T, Rank>>;

template <class T, class... Extents>
ArrayRef<T, static_cast<int>(sizeof...(Extents))> NewArray(Extents... extents) {
    return std::make_shared<Array<T, static_cast<int>(sizeof...(Extents))>>(extents...);
}

// ----------------------------------------------------------------- events

// A multicast event. Handlers run on the raising thread, in subscription
// order; subscribing from another thread is safe.
template <class... Args>
class Event {
public:
    using Handler = std::function<void(Args...)>;

    void Subscribe(Handler handler) {
        std::lock_guard lock(mutex_);
        auto next = std::make_shared<std::vector<Handler>>(handlers_ ? *handlers_ : std::vector<Handler>{});
        next->push_back(std::move(handler));
        handlers_ = std::move(next);
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        handlers_.reset();
    }
    bool Empty() const {
        std::lock_guard lock(mutex_);
        return !handlers_ || handlers_->empty();
    }
    void Raise(Args... args) const {
        std::shared_ptr<const std::vector<Handler>> snapshot;
        {
            std::lock_guard lock(mutex_);
            snapshot = handlers_;
        }
        if (!snapshot) return;
        for (const auto& h : *snapshot) h(args...);
    }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<const std::vector<Handler>> handlers_;
};

// ------------------------------------------------------ platform services

namespace Text {
// UTF-8 <-> UTF-16. Invalid input becomes U+FFFD.
std::u16string FromUtf8(std::string_view utf8);
std::string ToUtf8(std::u16string_view text);
// The system's narrow ("ANSI") code page: the active code page on Windows,
// where characters it cannot represent become '?'; UTF-8 elsewhere, whatever
// the C library's locale, as the runtime itself does there (invalid input
// becomes U+FFFD). Conversion stops at the first NUL of the input.
std::string ToAnsi(std::u16string_view text);
std::u16string FromAnsi(const char* text);
}  // namespace Text

namespace File {
// True only for an existing regular file (or a link to one).
bool Exists(const std::string& path);
// Appends UTF-8 text, creating the file when missing, as one write at the
// end of the file: appends of other threads and processes never land inside
// it. Never waits for the file and never follows a link at `path` itself:
// anything but a regular file is refused. When the text cannot be written in
// full, the part written is taken back. Throws IOException.
void AppendAllText(const std::string& path, std::string_view text);
}  // namespace File

namespace Path {
// Joins with one separator between; an absolute `b` wins, as the runtime's.
std::string Combine(const std::string& a, const std::string& b);
// Text before the last '/' or '\\'; the whole path when it has neither.
std::string FolderOf(const std::string& path);
}  // namespace Path

namespace Debug {
// The debug trace output: OutputDebugString on Windows; here, standard
// error when the environment variable QUELTO_DEBUG_TRACE is set.
void Write(std::string_view text);
}  // namespace Debug

namespace Console {
// Writes to standard error. A closed pipe there loses the text and never
// ends the process (no SIGPIPE reaches it).
void WriteError(std::string_view text);
}  // namespace Console

// Call stack of the caller, one "   at <frame>" line each, innermost first.
std::string CaptureStackTrace(int skipFrames = 0);

}  // namespace Runtime

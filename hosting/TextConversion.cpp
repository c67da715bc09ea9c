// Text conversions: UTF-8 and UTF-16, and the system's narrow code page.
#include "Runtime.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace Runtime {

namespace Text {
namespace {
// Decodes UTF-16 into code points, replacing lone surrogates with U+FFFD.
template <class F>
void ForEachCodePoint(std::u16string_view s, F&& f) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        f(c);
    }
}
void AppendUtf16(std::u16string& out, char32_t c) {
    if (c >= 0x10000) {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
        out += static_cast<char16_t>(c);
    }
}
}  // namespace

std::u16string FromUtf8(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        char32_t c = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        bool ok = len > 0 && i + len <= s.size();
        for (int k = 1; ok && k < len; ++k) {
            const unsigned char cont = static_cast<unsigned char>(s[i + k]);
            ok = (cont & 0xC0) == 0x80;
            c = (c << 6) | (cont & 0x3F);
        }
        static constexpr char32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (ok && (c < minimum[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) ok = false;
        if (!ok) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        AppendUtf16(out, c);
        i += static_cast<std::size_t>(len);
    }
    return out;
}

std::string ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    ForEachCodePoint(s, [&](char32_t c) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    });
    return out;
}

std::string ToAnsi(std::u16string_view s) {
    const std::size_t nul = s.find(u'\0');
    if (nul != std::u16string_view::npos) s = s.substr(0, nul);
    if (s.empty()) return {};
#ifdef _WIN32
    const int n = WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWCH>(s.data()), static_cast<int>(s.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWCH>(s.data()), static_cast<int>(s.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
#else
    return ToUtf8(s);
#endif
}

std::u16string FromAnsi(const char* text) {
    if (!text || !*text) return {};
#ifdef _WIN32
    const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::u16string out(static_cast<std::size_t>(n > 0 ? n - 1 : 0), u'\0');
    if (n > 1) MultiByteToWideChar(CP_ACP, 0, text, -1, reinterpret_cast<LPWSTR>(out.data()), n);
    return out;
#else
    return FromUtf8(std::string_view(text));
#endif
}
}  // namespace Text

}  // namespace Runtime

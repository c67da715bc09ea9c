#include "AppDomain.h"
#include "Runtime.h"

#include <gtest/gtest.h>

#include <clocale>

#ifdef _WIN32
#include <windows.h>
#endif

using namespace Runtime;

namespace {

[[noreturn]] __attribute__((noinline)) void ThrowFromNamedFunction() { throw ArgumentNullException(); }

}  // namespace

TEST(RuntimeExceptions, FullTextHasTypeMessageAndStack) {
    try {
        ThrowFromNamedFunction();
        FAIL();
    } catch (const Exception& e) {
        const std::string text = e.ToString();
        EXPECT_EQ(std::string(e.TypeName()), "System.ArgumentNullException");
        EXPECT_EQ(text.rfind("System.ArgumentNullException: Value cannot be null.\n", 0), 0u) << text;
        EXPECT_NE(text.find("   at "), std::string::npos) << text;
        EXPECT_FALSE(e.StackTrace().empty());
    }
}

TEST(RuntimeExceptions, HierarchyMatchesTheRuntime) {
    EXPECT_THROW(throw ArgumentOutOfRangeException(), ArgumentException);
    EXPECT_THROW(throw FileNotFoundException("x"), IOException);
    EXPECT_THROW(throw IndexOutOfRangeException(), Exception);
    EXPECT_THROW(throw NullReferenceException(), std::exception);
    ArgumentOutOfRangeException e;
    EXPECT_STREQ(e.what(), "Specified argument was out of the range of valid values.");
}

TEST(RuntimeArrays, BoundsCheckedRowMajor) {
    auto a = NewArray<int>(2, 3);
    int v = 0;
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 3; ++j) (*a)(i, j) = v++;
    EXPECT_EQ(a->GetLength(0), 2);
    EXPECT_EQ(a->GetLength(1), 3);
    EXPECT_EQ(a->Data()[4], (*a)(1, 1));
    EXPECT_THROW((*a)(2, 0), IndexOutOfRangeException);
    EXPECT_THROW((*a)(0, -1), IndexOutOfRangeException);
    EXPECT_THROW(a->GetLength(2), IndexOutOfRangeException);
    auto empty = NewArray<float>(4, 0);
    EXPECT_EQ(empty->Length(), 0u);
    EXPECT_EQ(empty->Data(), nullptr);
    EXPECT_THROW(NewArray<float>(-1), ArgumentOutOfRangeException);
}

TEST(RuntimeText, Utf8RoundTripAndInvalidInput) {
    const std::u16string text = u"EMG \u00e9 \u4e2d \U0001F600";
    EXPECT_EQ(Text::FromUtf8(Text::ToUtf8(text)), text);
    EXPECT_EQ(Text::FromUtf8("\xff" "a"), u"\uFFFDa");
    EXPECT_EQ(Text::FromUtf8("\xc0\xaf"), u"\uFFFD\uFFFD");  // overlong
}

TEST(RuntimeText, AnsiReplacesWhatTheCodePageCannotHoldAndStopsAtNul) {
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(Text::ToAnsi(u"Tibialis"), "Tibialis");
#ifdef _WIN32
    // The active code page, not the C library's locale.
    if (GetACP() == 1252) {
        EXPECT_EQ(Text::ToAnsi(u"M\u00fcller"), "M\xfcller");
        EXPECT_EQ(Text::ToAnsi(u"\u4e2d"), "?");
        EXPECT_EQ(Text::FromAnsi("M\xfcller"), u"M\u00fcller");
    }
#endif
    EXPECT_EQ(Text::ToAnsi(std::u16string(u"ab\0cd", 5)), "ab");
    EXPECT_EQ(Text::FromAnsi("Rectus"), u"Rectus");
    EXPECT_EQ(Text::FromAnsi(nullptr), u"");
}

#ifndef _WIN32
// The narrow code page is UTF-8 here in every C-library locale: a host that
// never calls setlocale ("C") and one that does get the same text.
TEST(RuntimeText, AnsiIsUtf8WhateverTheLocale) {
    for (const char* locale : {"C", "C.UTF-8", "POSIX"}) {
        if (!std::setlocale(LC_ALL, locale)) continue;
        SCOPED_TRACE(locale);
        EXPECT_EQ(Text::ToAnsi(u"M\u00fcller"), "M\xc3\xbcller");
        EXPECT_EQ(Text::ToAnsi(u"\u00b5V \u4e2d \U0001F600"), "\xc2\xb5V \xe4\xb8\xad \xf0\x9f\x98\x80");
        EXPECT_EQ(Text::FromAnsi("M\xc3\xbcller"), u"M\u00fcller");
        EXPECT_EQ(Text::FromAnsi("\xc2\xb5V"), u"\u00b5V");
        // What UTF-8 cannot carry: a lone surrogate, a byte that starts no
        // character; both become U+FFFD, as the runtime's own conversion does.
        EXPECT_EQ(Text::ToAnsi(u"a\xd800" u"b"), "a\xef\xbf\xbd" "b");
        EXPECT_EQ(Text::FromAnsi("a\xff" "b"), u"a\uFFFD" u"b");
        EXPECT_EQ(Text::ToAnsi(std::u16string(u"\u00fc\0x", 3)), "\xc3\xbc");
    }
    std::setlocale(LC_ALL, "C");
}
#endif

TEST(RuntimePath, CombineAndFolder) {
#ifdef _WIN32
    EXPECT_EQ(Path::Combine("/opt/q", "Quelto.dll"), "/opt/q\\Quelto.dll");
    EXPECT_EQ(Path::Combine("C:\\q", "Quelto.dll"), "C:\\q\\Quelto.dll");
    EXPECT_EQ(Path::Combine("C:\\q", "D:\\x.dll"), "D:\\x.dll");
#else
    EXPECT_EQ(Path::Combine("/opt/q", "Quelto.dll"), "/opt/q/Quelto.dll");
#endif
    EXPECT_EQ(Path::Combine("/opt/q/", "Quelto.dll"), "/opt/q/Quelto.dll");
    EXPECT_EQ(Path::Combine("", "Quelto.dll"), "Quelto.dll");
    EXPECT_EQ(Path::Combine("/opt/q", "/abs/x.dll"), "/abs/x.dll");
    EXPECT_EQ(Path::FolderOf("C:\\q\\bin/Quelto.bridge.dll"), "C:\\q\\bin");
    EXPECT_EQ(Path::FolderOf("C:\\q\\Quelto.bridge.dll"), "C:\\q");
    EXPECT_EQ(Path::FolderOf("Quelto.bridge.dll"), "Quelto.bridge.dll");
}

TEST(RuntimeFile, ExistsAndAppend) {
    const std::string path = ::testing::TempDir() + "/runtime_append.txt";
    std::remove(path.c_str());
    EXPECT_FALSE(File::Exists(path));
    File::AppendAllText(path, "one\n");
    File::AppendAllText(path, "two\n");
    EXPECT_TRUE(File::Exists(path));
    EXPECT_FALSE(File::Exists(::testing::TempDir()));  // a folder is not a file
    FILE* f = std::fopen(path.c_str(), "rb");
    char buf[16] = {};
    ASSERT_EQ(std::fread(buf, 1, sizeof buf, f), 8u);
    std::fclose(f);
    EXPECT_STREQ(buf, "one\ntwo\n");
    EXPECT_THROW(File::AppendAllText("/nonexistent-dir/x.txt", "x"), IOException);
}

TEST(RuntimeEvent, HandlersRunInSubscriptionOrder) {
    Event<int> event;
    std::vector<int> seen;
    event.Subscribe([&](int v) { seen.push_back(v * 10 + 1); });
    event.Subscribe([&](int v) { seen.push_back(v * 10 + 2); });
    event.Raise(4);
    EXPECT_EQ(seen, (std::vector<int>{41, 42}));
}

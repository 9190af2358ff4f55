#include "platform/CodePage.h"
#include "platform/AsciiCase.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

using platform::SetAnsiCodePageForTesting;

class CodePageTest : public ::testing::Test {
protected:
    void TearDown() override { SetAnsiCodePageForTesting(0); }
};

// Saves and restores the locale variables around a test that changes them.
class LocaleEnvironment {
public:
    LocaleEnvironment() {
        for (const char* name : kNames) {
            const char* value = std::getenv(name);
            saved_.push_back(value ? std::optional<std::string>(value) : std::nullopt);
        }
    }
    ~LocaleEnvironment() {
        for (std::size_t i = 0; i < std::size(kNames); ++i) {
            if (saved_[i])
                setenv(kNames[i], saved_[i]->c_str(), 1);
            else
                unsetenv(kNames[i]);
        }
        SetAnsiCodePageForTesting(0);
    }
    void Use(const char* lcAll, const char* lcCtype, const char* lang) {
        const char* values[] = {lcAll, lcCtype, lang};
        for (std::size_t i = 0; i < std::size(kNames); ++i) {
            if (values[i])
                setenv(kNames[i], values[i], 1);
            else
                unsetenv(kNames[i]);
        }
        SetAnsiCodePageForTesting(0);
    }

private:
    static constexpr const char* kNames[] = {"LC_ALL", "LC_CTYPE", "LANG"};
    std::vector<std::optional<std::string>> saved_;
};

std::string Lowered(std::string text) {
    EXPECT_EQ(win::CharLowerBuffA(text.data(), win::DWORD(text.size())), text.size());
    return text;
}

int Compare(std::string_view a, std::string_view b, win::DWORD flags = win::NORM_IGNORECASE) {
    return win::CompareStringA(win::LOCALE_USER_DEFAULT, flags, a.data(), int(a.size()), b.data(),
                               int(b.size()));
}

TEST(CodePageLocale, CodePageFollowsTheProcessLocale) {
    LocaleEnvironment environment;
    struct Case {
        const char* lcAll;
        const char* lcCtype;
        const char* lang;
        win::UINT codePage;
    };
    const Case cases[] = {
        {nullptr, nullptr, "en_US.UTF-8", 1252}, {nullptr, nullptr, "de_DE", 1252},
        {nullptr, nullptr, "ru_RU.UTF-8", 1251}, {nullptr, nullptr, "ja_JP.UTF-8", 932},
        {nullptr, nullptr, "zh_CN.UTF-8", 936},  {nullptr, nullptr, "zh_TW.UTF-8", 950},
        {nullptr, nullptr, "ko_KR.UTF-8", 949},  {nullptr, nullptr, "pl_PL.UTF-8", 1250},
        {nullptr, nullptr, "sr_RS", 1251},       {nullptr, nullptr, "sr_RS@latin", 1250},
        {nullptr, nullptr, "el_GR", 1253},       {nullptr, nullptr, "th_TH.UTF-8", 874},
        {nullptr, nullptr, "C", 1252},           {nullptr, nullptr, "POSIX", 1252},
        {nullptr, nullptr, nullptr, 1252},       {nullptr, nullptr, "xx_YY", 1252},
        {"ru_RU", "ja_JP", "el_GR", 1251},       {"", "ja_JP", "el_GR", 932},
        {nullptr, nullptr, "tr_TR", 1254},       {nullptr, nullptr, "he_IL", 1255},
        {nullptr, nullptr, "fa_IR", 1256},       {nullptr, nullptr, "lt_LT", 1257},
        {nullptr, nullptr, "vi_VN", 1258},
    };
    for (const Case& c : cases) {
        environment.Use(c.lcAll, c.lcCtype, c.lang);
        EXPECT_EQ(win::GetACP(), c.codePage) << (c.lang ? c.lang : "(unset)");
    }
}

TEST_F(CodePageTest, LowerCasingCoversEveryLetterOfTheCodePage) {
    struct Case {
        win::UINT codePage;
        std::string input;
        std::string expected;
    };
    const Case cases[] = {
        // É À Š Ÿ lower; ß and × have no lower-case form and stay.
        {1252, "WWW.Ex\xC9\xC0\x8A\x9F.COM \xDF\xD7", "www.ex\xE9\xE0\x9A\xFF.com \xDF\xD7"},
        // А Я Ё
        {1251, "\xC0\xDF\xA8 URL", "\xE0\xFF\xB8 url"},
        // Ł Š
        {1250, "\xA3\x8A", "\xB3\x9A"},
        // Α
        {1253, "\xC1x", "\xE1x"},
        // A trail byte in the range of ASCII capitals stays (katakana A, SE); full-width A lowers;
        // half-width katakana and a lone lead byte at the end stay.
        {932, "AB\x83\x41\x83\x5A\x82\x60\xB1Z\x83", "ab\x83\x41\x83\x5A\x82\x81\xB1z\x83"},
        // Full-width capitals of the Chinese and Korean code pages.
        {936, "A\xA3\xC1", "a\xA3\xE1"},
    };
    for (const Case& c : cases) {
        SetAnsiCodePageForTesting(c.codePage);
        EXPECT_EQ(Lowered(c.input), c.expected) << "code page " << c.codePage;
        EXPECT_EQ(platform::AnsiLowerCase(c.input), c.expected) << "code page " << c.codePage;
    }
    EXPECT_EQ(win::CharLowerBuffA(nullptr, 3), 0u);
}

TEST_F(CodePageTest, AsciiLowerCaseChangesOnlyAToZ) {
    EXPECT_EQ(platform::AsciiLowerCase("WWW.Ex\xC9.COM[@]"), "www.ex\xC9.com[@]");
}

TEST_F(CodePageTest, LeadBytesBelongToTheDoubleByteCodePagesOnly) {
    SetAnsiCodePageForTesting(932);
    EXPECT_TRUE(win::IsDBCSLeadByte(0x81));
    EXPECT_TRUE(win::IsDBCSLeadByte(0x9F));
    EXPECT_TRUE(win::IsDBCSLeadByte(0xE0));
    EXPECT_FALSE(win::IsDBCSLeadByte(0xA0));
    EXPECT_FALSE(win::IsDBCSLeadByte(0xB1));
    EXPECT_FALSE(win::IsDBCSLeadByte('A'));
    SetAnsiCodePageForTesting(1252);
    EXPECT_FALSE(win::IsDBCSLeadByte(0x81));
}

TEST_F(CodePageTest, IgnoreCaseComparisonIsLocaleAware) {
    struct Case {
        win::UINT codePage;
        std::string a;
        std::string b;
        int expected;
    };
    const Case cases[] = {
        {1252, "ABC", "abc", win::CSTR_EQUAL},
        {1252, "abc", "ABD", win::CSTR_LESS_THAN},
        {1252, "b.com", "A.com", win::CSTR_GREATER_THAN},
        {1252, "\xC9t\xE9", "\xE9T\xC9", win::CSTR_EQUAL}, // accented capitals
        {1252, "ete", "\xE9t\xE9", win::CSTR_LESS_THAN},   // accents still count
        {1252, "\xE9z", "f", win::CSTR_LESS_THAN},         // é sorts with e, not after z
        {1252, "abc", "abcd", win::CSTR_LESS_THAN},
        {1251, "\xC0\xC1", "\xE0\xE1", win::CSTR_EQUAL},    // Cyrillic AB / ab
        {932, "\x82\x60", "\x82\x81", win::CSTR_EQUAL},     // full-width A / a
        {932, "\x83\x41", "\x83\x61", win::CSTR_LESS_THAN}, // katakana A, not "A"
    };
    for (const Case& c : cases) {
        SetAnsiCodePageForTesting(c.codePage);
        EXPECT_EQ(Compare(c.a, c.b), c.expected) << c.a << " / " << c.b;
    }
}

TEST_F(CodePageTest, ComparisonArgumentsAndCaseSensitivity) {
    SetAnsiCodePageForTesting(1252, "en_US");
    EXPECT_NE(Compare("abc", "ABC", 0), win::CSTR_EQUAL);
    EXPECT_EQ(Compare("abc", "abc", 0), win::CSTR_EQUAL);
    EXPECT_EQ(
        win::CompareStringA(win::LOCALE_USER_DEFAULT, win::NORM_IGNORECASE, "abcdef", 3, "ABC", -1),
        win::CSTR_EQUAL);
    EXPECT_EQ(
        win::CompareStringA(win::LOCALE_USER_DEFAULT, win::NORM_IGNORECASE, nullptr, -1, "a", -1),
        0);
    EXPECT_EQ(win::CompareStringA(win::LOCALE_USER_DEFAULT, win::NORM_IGNORECASE, "a", -2, "a", -1),
              0);
}

TEST_F(CodePageTest, CollationKeysAgreeWithComparison) {
    struct Table {
        win::UINT codePage;
        std::vector<std::string> names;
    };
    const Table tables[] = {
        {1252,
         {"example.com", "EXAMPLE.com", "exampl\xE9.com", "EXAMPL\xC9.COM", "example.org", "a", "",
          "b", "example.com:8080", "\x81", "\x8D", "z\xE9", "ze"}},
        {1251, {"\xC0\xC1", "\xE0\xE1", "\xE0\xE2", "ab"}},
        {932, {"\x82\x60", "\x82\x81", "\x83\x41", "A", "a\x85\x40", "a\x85\x41"}},
    };
    for (const Table& table : tables) {
        SetAnsiCodePageForTesting(table.codePage);
        for (const std::string& a : table.names) {
            for (const std::string& b : table.names) {
                const int compared = Compare(a, b);
                const std::string keyA = platform::IgnoreCaseCollationKey(a);
                const std::string keyB = platform::IgnoreCaseCollationKey(b);
                const int keyOrder = keyA < keyB    ? win::CSTR_LESS_THAN
                                     : keyA == keyB ? win::CSTR_EQUAL
                                                    : win::CSTR_GREATER_THAN;
                EXPECT_EQ(keyOrder, compared) << "'" << a << "' / '" << b << "'";
            }
        }
    }
}

TEST_F(CodePageTest, UndefinedBytesNeverCompareEqualToEachOther) {
    SetAnsiCodePageForTesting(932);
    EXPECT_NE(Compare("a\x85\x40", "a\x85\x41"), win::CSTR_EQUAL);
    EXPECT_NE(Compare("\xA0", "\xFD"), win::CSTR_EQUAL);
}

TEST_F(CodePageTest, DecodingForDisplayKeepsEveryByte) {
    struct Case {
        win::UINT codePage;
        std::string input;
        std::u16string expected;
    };
    const Case cases[] = {
        {1252, "A\xE9\x80\x01\x7F", u"A\u00E9\u20AC\u0001\u007F"},
        {1251, "\xC0\xFF", u"\u0410\u044F"},
        {932, "\x82\xA0\x83\x41", u"\u3042\u30A2"},
        // Unassigned pair, bytes that start nothing, a lead byte cut off at the end.
        {932,
         "a\x85\x40"
         "b\xA0"
         "c\x82",
         u"a\uFFFDb\uFFFDc\uFFFD"},
        {936, "\xD6\xD0", u"\u4E2D"},
    };
    for (const Case& c : cases) {
        SetAnsiCodePageForTesting(c.codePage);
        EXPECT_EQ(platform::AnsiToUtf16(c.input), c.expected) << "code page " << c.codePage;
    }
}

// UTF-16 text from a database goes out as the A-calls hand it out: what the code page lacks is
// "?", one per character (a surrogate pair is one character, a lone surrogate one too).
TEST_F(CodePageTest, Utf16ToAnsiReplacesWhatTheCodePageLacks) {
    struct Case {
        win::UINT codePage;
        std::u16string input;
        std::string expected;
    };
    const Case cases[] = {
        {1252, u"plain ascii", "plain ascii"},
        {1252, u"caf\u00E9 \u20AC", "caf\xE9 \x80"},
        {1252, u"\u0436ar", "?ar"},
        {1252, u"a\U0001F600b", "a?b"},
        {1252, std::u16string(u"a") + char16_t(0xD800) + u"b", "a?b"},
        {1251, u"\u0436\u00E9", "\xE6?"},
        {932, u"\u65E5\u672C", "\x93\xFA\x96\x7B"},
        {1252, u"", ""},
    };
    for (const Case& c : cases) {
        SetAnsiCodePageForTesting(c.codePage);
        EXPECT_EQ(platform::Utf16ToAnsi(c.input), c.expected) << "code page " << c.codePage;
    }
}

} // namespace

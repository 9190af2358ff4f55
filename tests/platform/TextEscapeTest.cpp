#include "platform/TextEscape.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct EscapeCase {
    std::string stored;
    std::string printed;
};

// Every escaped text reads back as the stored bytes, and Windows paths keep their backslashes.
TEST(TextEscape, ControlCharactersAreEscapedAndEveryTextReadsBack) {
    const EscapeCase cases[] = {
        {"http://a.example/plain", "http://a.example/plain"},
        {"C:\\Users\\al\\run.htm", "C:\\Users\\al\\run.htm"},
        {"first\r\nsecond", "first\\x0D\\x0Asecond"},
        {"tab\there", "tab\\x09here"},
        {"\x1b[2J\x7f", "\\x1B[2J\\x7F"},
        {std::string("nul\0end", 7), "nul\\x00end"},
        {"C:\\x41", "C:\\\\x41"},         // would read as "A"
        {"a\\\\b", "a\\\\\\b"},           // two backslashes: the first is doubled
        {"a\\\rb", "a\\\\\\x0Db"},        // a backslash before an escape
        {"C:\\xavier\\", "C:\\xavier\\"}, // "\xa" and a trailing "\" read as they are
        {"\xE9t\xE9", "\xE9t\xE9"},       // 8-bit characters stay
    };
    for (const EscapeCase& c : cases) {
        const std::string printed = platform::EscapeControlCharacters(c.stored);
        EXPECT_EQ(printed, c.printed) << c.printed;
        EXPECT_EQ(platform::NeedsEscaping(c.stored), printed != c.stored) << c.printed;
        EXPECT_EQ(printed.find_first_of("\r\n\x1b"), std::string::npos) << c.printed;
        EXPECT_EQ(platform::UnescapeControlCharacters(printed), c.stored) << c.printed;
    }
}

} // namespace

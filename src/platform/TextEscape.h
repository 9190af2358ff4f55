#pragma once
// Text from a profile shown to a person: control characters made visible, so that a stored name
// or address can neither break a line in two nor send a terminal an escape sequence.
//
// The escaping, as the tools' --help and the README state it: a control character (bytes 0x00 to
// 0x1F and 0x7F) is written as \xHH (two upper-case hexadecimal digits); a backslash is written
// as \\ where it would otherwise start such an escape (before another backslash, before a control
// character, before "x" and two hexadecimal digits); every other byte is written as it is. Read
// from left to right, "\\" is a backslash and "\xHH" the byte HH; any other backslash is itself.
// Windows paths thus keep their single backslashes.

#include <string>
#include <string_view>

namespace platform {

bool HasControlCharacters(std::string_view text);

// Whether EscapeControlCharacters would change `text`.
bool NeedsEscaping(std::string_view text);

// `text` escaped as above; the text itself when there is nothing to escape.
std::string EscapeControlCharacters(std::string_view text);

// The reverse, for tests and for readers of the tools' output.
std::string UnescapeControlCharacters(std::string_view text);

} // namespace platform

#pragma once
// The desktop's opener (xdg-open) in place of the shell's "open" verb: a URL goes to the
// handler of its scheme, a document to the program registered for its type. Nothing is
// reported; what the opener does with a target it cannot open is its own affair.

#include <QString>

#include <filesystem>
#include <functional>
#include <string_view>

namespace desktop {

// Opens a URL or a document named by 8-bit text. A Windows-form absolute path is mapped to its
// host path first; any other text is passed as it stands.
void OpenDocument(std::string_view target);

// Whether `text` is an absolute web address: http, https or ftp (any case), "//", a host, and no
// control character or space around it.
bool IsWebAddress(std::string_view text);

// Opens `text` with the desktop's handler when it is a web address; anything else does nothing.
// The text is never taken for a file path.
void OpenWebAddress(std::string_view text);

// Opens a cached file named by its Windows-form path with the program registered for its type,
// in the file's own folder. Only a regular file that lies inside the profile once links are
// resolved is opened; a file whose type runs code is opened only when the user confirms it.
void OpenCachedFile(std::string_view windowsPath);

// Asks whether a file whose opening may run it should be opened anyway, naming its type; the
// answer that opens nothing is the default. Tests replace it.
using ConfirmRunFunction = std::function<bool(const QString& fileName, const QString& typeName)>;
ConfirmRunFunction SetConfirmRunFunction(ConfirmRunFunction function); // null: a message box

// The host path as the text Qt passes to a program (the bytes as the file system has them).
QString HostPathText(const std::filesystem::path& hostPath);

} // namespace desktop

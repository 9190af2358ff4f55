#pragma once
// The desktop's opener (xdg-open) in place of the shell's "open" verb: a URL goes to the
// handler of its scheme, a document to the program registered for its type. Nothing is
// reported; what the opener does with a target it cannot open is its own affair.

#include <QString>

#include <filesystem>
#include <string_view>

namespace desktop {

// Opens a URL or a document named by 8-bit text. A Windows-form absolute path is mapped to its
// host path first; any other text is passed as it stands.
void OpenDocument(std::string_view target);

// Opens a cached file named by its Windows-form path with the program registered for its type,
// in `windowsDirectory` (mapped too; empty or unmapped: no working directory). A path that does
// not map onto this host opens nothing.
void OpenCachedFile(std::string_view windowsPath, std::string_view windowsDirectory);

// The host path as the text Qt passes to a program (the bytes as the file system has them).
QString HostPathText(const std::filesystem::path& hostPath);

} // namespace desktop

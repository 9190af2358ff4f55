#pragma once
// A cached file as the desktop actions see it: where it really lies inside the profile, and what
// type it has. Opening a file hands it to whatever the desktop registers for its type, so a type
// whose opening runs code (a program, a script, a launcher, an archive that runs, an installer,
// or any type whose default handler is an interpreter) is never opened without the user's say.

#include <QByteArray>
#include <QString>

#include <optional>
#include <string_view>

namespace desktop {

struct TFileType {
    QByteArray mime;     // e.g. application/x-ms-dos-executable
    QString description; // e.g. "DOS/Windows executable"
    bool runnable = false;
};

// Whether opening a file of `contentType` can run it: the type is, or is a subclass of, one of
// the program, script, launcher, runnable archive and installer types of the MIME database, a
// type Wine registers for a Windows extension, or a type whose default application is an
// interpreter or program runner.
bool IsRunnableType(const char* contentType);

// Whether a desktop-entry command line starts an interpreter or a program runner (a shell,
// wine, java, python and the like, "env VAR=value" in front included).
bool IsRunnerCommand(std::string_view commandLine);

// The type of a file called `name` that starts with `head` (name null: from the bytes alone;
// head null: from the name alone), as GIO guesses it.
TFileType GuessFileType(const char* name, const QByteArray* head);

// The type of a file from its name and its first bytes. Each of the name, the bytes, and both
// together are asked, since the program the file ends up with may decide from either: the file
// is runnable when any of them says so, and the type named is then the runnable one.
TFileType FileTypeOf(const QString& name, const QByteArray& head);

struct TCachedFile {
    QString mappedPath; // the host path the cache entry names
    QString realPath;   // the same file with every link resolved; inside the profile
    QString folder;     // the folder of realPath
    TFileType type;
};

// The regular file that the Windows-form path names, when it lies inside the profile after links
// are resolved; nullopt when it does not, is missing or is no regular file. Its first bytes are
// read through the profile boundary without changing its access time.
std::optional<TCachedFile> InspectCachedFile(std::string_view windowsPath);

// The host path the Windows-form path maps to, as text, whether or not anything is there.
QString MappedPathText(std::string_view windowsPath);

} // namespace desktop

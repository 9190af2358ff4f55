#include "platform/desktop/CachedFile.h"

#include "platform/PathMapper.h"
#include "platform/ProfileBoundary.h"
#include "platform/desktop/DocumentOpener.h"
#include "platform/desktop/GioHeaders.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>

#include <memory>

namespace desktop {
namespace {

struct GFreeDeleter {
    void operator()(gpointer memory) const { g_free(memory); }
};
using GText = std::unique_ptr<gchar, GFreeDeleter>;

// The types of the MIME database whose opening runs code; their subclasses count too (a shell
// script is an executable, Python and Perl scripts are executables, a .jar is a Java archive).
constexpr const char* kRunnableTypes[] = {
    "application/x-executable",
    "application/x-pie-executable",
    "application/x-sharedlib",
    "application/x-shellscript",
    "application/x-desktop",
    "application/x-ms-dos-executable",
    "application/x-ms-ne-executable",
    "application/x-msdownload",
    "application/vnd.microsoft.portable-executable",
    "application/x-msi",
    "application/x-ms-shortcut",
    "application/x-bat",
    "application/x-msdos-program",
    "application/x-mswinurl",
    "application/java-archive",
    "application/x-java-jnlp-file",
    "application/x-java",
    "application/x-python-bytecode",
    "application/ecmascript",
    "application/x-php",
    "text/x-python",
    "text/vbscript",
    "text/tcl",
    "text/x-ms-regedit",
    "application/vnd.appimage",
    "application/x-iso9660-appimage",
    "application/vnd.flatpak",
    "application/vnd.flatpak.ref",
    "application/vnd.flatpak.repo",
    "application/vnd.debian.binary-package",
    "application/x-rpm",
    "application/vnd.snap",
    "application/x-xpinstall",
};

// Wine registers one type per Windows extension it opens with "wine start".
constexpr std::string_view kWineExtensionTypes = "application/x-wine-extension-";

// Programs that run what they are given.
constexpr std::string_view kRunners[] = {
    "sh",       "bash",        "dash",   "zsh",         "ksh",         "csh",        "tcsh",
    "fish",     "wine",        "wine64", "java",        "javaws",      "mono",       "perl",
    "ruby",     "python",      "node",   "nodejs",      "php",         "lua",        "tclsh",
    "wish",     "pwsh",        "gjs",    "exo-open",    "dex",         "gtk-launch", "flatpak",
    "xdg-open", "run-mailcap", "see",    "winebrowser", "wineconsole", "msiexec",
};

bool IsVersionSuffix(std::string_view rest) {
    // python3, python3.11, wine-stable, wine64-development
    if (rest.empty())
        return true;
    if (rest.front() == '-')
        return rest == "-stable" || rest == "-development" || rest == "-staging";
    for (char c : rest) {
        if ((c < '0' || c > '9') && c != '.')
            return false;
    }
    return true;
}

bool IsRunnerName(std::string_view program) {
    const auto slash = program.rfind('/');
    if (slash != std::string_view::npos)
        program.remove_prefix(slash + 1);
    for (std::string_view runner : kRunners) {
        if (program.substr(0, runner.size()) == runner &&
            IsVersionSuffix(program.substr(runner.size())))
            return true;
    }
    return false;
}

bool DefaultHandlerRuns(const char* contentType) {
    GAppInfo* handler = g_app_info_get_default_for_type(contentType, FALSE);
    if (!handler)
        return false;
    const char* commandLine = g_app_info_get_commandline(handler);
    const bool runs = commandLine && IsRunnerCommand(commandLine);
    g_object_unref(handler);
    return runs;
}

// Whether the path reads back as the same bytes once it has been made text.
bool IsNameAsText(const std::filesystem::path& path) {
    return QFile::encodeName(HostPathText(path)).toStdString() == path.native();
}

} // namespace

bool IsRunnerCommand(std::string_view commandLine) {
    gint count = 0;
    gchar** words = nullptr;
    const std::string text(commandLine);
    if (!g_shell_parse_argv(text.c_str(), &count, &words, nullptr))
        return false;
    bool runner = false;
    for (gint i = 0; i < count; ++i) {
        const std::string_view word(words[i]);
        const bool assignment = word.find('=') != std::string_view::npos && word.front() != '/';
        if (word == "env" || word.ends_with("/env") || assignment)
            continue;
        runner = IsRunnerName(word);
        break;
    }
    g_strfreev(words);
    return runner;
}

bool IsRunnableType(const char* contentType) {
    if (!contentType)
        return false;
    if (std::string_view(contentType).starts_with(kWineExtensionTypes))
        return true;
    for (const char* runnable : kRunnableTypes) {
        if (g_content_type_is_a(contentType, runnable))
            return true;
    }
    return DefaultHandlerRuns(contentType);
}

TFileType GuessFileType(const char* name, const QByteArray* head) {
    GText type(g_content_type_guess(
        name, head ? reinterpret_cast<const guchar*>(head->constData()) : nullptr,
        head ? static_cast<gsize>(head->size()) : 0, nullptr));
    TFileType guessed;
    GText mime(type ? g_content_type_get_mime_type(type.get()) : nullptr);
    guessed.mime = mime ? QByteArray(mime.get()) : QByteArray("application/octet-stream");
    // Qt reads the same MIME database; GIO's own description lookup keeps memory it never frees.
    guessed.description =
        QMimeDatabase().mimeTypeForName(QString::fromLatin1(guessed.mime)).comment();
    guessed.runnable = type && IsRunnableType(type.get());
    return guessed;
}

TFileType FileTypeOf(const QString& name, const QByteArray& head) {
    const QByteArray fileName = QFile::encodeName(QFileInfo(name).fileName());
    const TFileType both = GuessFileType(fileName.constData(), &head);
    if (both.runnable)
        return both;
    for (const TFileType& alone :
         {GuessFileType(fileName.constData(), nullptr), GuessFileType(nullptr, &head)}) {
        if (alone.runnable)
            return alone;
    }
    return both;
}

QString MappedPathText(std::string_view windowsPath) {
    const auto hostPath = platform::HostPathFromWindows(windowsPath);
    return hostPath ? HostPathText(*hostPath) : QString();
}

std::optional<TCachedFile> InspectCachedFile(std::string_view windowsPath) {
    constexpr std::size_t kSniffSize = 4096;
    const platform::ProfileRoot profile = platform::CurrentProfile();
    const auto hostPath = platform::HostPathFromWindows(profile, windowsPath);
    if (!hostPath)
        return std::nullopt;
    const auto head = platform::ReadHeadInsideProfile(profile, *hostPath, kSniffSize);
    const auto realPath = head ? platform::RealPathInsideProfile(profile, *hostPath) : std::nullopt;
    // The paths travel on as text: a name that is no text in the file-name encoding would name
    // another file once it is turned back into bytes, one that was never checked.
    if (!realPath || !IsNameAsText(*hostPath) || !IsNameAsText(*realPath))
        return std::nullopt;
    TCachedFile file;
    file.mappedPath = HostPathText(*hostPath);
    file.realPath = HostPathText(*realPath);
    file.folder = HostPathText(realPath->parent_path());
    file.type = FileTypeOf(file.realPath, QByteArray::fromStdString(head->bytes));
    return file;
}

} // namespace desktop

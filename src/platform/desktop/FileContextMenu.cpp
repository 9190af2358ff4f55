#include "platform/desktop/FileContextMenu.h"

#include "platform/PathMapper.h"
#include "platform/desktop/DocumentOpener.h"
#include "platform/desktop/ProcessLauncher.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QWidget>

// GIO names a struct member "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <utility>
#include <vector>

namespace desktop {
namespace {

QAction* ExecMenu(QMenu& menu, QPoint globalPos) {
    return menu.exec(globalPos);
}

MenuExecFunction& CurrentMenuExec() {
    static MenuExecFunction function = ExecMenu;
    return function;
}

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using AppInfoPtr = std::unique_ptr<GAppInfo, GObjectUnref>;

struct GFreeDeleter {
    void operator()(gpointer memory) const { g_free(memory); }
};

// The first bytes of a regular file; nothing for anything else. A profile can hold a FIFO or a
// device under a cached file's name: opening one could block the window for good or act on the
// device, so nothing but a regular file is opened, the open does not wait, and the type is
// checked again on what was opened in case the name was swapped in between.
QByteArray HeadOfRegularFile(const QByteArray& name) {
    constexpr std::size_t kSniffSize = 4096;
    QByteArray head;
    struct stat named {};
    if (::stat(name.constData(), &named) != 0 || !S_ISREG(named.st_mode))
        return head;
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return head;
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        head.resize(kSniffSize);
        const ssize_t got = ::read(fd, head.data(), kSniffSize);
        head.resize(got > 0 ? static_cast<qsizetype>(got) : 0);
    }
    ::close(fd);
    return head;
}

// The MIME type of the file, from its name and, for a regular file, its first bytes.
QByteArray ContentTypeOf(const QString& hostPath) {
    const QByteArray name = QFile::encodeName(hostPath);
    const QByteArray head = HeadOfRegularFile(name);
    std::unique_ptr<gchar, GFreeDeleter> type(
        g_content_type_guess(name.constData(), reinterpret_cast<const guchar*>(head.constData()),
                             static_cast<gsize>(head.size()), nullptr));
    std::unique_ptr<gchar, GFreeDeleter> mime(type ? g_content_type_get_mime_type(type.get())
                                                   : nullptr);
    return mime ? QByteArray(mime.get()) : QByteArray("application/octet-stream");
}

struct TApplication {
    QString name;
    QString commandLine;
};

TApplication Describe(GAppInfo* app) {
    TApplication described;
    described.name = QString::fromUtf8(g_app_info_get_display_name(app));
    if (const char* commandLine = g_app_info_get_commandline(app))
        described.commandLine = QString::fromUtf8(commandLine);
    else if (const char* executable = g_app_info_get_executable(app))
        described.commandLine = QString::fromUtf8(executable);
    return described;
}

// The default application first, then the others registered for the type.
std::vector<TApplication> ApplicationsFor(const QByteArray& mimeType) {
    std::vector<TApplication> applications;
    AppInfoPtr preferred(g_app_info_get_default_for_type(mimeType.constData(), FALSE));
    if (preferred)
        applications.push_back(Describe(preferred.get()));
    GList* all = g_app_info_get_all_for_type(mimeType.constData());
    for (GList* item = all; item; item = item->next) {
        auto* app = static_cast<GAppInfo*>(item->data);
        if (!preferred || !g_app_info_equal(app, preferred.get()))
            applications.push_back(Describe(app));
    }
    g_list_free_full(all, g_object_unref);
    return applications;
}

bool RunApplication(const TApplication& app, const QString& file, const QString& directory) {
    QStringList arguments = ArgumentsForFile(app.commandLine, file);
    if (arguments.isEmpty())
        return false;
    const QString program = arguments.takeFirst();
    return Launch({program, arguments, directory});
}

void AppendFieldCode(QChar code, const QString& file, QString& argument, bool& usedFile) {
    switch (code.unicode()) {
    case 'f':
    case 'F':
    case 'u':
    case 'U':
        argument += file;
        usedFile = true;
        break;
    case '%':
        argument += QLatin1Char('%');
        break;
    default: // icon, name, location and the deprecated codes: nothing to pass
        break;
    }
}

} // namespace

MenuExecFunction SetMenuExecFunction(MenuExecFunction function) {
    if (!function)
        function = ExecMenu;
    return std::exchange(CurrentMenuExec(), std::move(function));
}

QStringList ArgumentsForFile(const QString& commandLine, const QString& file) {
    gint count = 0;
    gchar** parsed = nullptr;
    const QByteArray utf8 = commandLine.toUtf8();
    if (!g_shell_parse_argv(utf8.constData(), &count, &parsed, nullptr))
        return {};
    QStringList arguments;
    bool usedFile = false;
    for (gint i = 0; i < count; ++i) {
        const QString word = QString::fromUtf8(parsed[i]);
        QString argument;
        for (qsizetype at = 0; at < word.size(); ++at) {
            if (word[at] == QLatin1Char('%') && at + 1 < word.size())
                AppendFieldCode(word[++at], file, argument, usedFile);
            else
                argument += word[at];
        }
        // A word that was only a dropped field code leaves no argument behind.
        if (!argument.isEmpty() || word.isEmpty())
            arguments << argument;
    }
    g_strfreev(parsed);
    if (arguments.isEmpty())
        return {};
    if (!usedFile)
        arguments << file;
    return arguments;
}

bool ShowFileContextMenu(QWidget* owner, std::string_view windowsPath, QPoint clientPos) {
    const auto hostPath = platform::HostPathFromWindows(windowsPath);
    if (!hostPath)
        return false;
    const QString file = HostPathText(*hostPath);
    const QString directory = QFileInfo(file).absolutePath();

    QMenu menu(owner);
    std::vector<std::pair<QAction*, std::function<bool()>>> commands;
    const auto add = [&](const QString& text, std::function<bool()> command) {
        commands.emplace_back(menu.addAction(text), std::move(command));
    };

    const std::vector<TApplication> applications = ApplicationsFor(ContentTypeOf(file));
    if (applications.empty()) {
        add(QStringLiteral("&Open"), [&] {
            return Launch({QStringLiteral("xdg-open"), {file}, directory});
        });
    }
    for (std::size_t i = 0; i < applications.size(); ++i) {
        const TApplication& app = applications[i];
        const QString text = i == 0 ? QStringLiteral("&Open with %1").arg(app.name)
                                    : QStringLiteral("Open with %1").arg(app.name);
        add(text, [&app, &file, &directory] { return RunApplication(app, file, directory); });
    }
    menu.addSeparator();
    add(QStringLiteral("Show in &Folder"), [&] {
        return Launch({QStringLiteral("xdg-open"), {directory}, directory});
    });
    add(QStringLiteral("&Copy Path"), [&] {
        QApplication::clipboard()->setText(file);
        return true;
    });

    const QPoint globalPos = owner ? owner->mapToGlobal(clientPos) : clientPos;
    QAction* chosen = CurrentMenuExec()(menu, globalPos);
    for (const auto& [action, command] : commands) {
        if (action == chosen)
            return command();
    }
    return false;
}

} // namespace desktop

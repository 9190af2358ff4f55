#include "platform/desktop/FileContextMenu.h"

#include "platform/desktop/AppLauncher.h"
#include "platform/desktop/CachedFile.h"
#include "platform/desktop/GioHeaders.h"
#include "platform/desktop/ProcessLauncher.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QMenu>
#include <QWidget>

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

// The default application first, then the others registered for the type.
std::vector<AppInfoPtr> ApplicationsFor(const QByteArray& mimeType) {
    std::vector<AppInfoPtr> applications;
    AppInfoPtr preferred(g_app_info_get_default_for_type(mimeType.constData(), FALSE));
    GList* all = g_app_info_get_all_for_type(mimeType.constData());
    for (GList* item = all; item; item = item->next) {
        auto* app = static_cast<GAppInfo*>(item->data);
        if (!preferred || !g_app_info_equal(app, preferred.get()))
            applications.emplace_back(static_cast<GAppInfo*>(g_object_ref(app)));
    }
    g_list_free_full(all, g_object_unref);
    if (preferred)
        applications.insert(applications.begin(), std::move(preferred));
    return applications;
}

QString NameOf(GAppInfo* app) {
    return QString::fromUtf8(g_app_info_get_display_name(app));
}

class MenuBuilder {
public:
    explicit MenuBuilder(QWidget* owner) : menu_(owner) {}

    void add(const QString& text, std::function<bool()> command) {
        commands_.emplace_back(menu_.addAction(text), std::move(command));
    }
    void addSeparator() { menu_.addSeparator(); }

    // Shows the menu and runs what was chosen.
    bool run(QPoint globalPos) {
        QAction* chosen = CurrentMenuExec()(menu_, globalPos);
        for (const auto& [action, command] : commands_) {
            if (action == chosen)
                return command();
        }
        return false;
    }

private:
    QMenu menu_;
    std::vector<std::pair<QAction*, std::function<bool()>>> commands_;
};

void AddOpenActions(MenuBuilder& menu, const TCachedFile& file,
                    std::vector<AppInfoPtr>& applications) {
    const std::string path = QFile::encodeName(file.realPath).toStdString();
    const std::string folder = QFile::encodeName(file.folder).toStdString();
    if (file.type.runnable) {
        // Only as text: the editor shows the bytes and runs nothing.
        AppInfoPtr editor(g_app_info_get_default_for_type("text/plain", FALSE));
        const char* commandLine = editor ? g_app_info_get_commandline(editor.get()) : nullptr;
        if (!commandLine || IsRunnerCommand(commandLine))
            return;
        menu.add(
            QStringLiteral("Open as &Text with %1").arg(NameOf(editor.get())),
            [app = editor.get(), path, folder] { return LaunchApplication(app, path, folder); });
        applications.push_back(std::move(editor));
        return;
    }
    applications = ApplicationsFor(file.type.mime);
    if (applications.empty()) {
        menu.add(QStringLiteral("&Open"), [&file] {
            return Launch({QStringLiteral("xdg-open"), {file.realPath}, file.folder});
        });
    }
    for (std::size_t i = 0; i < applications.size(); ++i) {
        GAppInfo* app = applications[i].get();
        const QString text = i == 0 ? QStringLiteral("&Open with %1").arg(NameOf(app))
                                    : QStringLiteral("Open with %1").arg(NameOf(app));
        menu.add(text, [app, path, folder] { return LaunchApplication(app, path, folder); });
    }
}

void AddCopyPath(MenuBuilder& menu, const QString& path) {
    menu.add(QStringLiteral("&Copy Path"), [path] {
        QApplication::clipboard()->setText(path);
        return true;
    });
}

} // namespace

MenuExecFunction SetMenuExecFunction(MenuExecFunction function) {
    if (!function)
        function = ExecMenu;
    return std::exchange(CurrentMenuExec(), std::move(function));
}

bool ShowFileContextMenu(QWidget* owner, std::string_view windowsPath, QPoint clientPos) {
    const QString mappedPath = MappedPathText(windowsPath);
    if (mappedPath.isEmpty())
        return false;
    MenuBuilder menu(owner);
    std::vector<AppInfoPtr> applications; // alive while the menu runs
    const std::optional<TCachedFile> file = InspectCachedFile(windowsPath);
    if (file) {
        AddOpenActions(menu, *file, applications);
        menu.addSeparator();
        menu.add(QStringLiteral("Show in &Folder"), [&file] {
            return Launch({QStringLiteral("xdg-open"), {file->folder}, file->folder});
        });
    }
    AddCopyPath(menu, mappedPath);
    return menu.run(owner ? owner->mapToGlobal(clientPos) : clientPos);
}

} // namespace desktop

#include "platform/desktop/AppLauncher.h"

#include "platform/SearchPath.h"
#include "platform/desktop/GioHeaders.h"

#include <unistd.h>

#include <utility>

namespace desktop {
namespace {

// Runs in the child between fork and exec: only what is safe there.
void ChangeToFolder(gpointer folder) {
    if (::chdir(static_cast<const char*>(folder)) != 0) {
        // The program then starts where the window runs, which holds nothing of the profile.
    }
}

// A launch context has no working folder of its own, so a desktop entry is started through the
// call that lets the child change folder first; GIO turns the files into URIs the same way
// g_app_info_launch does.
bool LaunchThroughGio(GAppInfo* app, GList* files, GAppLaunchContext* context,
                      const std::string& workingDirectory) {
    if (!G_IS_DESKTOP_APP_INFO(app) || workingDirectory.empty())
        return g_app_info_launch(app, files, context, nullptr);
    auto* entry = G_DESKTOP_APP_INFO(app);
    const bool ownFolder = g_desktop_app_info_has_key(entry, "Path");
    GList* uris = nullptr;
    for (GList* file = files; file; file = file->next)
        uris = g_list_append(uris, g_file_get_uri(G_FILE(file->data)));
    const gboolean started = g_desktop_app_info_launch_uris_as_manager(
        entry, uris, context, G_SPAWN_DEFAULT, ownFolder ? nullptr : ChangeToFolder,
        ownFolder ? nullptr : const_cast<char*>(workingDirectory.c_str()), nullptr, nullptr,
        nullptr);
    g_list_free_full(uris, g_free);
    return started;
}

AppLaunchFunction& CurrentAppLaunchFunction() {
    static AppLaunchFunction function = LaunchThroughGio;
    return function;
}

} // namespace

bool LaunchApplication(GAppInfo* app, const std::string& file,
                       const std::string& workingDirectory) {
    if (!app)
        return false;
    GList* files = g_list_append(nullptr, g_file_new_for_path(file.c_str()));
    GAppLaunchContext* context = g_app_launch_context_new();
    // GIO looks the program up in the context's PATH, in the child's working folder.
    g_app_launch_context_setenv(context, "PATH", platform::CleanSearchPathOfProcess().c_str());
    const bool started = CurrentAppLaunchFunction()(app, files, context, workingDirectory);
    g_object_unref(context);
    g_list_free_full(files, g_object_unref);
    return started;
}

AppLaunchFunction SetAppLaunchFunction(AppLaunchFunction function) {
    if (!function)
        function = LaunchThroughGio;
    return std::exchange(CurrentAppLaunchFunction(), std::move(function));
}

} // namespace desktop

#pragma once
// Starts a desktop application on one file through GIO, as the desktop itself would: the file
// travels as a GFile, so GIO gives it to the application as its desktop entry asks (a path or a
// URI, always as one argument) and gives a Terminal=true entry a terminal. The application
// starts in the file's folder (unless its entry names a folder of its own) with a search path of
// absolute folders only.

#include <functional>
#include <string>

typedef struct _GAppInfo GAppInfo;
typedef struct _GAppLaunchContext GAppLaunchContext;
typedef struct _GList GList;

namespace desktop {

// Returns whether GIO could start it.
bool LaunchApplication(GAppInfo* app, const std::string& file, const std::string& workingDirectory);

// What hands the launch to GIO: the application, the list of GFiles, the launch context with its
// environment, and the folder to start in. Tests replace it to record what would start.
using AppLaunchFunction = std::function<bool(
    GAppInfo* app, GList* files, GAppLaunchContext* context, const std::string& workingDirectory)>;
AppLaunchFunction SetAppLaunchFunction(AppLaunchFunction function); // null: the real launch

} // namespace desktop

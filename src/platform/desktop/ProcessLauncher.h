#pragma once
// Every program the window starts goes through here: always as a program and an argument
// vector, never as a shell command line, and detached, so the window neither waits for nor
// tracks what it started. The program is found in, and started with, a search path of absolute
// folders only. Tests replace the launch function to record what would run.

#include <QString>
#include <QStringList>

#include <functional>

namespace desktop {

struct LaunchRequest {
    QString program;
    QStringList arguments;
    QString workingDirectory; // empty: the window's own
};

// Returns whether the program could be started.
using LaunchFunction = std::function<bool(const LaunchRequest&)>;

bool Launch(const LaunchRequest& request);

// Installs `function` (null: the default, a detached start) and returns the one it replaces.
LaunchFunction SetLaunchFunction(LaunchFunction function);

} // namespace desktop

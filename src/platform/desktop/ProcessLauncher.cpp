#include "platform/desktop/ProcessLauncher.h"

#include <QProcess>

#include <utility>

namespace desktop {
namespace {

bool StartDetached(const LaunchRequest& request) {
    return QProcess::startDetached(request.program, request.arguments, request.workingDirectory);
}

LaunchFunction& CurrentLaunchFunction() {
    static LaunchFunction function = StartDetached;
    return function;
}

} // namespace

bool Launch(const LaunchRequest& request) {
    return CurrentLaunchFunction()(request);
}

LaunchFunction SetLaunchFunction(LaunchFunction function) {
    if (!function)
        function = StartDetached;
    return std::exchange(CurrentLaunchFunction(), std::move(function));
}

} // namespace desktop

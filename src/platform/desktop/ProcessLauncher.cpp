#include "platform/desktop/ProcessLauncher.h"

#include "platform/SearchPath.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <utility>

namespace desktop {
namespace {

// The program is looked up in the clean search path here, not by the child, and the child gets
// that clean path too: nothing it runs by name can come from its working folder.
bool StartDetached(const LaunchRequest& request) {
    const std::string searchPath = platform::CleanSearchPathOfProcess();
    const auto program =
        platform::FindProgram(QFile::encodeName(request.program).toStdString(), searchPath);
    if (!program)
        return false;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PATH"),
                       QFile::decodeName(QByteArray::fromStdString(searchPath)));
    QProcess process;
    process.setProgram(QFile::decodeName(QByteArray::fromStdString(*program)));
    process.setArguments(request.arguments);
    process.setWorkingDirectory(request.workingDirectory);
    process.setProcessEnvironment(environment);
    return process.startDetached();
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

#include "platform/desktop/DocumentOpener.h"

#include "platform/CodePage.h"
#include "platform/PathMapper.h"
#include "platform/desktop/ProcessLauncher.h"

#include <QFile>

namespace desktop {
namespace {

const QString kOpener = QStringLiteral("xdg-open");

bool IsWindowsAbsolutePath(std::string_view text) {
    const bool drive = text.size() >= 3 &&
                       ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z')) &&
                       text[1] == ':' && (text[2] == '\\' || text[2] == '/');
    const bool share = text.size() >= 2 && text[0] == '\\' && text[1] == '\\';
    return drive || share;
}

QString AnsiText(std::string_view text) {
    return QString::fromStdU16String(platform::AnsiToUtf16(text));
}

} // namespace

QString HostPathText(const std::filesystem::path& hostPath) {
    return QFile::decodeName(QByteArray::fromStdString(hostPath.native()));
}

void OpenDocument(std::string_view target) {
    QString argument = AnsiText(target);
    if (IsWindowsAbsolutePath(target)) {
        if (auto hostPath = platform::HostPathFromWindows(target))
            argument = HostPathText(*hostPath);
    }
    Launch({kOpener, {argument}, {}});
}

void OpenCachedFile(std::string_view windowsPath, std::string_view windowsDirectory) {
    const auto hostPath = platform::HostPathFromWindows(windowsPath);
    if (!hostPath)
        return;
    QString workingDirectory;
    if (!windowsDirectory.empty()) {
        if (auto hostDirectory = platform::HostPathFromWindows(windowsDirectory))
            workingDirectory = HostPathText(*hostDirectory);
    }
    Launch({kOpener, {HostPathText(*hostPath)}, workingDirectory});
}

} // namespace desktop

#include "platform/desktop/DocumentOpener.h"

#include "platform/AsciiCase.h"
#include "platform/CodePage.h"
#include "platform/PathMapper.h"
#include "platform/desktop/CachedFile.h"
#include "platform/desktop/ErrorReport.h"
#include "platform/desktop/ProcessLauncher.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include <utility>

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

bool AskBeforeRunning(const QString& fileName, const QString& typeName) {
    QMessageBox box(
        QMessageBox::Warning, QString::fromLatin1(kApplicationTitle),
        QStringLiteral("\u201c%1\u201d is of the type %2.\n\nOpening it may run it as a "
                       "program. Open it anyway?")
            .arg(fileName, typeName),
        QMessageBox::NoButton, QApplication::activeWindow());
    QPushButton* open = box.addButton(QStringLiteral("&Open"), QMessageBox::AcceptRole);
    QPushButton* keep = box.addButton(QStringLiteral("Do &Not Open"), QMessageBox::RejectRole);
    box.setDefaultButton(keep);
    box.setEscapeButton(keep);
    box.exec();
    return box.clickedButton() == open;
}

ConfirmRunFunction& CurrentConfirmRun() {
    static ConfirmRunFunction function = AskBeforeRunning;
    return function;
}

QString TypeName(const TFileType& type) {
    const QString mime = QString::fromLatin1(type.mime);
    return type.description.isEmpty() ? mime
                                      : QStringLiteral("%1 (%2)").arg(type.description, mime);
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

bool IsWebAddress(std::string_view text) {
    std::size_t schemeEnd = 0;
    for (std::string_view scheme : {"http://", "https://", "ftp://"}) {
        if (text.size() > scheme.size() &&
            platform::EqualsIgnoringAsciiCase(text.substr(0, scheme.size()), scheme))
            schemeEnd = scheme.size();
    }
    if (schemeEnd == 0)
        return false;
    const char first = text[schemeEnd];
    if (first == '/' || first == '\\' || first == '?' || first == '#')
        return false; // no host
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F)
            return false;
    }
    return text.back() != ' ';
}

void OpenWebAddress(std::string_view text) {
    if (IsWebAddress(text))
        Launch({kOpener, {AnsiText(text)}, {}});
}

void OpenCachedFile(std::string_view windowsPath) {
    const std::optional<TCachedFile> file = InspectCachedFile(windowsPath);
    if (!file)
        return;
    if (file->type.runnable &&
        !CurrentConfirmRun()(QFileInfo(file->mappedPath).fileName(), TypeName(file->type)))
        return;
    Launch({kOpener, {file->realPath}, file->folder});
}

ConfirmRunFunction SetConfirmRunFunction(ConfirmRunFunction function) {
    if (!function)
        function = AskBeforeRunning;
    return std::exchange(CurrentConfirmRun(), std::move(function));
}

} // namespace desktop

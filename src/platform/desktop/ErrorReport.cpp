#include "platform/desktop/ErrorReport.h"

#include "platform/CodePage.h"

#include <QApplication>
#include <QMessageBox>

#include <exception>
#include <utility>

namespace desktop {

const char* const kApplicationTitle = "Zezuvur";

namespace {

void StandardErrorBox(const QString& caption, const QString& message) {
    QMessageBox::critical(QApplication::activeWindow(), caption, message, QMessageBox::Ok);
}

ErrorBoxFunction& CurrentErrorBox() {
    static ErrorBoxFunction function = StandardErrorBox;
    return function;
}

} // namespace

ErrorBoxFunction SetErrorBoxFunction(ErrorBoxFunction function) {
    if (!function)
        function = StandardErrorBox;
    return std::exchange(CurrentErrorBox(), std::move(function));
}

void ShowErrorBox(const QString& message) {
    CurrentErrorBox()(QString::fromLatin1(kApplicationTitle), message);
}

void RunReporting(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        // Messages carry 8-bit program text such as paths.
        ShowErrorBox(QString::fromStdU16String(platform::AnsiToUtf16(error.what())));
    } catch (...) {
        ShowErrorBox(QStringLiteral("Unexpected error."));
    }
}

} // namespace desktop

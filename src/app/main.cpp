#include "app/AppIcon.h"
#include "app/ZezuvurMain.h"
#include "platform/desktop/ErrorReport.h"
#include "settings/OptionsUnit.h"

#include "Version.h"

#include <QApplication>

#include <memory>

int main(int argc, char** argv) {
    InitOptionsUnit();
    int exitCode = 0;
    {
        QApplication application(argc, argv);
        QApplication::setApplicationName(QString::fromLatin1(desktop::kApplicationTitle));
        QApplication::setApplicationVersion(QString::fromLatin1(zezuvur::kVersion));
        QApplication::setWindowIcon(ApplicationIcon());
        auto frmZezuvurMain = std::make_unique<TfrmZezuvurMain>();
        frmZezuvurMain->show();
        exitCode = QApplication::exec();
        frmZezuvurMain.reset(); // the frame lets go of the cache before the settings are saved
    }
    DoneOptionsUnit();
    return exitCode;
}

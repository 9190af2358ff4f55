#include "app/AppIcon.h"
#include "app/CommandLine.h"
#include "app/StartProfile.h"
#include "app/ZezuvurMain.h"
#include "platform/desktop/ErrorReport.h"
#include "settings/OptionsUnit.h"
#include "ui/ProfileChooser.h"

#include "Version.h"

#include <QApplication>

#include <memory>

int main(int argc, char** argv) {
    // Help, version, the profile list and a bad command line are answered before anything of
    // the window exists, so they need no display.
    const TStartOptions options = ParseCommandLine(argc, argv);
    if (auto answered = AnswerOnTerminal(options))
        return *answered;

    InitOptionsUnit();
    int exitCode = 0;
    {
        // The toolkit sees no argument: every one was the program's own.
        int toolkitArgc = 1;
        QApplication application(toolkitArgc, argv);
        QApplication::setApplicationName(QString::fromLatin1(desktop::kApplicationTitle));
        QApplication::setApplicationVersion(QString::fromLatin1(zezuvur::kVersion));
        QApplication::setWindowIcon(ApplicationIcon());
        // Wayland desktops take the window's icon from the menu entry of this name.
        QApplication::setDesktopFileName(QStringLiteral("zezuvur"));
        if (SelectStartProfile(platform::profiles::RootsFromEnvironment(), &ChooseProfile)) {
            auto frmZezuvurMain = std::make_unique<TfrmZezuvurMain>();
            frmZezuvurMain->show();
            exitCode = QApplication::exec();
            frmZezuvurMain.reset(); // the frame lets go of the cache before the settings are saved
        }
    }
    DoneOptionsUnit();
    return exitCode;
}

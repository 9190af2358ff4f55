#include "app/LaunchUtils.h"
#include "app/ZezuvurMain.h"

#include "cache/IECache.h"
#include "ui/CachedSitesFrame.h"
#include "ui/FrameTestSupport.h"
#include "ui/ListBox.h"

#include <QSplashScreen>
#include <QTest>

#include <gmock/gmock.h>

#include <stdexcept>

namespace {

using testing::ElementsAre;

bool AnySplashLeft() {
    for (QWidget* window : QApplication::topLevelWidgets())
        if (qobject_cast<QSplashScreen*>(window))
            return true;
    return false;
}

win::HANDLE FailingFindFirst(win::LPCSTR, win::DWORD, win::DWORD, win::GROUPID,
                             win::INTERNET_CACHE_ENTRY_INFOA*, win::LPDWORD, win::LPVOID,
                             win::LPDWORD, win::LPVOID) {
    throw std::runtime_error("cache went away");
}

// Whether a splash saying what the program does was on screen when the cache was first read.
bool gSplashWhileReading = false;
win::HANDLE WatchingFindFirst(win::LPCSTR pattern, win::DWORD flags, win::DWORD filter,
                              win::GROUPID group, win::INTERNET_CACHE_ENTRY_INFOA* info,
                              win::LPDWORD size, win::LPVOID r1, win::LPDWORD r2, win::LPVOID r3) {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* splash = qobject_cast<QSplashScreen*>(window);
        if (splash && splash->isVisible() && splash->windowFlags() & Qt::WindowStaysOnTopHint)
            gSplashWhileReading = true;
    }
    return IECacheTesting::DefaultUrlCacheCalls().findFirst(pattern, flags, filter, group, info,
                                                            size, r1, r2, r3);
}

// Makes every read of the cache throw while it lives.
class FailingCache {
public:
    FailingCache() {
        auto calls = IECacheTesting::DefaultUrlCacheCalls();
        calls.findFirst = &FailingFindFirst;
        previous_ = IECacheTesting::SetUrlCacheCalls(calls);
    }
    ~FailingCache() { IECacheTesting::SetUrlCacheCalls(previous_); }

private:
    IECacheTesting::UrlCacheCalls previous_{};
};

TEST(MainWindow, StartsOnTheFirstSiteBehindASplash) {
    TwoSiteProfile profile;
    ErrorBoxRecorder errors;
    auto calls = IECacheTesting::DefaultUrlCacheCalls();
    calls.findFirst = &WatchingFindFirst;
    const auto previous = IECacheTesting::SetUrlCacheCalls(calls);
    TfrmZezuvurMain window;
    IECacheTesting::SetUrlCacheCalls(previous);
    EXPECT_TRUE(gSplashWhileReading);
    EXPECT_TRUE(errors.boxes.empty());
    EXPECT_FALSE(AnySplashLeft());
    EXPECT_FALSE(window.isVisible()); // shown by the caller's event loop
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Zezuvur 1.11 FREEWARE"));
    EXPECT_EQ(window.frameSites->lbxSites->Count(), 2);
    EXPECT_EQ(window.frameSites->lbxSites->ItemIndex(), 0);
    EXPECT_EQ(window.Panel1->height(), 33);
    EXPECT_EQ(window.frameSites->geometry().top(), 33);
    window.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
}

TEST(MainWindow, FailedAnalysisGivesOneErrorBoxThenTheWindow) {
    TwoSiteProfile profile;
    ErrorBoxRecorder errors;
    std::unique_ptr<TfrmZezuvurMain> window;
    {
        FailingCache failing;
        window = std::make_unique<TfrmZezuvurMain>();
    }
    ASSERT_EQ(errors.boxes.size(), 1u);
    EXPECT_EQ(errors.boxes[0].caption, QStringLiteral("Zezuvur"));
    EXPECT_EQ(errors.boxes[0].message, QStringLiteral("cache went away"));
    EXPECT_FALSE(AnySplashLeft());
    EXPECT_EQ(window->frameSites->lbxSites->Count(), 0);
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window.reset();
    EXPECT_EQ(errors.boxes.size(), 1u);
}

TEST(MainWindow, EveryClickAnywhereOnThePanelOpensTheHomePageAndADoubleClickOnce) {
    zz_test::TempProfile profile;
    TfrmZezuvurMain window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    LaunchRecorder launches;
    const QRect panel = window.Panel1->rect();
    for (QPoint at : {panel.topLeft() + QPoint(1, 1), panel.center(), panel.bottomRight()})
        QTest::mouseClick(window.Panel1, Qt::LeftButton, {}, at);
    ASSERT_EQ(launches.requests.size(), 3u);
    // A double-click through the window system: press, release, press, double-click, release.
    QTest::mouseDClick(window.windowHandle(), Qt::LeftButton, {},
                       window.Panel1->mapTo(&window, panel.center()));
    ASSERT_EQ(launches.requests.size(), 4u) << "a double-click is one click";
    for (const auto& request : launches.requests) {
        EXPECT_EQ(request.program, QStringLiteral("xdg-open"));
        EXPECT_EQ(request.arguments, QStringList{QStringLiteral("http://www.divezor.example/")});
    }
}

TEST(ShellOpen, HandsTheTargetToTheOpenerAsOneArgument) {
    zz_test::TempProfile profile;
    std::filesystem::create_directories(profile.folder() / "Documents");
    const std::string hostFile = (profile.folder() / "Documents" / "a b.txt").string();
    const std::pair<std::string, QString> cases[] = {
        {"http://example.org/a b?q=\"x\";rm -rf ~", "http://example.org/a b?q=\"x\";rm -rf ~"},
        {"", ""},
        {"C:\\Users\\" + profile.folder().filename().string() + "\\Documents\\a b.txt",
         QString::fromStdString(hostFile)},
    };
    for (const auto& [target, argument] : cases) {
        LaunchRecorder launches;
        ShellOpen(target);
        ASSERT_EQ(launches.requests.size(), 1u) << target;
        EXPECT_EQ(launches.requests[0].program, QStringLiteral("xdg-open"));
        EXPECT_EQ(launches.requests[0].arguments, QStringList{argument}) << target;
        EXPECT_TRUE(launches.requests[0].workingDirectory.isEmpty());
    }
}

TEST(ForceForeground, FollowsTheEnabledVisibleAndMaximisedRules) {
    enum class Start { Hidden, Minimised, Maximised, Normal };
    struct Case {
        const char* name;
        Start start;
        bool enabled;
        bool restore;
        Qt::WindowStates expectedState;
        bool expectVisible;
    };
    const Case cases[] = {
        {"disabled", Start::Minimised, false, true, Qt::WindowMinimized, true},
        {"no restore", Start::Minimised, true, false, Qt::WindowMinimized, true},
        {"not visible", Start::Hidden, true, true, Qt::WindowNoState, false},
        {"minimised", Start::Minimised, true, true, Qt::WindowNoState, true},
        {"maximised", Start::Maximised, true, true, Qt::WindowMaximized, true},
        {"normal", Start::Normal, true, true, Qt::WindowNoState, true},
    };
    for (const Case& c : cases) {
        QWidget window;
        window.resize(300, 200);
        window.setEnabled(c.enabled);
        switch (c.start) {
        case Start::Hidden:
            break;
        case Start::Minimised:
            window.showMinimized();
            break;
        case Start::Maximised:
            window.showMaximized();
            break;
        case Start::Normal:
            window.show();
            break;
        }
        const QSize size = window.size();
        ForceForeground(&window, c.restore);
        QApplication::processEvents(); // activation arrives from the window system
        EXPECT_EQ(window.windowState(), c.expectedState) << c.name;
        EXPECT_EQ(window.isVisible(), c.expectVisible) << c.name;
        if (c.start == Start::Normal) {
            EXPECT_EQ(window.size(), size);
        }
        const bool focused = QApplication::focusWidget() == &window;
        EXPECT_EQ(focused, c.enabled && c.restore && c.start != Start::Hidden) << c.name;
    }
}

} // namespace

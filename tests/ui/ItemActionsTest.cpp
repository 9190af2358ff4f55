#include "ui/CachedSitesFrame.h"

#include "ese-writer/EseWriter.h"

#include "platform/PathMapper.h"
#include "platform/desktop/DocumentOpener.h"
#include "platform/desktop/FileContextMenu.h"
#include "ui/FrameTestSupport.h"
#include "ui/ListBox.h"
#include "ui/widgets/ImagePreview.h"
#include "ui/widgets/LayoutNow.h"

#include <QBuffer>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gmock/gmock.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using testing::ElementsAre;
using urlcache_writer::ContainerKind;

std::string PictureBytes(const char* format, Qt::GlobalColor colour) {
    QImage image(8, 6, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes.toStdString();
}

// One site with three decodable images, a page, a cookie and three history visits.
class ActionProfile : public zz_test::TempProfile {
public:
    ActionProfile() : writer_(folder(), urlcache_writer::Layout::Vista) {
        AddContent("http://gamma.example/a.png", "a[1].png", PictureBytes("PNG", Qt::red));
        AddContent("http://gamma.example/b.png", "b[1].png", PictureBytes("PNG", Qt::green));
        AddContent("http://gamma.example/c.bmp", "c[1].bmp", PictureBytes("BMP", Qt::blue));
        AddContent("http://gamma.example/index.html", "index[1].htm", "<html></html>");
        writer_.add(ContainerKind::Cookies,
                    TwoSiteProfile::Entry("Cookie:al@gamma.example/", "al@gamma[1].txt", 0, "c=1"));
        writer_.add(ContainerKind::History,
                    TwoSiteProfile::Entry("Visited: al@http://gamma.example/page"));
        writer_.add(ContainerKind::History,
                    TwoSiteProfile::Entry("Visited: al@http://gamma.example/mail@box"));
        writer_.add(ContainerKind::History, TwoSiteProfile::Entry("http://gamma.example/plain"));
    }
    void AddContent(std::string url, std::string file, std::string content) {
        writer_.add(ContainerKind::Content,
                    TwoSiteProfile::Entry(std::move(url), std::move(file), 0, std::move(content)));
    }
    void Write() { writer_.write(); }

    // The host path of a cached file, as the window hands it on.
    QString HostFile(const std::string& fileName) const {
        urlcache_writer::Entry entry = TwoSiteProfile::Entry("x", fileName);
        const auto host =
            platform::HostPathFromWindows(writer_.windowsFilePath(ContainerKind::Content, entry));
        return host ? desktop::HostPathText(*host) : QString();
    }

private:
    urlcache_writer::ProfileWriter writer_;
};

// A right-click's menu request, as the window system sends it after the button goes up.
void RequestMenu(QWidget* widget, QPoint at) {
    QContextMenuEvent request(QContextMenuEvent::Mouse, at, widget->mapToGlobal(at),
                              Qt::NoModifier);
    QApplication::sendEvent(widget, &request);
}

class ItemActions : public testing::Test {
protected:
    void Load() {
        profile.Write();
        frame.resize(523, 369);
        widgets::LayOutNow(&frame);
        frame.InitFrame();
        frame.LoadSites();
        frame.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    }
    void TearDown() override { frame.DoneFrame(); }

    TListBox* BoxOnPage(int page) const {
        TListBox* boxes[] = {frame.lbxImages, frame.lbxPages,   frame.lbxMedia,
                             frame.lbxOther,  frame.lbxCookies, frame.lbxHistory};
        return boxes[page];
    }

    bool ContextPopup(QObject* sender) {
        bool handled = false;
        frame.lbxImagesContextPopup(sender, QPoint(5, 5), handled);
        return handled;
    }

    ActionProfile profile;
    TframeCachedSites frame;
    ErrorBoxRecorder errors;
};

TEST_F(ItemActions, NothingHappensWithoutASelectionOnAnyTab) {
    Load();
    LaunchRecorder launches;
    MenuRecorder menus;
    for (int page = 0; page < 6; ++page) {
        frame.pgcSiteInfo->setCurrentIndex(page);
        TListBox* box = BoxOnPage(page);
        QTest::mouseDClick(box->viewport(), Qt::LeftButton, {}, QPoint(200, 200));
        box->SetItemIndex(-1);
        frame.OpenSelFile(box);
        EXPECT_FALSE(ContextPopup(box)) << page;
    }
    EXPECT_TRUE(launches.requests.empty());
    EXPECT_TRUE(menus.menus.empty());
    EXPECT_TRUE(errors.boxes.empty());
}

TEST_F(ItemActions, HistoryOpensWhatFollowsTheFirstAt) {
    Load();
    frame.pgcSiteInfo->setCurrentWidget(frame.TabSheet3);
    ASSERT_EQ(frame.lbxHistory->Count(), 3);
    const QString expected[] = {"http://gamma.example/page", "http://gamma.example/mail@box",
                                "http://gamma.example/plain"};
    for (int i = 0; i < 3; ++i) {
        LaunchRecorder launches;
        frame.lbxHistory->SetItemIndex(i);
        frame.OpenSelFile(frame.lbxHistory);
        ASSERT_EQ(launches.requests.size(), 1u);
        EXPECT_EQ(launches.requests[0].program, QStringLiteral("xdg-open"));
        EXPECT_EQ(launches.requests[0].arguments, QStringList{expected[i]});
    }
    MenuRecorder menus;
    EXPECT_FALSE(ContextPopup(frame.lbxHistory));
    EXPECT_TRUE(menus.menus.empty());
}

TEST_F(ItemActions, DoubleClickOpensTheFileInItsOwnDirectory) {
    Load();
    LaunchRecorder launches;
    const QRect second = frame.lbxImages->visualRect(frame.lbxImages->model()->index(1, 0));
    QTest::mouseClick(frame.lbxImages->viewport(), Qt::LeftButton, {}, second.center());
    QTest::mouseDClick(frame.lbxImages->viewport(), Qt::LeftButton, {}, second.center());
    ASSERT_EQ(launches.requests.size(), 1u);
    const QString file = profile.HostFile("b[1].png");
    EXPECT_EQ(launches.requests[0].program, QStringLiteral("xdg-open"));
    EXPECT_EQ(launches.requests[0].arguments, QStringList{file});
    EXPECT_EQ(launches.requests[0].workingDirectory + "/b[1].png", file);
}

// A cookie the WebCache database holds has no file: its item names domain and path, and neither
// a double-click nor the file menu acts on it, even with a file of that name in the profile.
TEST_F(ItemActions, ADatabaseCookieShowsItsDomainAndPathAndOpensNothing) {
    ese_writer::Table containers = ese_writer::WebCacheContainersTable();
    ese_writer::Row history;
    history["ContainerId"] = ese_writer::Int64(2);
    history["Name"] = ese_writer::Utf16("History");
    history["Directory"] = ese_writer::Utf16(
        "C:\\Users\\al\\AppData\\Local\\Microsoft\\Windows\\History\\History.IE5\\");
    containers.rows.push_back(history);
    ese_writer::Table visits = ese_writer::WebCacheContainerTable(2);
    ese_writer::Row visit;
    visit["EntryId"] = ese_writer::Int64(1);
    visit["UrlHash"] = ese_writer::Int64(1);
    visit["Type"] = ese_writer::UInt32(0x00200001);
    visit["Url"] = ese_writer::Utf16("Visited: al@http://gamma.example/db");
    visits.rows.push_back(visit);
    ese_writer::Table cookies = ese_writer::WebCacheCookieTable(3);
    ese_writer::Row cookie;
    cookie["EntryId"] = ese_writer::Int64(1);
    cookie["RDomain"] = ese_writer::Utf16("example.gamma");
    cookie["Path"] = ese_writer::Utf16("/");
    cookie["Name"] = ese_writer::Bytes(std::string("c\0", 2));
    cookie["Value"] = ese_writer::Bytes(std::string("1\0", 2));
    cookies.rows.push_back(cookie);
    const auto webCache = profile.folder() / "AppData/Local/Microsoft/Windows/WebCache";
    std::filesystem::create_directories(webCache);
    ese_writer::Write(webCache / "WebCacheV01.dat", {containers, visits, cookies});
    std::ofstream(profile.folder() / "al@gamma.example") << "not the cookie";
    Load();

    frame.pgcSiteInfo->setCurrentIndex(4);
    ASSERT_EQ(frame.lbxCookies->Count(), 2);
    EXPECT_EQ(frame.lbxCookies->Item(0), "al@gamma[1].txt");
    EXPECT_EQ(frame.lbxCookies->Item(1), "al@gamma.example/");
    LaunchRecorder launches;
    MenuRecorder menus;
    frame.lbxCookies->SetItemIndex(1);
    frame.OpenSelFile(frame.lbxCookies);
    ContextPopup(frame.lbxCookies); // consumed, but no menu: there is no file to offer
    EXPECT_TRUE(launches.requests.empty());
    EXPECT_TRUE(menus.menus.empty());
    frame.lbxCookies->SetItemIndex(0); // the index.dat cookie's file still opens
    frame.OpenSelFile(frame.lbxCookies);
    EXPECT_EQ(launches.requests.size(), 1u);
}

TEST_F(ItemActions, EachFileTabIsBoundedByItsOwnSiteCount) {
    Load();
    TCacheAnalyzer& analyzer = *frame.CacheAnalyzer();
    std::int32_t* bounds[] = {&analyzer.SiteImages, &analyzer.SitePages, &analyzer.SiteMedia,
                              &analyzer.SiteOther, &analyzer.SiteCookies};
    std::int32_t counts[5];
    for (int page = 0; page < 5; ++page)
        counts[page] = *bounds[page];
    for (int page : {0, 1, 4}) { // the tabs with items at this site
        frame.pgcSiteInfo->setCurrentIndex(page);
        BoxOnPage(page)->SetItemIndex(0);
        for (std::int32_t* bound : bounds)
            *bound = 0;
        {
            LaunchRecorder launches;
            frame.OpenSelFile(nullptr);
            EXPECT_TRUE(launches.requests.empty()) << "index 0 is not below 0, tab " << page;
        }
        *bounds[page] = counts[page];
        LaunchRecorder launches;
        frame.OpenSelFile(nullptr);
        EXPECT_EQ(launches.requests.size(), 1u) << "only the tab's own count matters, tab " << page;
    }
}

TEST_F(ItemActions, RightClickShowsTheMenuOfTheSelectedItemWithoutSelecting) {
    Load();
    frame.lbxImages->SetItemIndex(0);
    frame.lbxImagesClick(frame.lbxImages);
    const QString shown = frame.imgPreview->Location();
    MenuRecorder menus(QStringLiteral("&Copy Path"));
    const QRect third = frame.lbxImages->visualRect(frame.lbxImages->model()->index(2, 0));
    QTest::mousePress(frame.lbxImages->viewport(), Qt::RightButton, {}, third.center());
    QTest::mouseRelease(frame.lbxImages->viewport(), Qt::RightButton, {}, third.center());
    RequestMenu(frame.lbxImages->viewport(), third.center());
    EXPECT_EQ(frame.lbxImages->ItemIndex(), 0);
    EXPECT_EQ(frame.imgPreview->Location(), shown);
    ASSERT_EQ(menus.menus.size(), 1u);
    EXPECT_THAT(menus.menus[0].join('|').toStdString(),
                testing::HasSubstr("Show in &Folder|&Copy Path"));
    EXPECT_EQ(QApplication::clipboard()->text(), profile.HostFile("a[1].png"));
}

TEST_F(ItemActions, RightClickOnAFifoNamedLikeACachedFileDoesNotBlock) {
    Load();
    const QByteArray fifo = QFile::encodeName(profile.HostFile("a[1].png"));
    ASSERT_EQ(::unlink(fifo.constData()), 0);
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    // Should the menu wait on the FIFO, a writer that comes and goes lets it go on and fail.
    std::atomic<bool> menuBuilt{false};
    std::atomic<bool> hadToRelease{false};
    std::thread watchdog([&] {
        for (int waited = 0; waited < 100 && !menuBuilt; ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!menuBuilt) {
            hadToRelease = true;
            ::close(::open(fifo.constData(), O_RDWR | O_NONBLOCK));
        }
    });
    frame.lbxImages->SetItemIndex(0);
    MenuRecorder menus;
    RequestMenu(frame.lbxImages->viewport(), QPoint(5, 5));
    menuBuilt = true;
    watchdog.join();
    EXPECT_FALSE(hadToRelease);
    EXPECT_EQ(menus.menus.size(), 1u);
}

TEST_F(ItemActions, RightClickOnTheTabStripOrAScrollBarUsesTheActiveTabsSelection) {
    Load();
    frame.pgcSiteInfo->setCurrentWidget(frame.TabSheet4);
    frame.lbxPages->SetItemIndex(0);
    frame.lbxImages->SetItemIndex(1);
    // Should a scroll bar's own menu come up instead, it is closed rather than left waiting.
    QTimer closeStrayMenu;
    QObject::connect(&closeStrayMenu, &QTimer::timeout, [] {
        if (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
    });
    closeStrayMenu.start(2000);
    QTabBar* tabs = frame.pgcSiteInfo->tabBar();
    QWidget* const places[] = {tabs, frame.lbxPages->verticalScrollBar(),
                               frame.lbxPages->horizontalScrollBar()};
    for (QWidget* place : places) {
        QApplication::clipboard()->clear();
        MenuRecorder menus(QStringLiteral("&Copy Path"));
        RequestMenu(place, QPoint(2, 2));
        ASSERT_EQ(menus.menus.size(), 1u) << place->metaObject()->className();
        EXPECT_EQ(QApplication::clipboard()->text(), profile.HostFile("index[1].htm"));
    }
}

TEST_F(ItemActions, ArrowKeysThroughImagesPreviewEachAndOtherTabsLeaveItAlone) {
    Load();
    const QRect first = frame.lbxImages->visualRect(frame.lbxImages->model()->index(0, 0));
    QTest::mouseClick(frame.lbxImages->viewport(), Qt::LeftButton, {}, first.center());
    EXPECT_EQ(frame.imgPreview->Location(), profile.HostFile("a[1].png"));
    for (const char* name : {"b[1].png", "c[1].bmp"}) {
        QTest::keyClick(frame.lbxImages, Qt::Key_Down);
        EXPECT_EQ(frame.imgPreview->Location(), profile.HostFile(name));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !frame.imgPreview->IsDecoding(); }));
        EXPECT_TRUE(frame.imgPreview->HasPicture()) << name;
    }
    frame.pgcSiteInfo->setCurrentWidget(frame.TabSheet4);
    frame.lbxPages->setFocus();
    QTest::keyClick(frame.lbxPages, Qt::Key_Home);
    frame.lbxSites->setFocus();
    QTest::keyClick(frame.lbxSites, Qt::Key_Home); // the site shown again
    EXPECT_EQ(frame.imgPreview->Location(), profile.HostFile("c[1].bmp"));
}

// Two frames of 2 x 2 pixels that loop.
const char kAnimatedGif[] =
    "\x47\x49\x46\x38\x39\x61\x02\x00\x02\x00\xf1\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff\xff"
    "\xff\xff\x21\xff\x0b\x4e\x45\x54\x53\x43\x41\x50\x45\x32\x2e\x30\x03\x01\x00\x00\x00\x21\xf9"
    "\x04\x00\x0a\x00\x00\x00\x2c\x00\x00\x00\x00\x02\x00\x02\x00\x00\x02\x03\x04\x80\x02\x00\x21"
    "\xf9\x04\x00\x0a\x00\x00\x00\x2c\x00\x00\x00\x00\x02\x00\x02\x00\x00\x02\x03\x4c\x92\x02\x00"
    "\x3b";

TEST_F(ItemActions, PreviewAnimatesGifsAndStaysEmptyForWhatItCannotDecode) {
    profile.AddContent("http://gamma.example/anim.gif", "anim[1].gif",
                       std::string(kAnimatedGif, sizeof kAnimatedGif - 1));
    profile.AddContent("http://gamma.example/fake.gif", "fake[1].gif", "<script>x</script>");
    Load();
    const std::pair<const char*, bool> files[] = {{"anim[1].gif", true}, {"fake[1].gif", false}};
    for (const auto& [name, decodable] : files) {
        int index = -1;
        for (int i = 0; i < frame.lbxImages->Count(); ++i)
            if (frame.lbxImages->Item(i) == name)
                index = i;
        ASSERT_GE(index, 0) << name;
        const QRect item = frame.lbxImages->visualRect(frame.lbxImages->model()->index(index, 0));
        QTest::mouseClick(frame.lbxImages->viewport(), Qt::LeftButton, {}, item.center());
        EXPECT_EQ(frame.imgPreview->Location(), profile.HostFile(name));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !frame.imgPreview->IsDecoding(); }));
        EXPECT_EQ(frame.imgPreview->HasPicture(), decodable) << name;
        EXPECT_EQ(frame.imgPreview->IsAnimated(), decodable) << name;
    }
    EXPECT_TRUE(errors.boxes.empty());
}

TEST_F(ItemActions, HostileFileNamesReachTheLauncherAsOneArgument) {
    const std::string names[] = {"$(touch pwned).jpg", "a b \"c\" 'd';e.jpg", "-rf *.jpg"};
    for (const std::string& name : names)
        profile.AddContent("http://gamma.example/" + std::to_string(name.size()), name, "JFIF");
    Load();
    for (const std::string& name : names) {
        const QString file = profile.HostFile(name);
        int index = -1;
        for (int i = 0; i < frame.lbxImages->Count(); ++i)
            if (frame.lbxImages->Item(i) == name)
                index = i;
        ASSERT_GE(index, 0) << name;
        frame.lbxImages->SetItemIndex(index);
        LaunchRecorder launches;
        frame.OpenSelFile(frame.lbxImages);
        ASSERT_EQ(launches.requests.size(), 1u) << name;
        EXPECT_EQ(launches.requests[0].arguments, QStringList{file});
    }
}

} // namespace

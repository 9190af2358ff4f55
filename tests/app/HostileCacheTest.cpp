// A cache from a disk nobody vouches for: damaged containers beside sound ones, names built to
// confuse a display or a shell. The window shows what is readable, passes names on as single
// arguments, and neither the window nor the tools change a byte of the profile.

#include "app/ZezuvurMain.h"

#include "platform/CodePage.h"
#include "platform/TextEscape.h"
#include "platform/urlcache/BrokenContainerCases.h"
#include "support/ToolRunner.h"
#include "ui/CachedSitesFrame.h"
#include "ui/FrameTestSupport.h"
#include "ui/ListBox.h"

#include <QClipboard>
#include <QFileInfo>
#include <QTabWidget>
#include <QTest>

#include <gmock/gmock.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

using testing::ElementsAre;
using urlcache_writer::ContainerKind;
namespace fs = std::filesystem;

const std::string kLongUrl = "http://long.example/" + std::string(64 * 1024, 'a');
const std::string kControlUrl = "http://ctl.example/\x01\x1b[2J\x7f";
const std::string kForeignUrl = "http://cp.example/\x81\x8d\x8f\x90\x9d";
const std::string kShellVisit = "Visited: al@http://ctl.example/$(touch pwned);`id`|rm -rf ~ 'q\"";
const std::string kLongVisit = "Visited: al@" + kLongUrl;

// A Vista profile whose content container is damaged (one slot points past the end, the chain
// loops) and whose Low content, cookie and history containers are sound, with an empty periodic
// history container beside them; the sound entries carry hostile names.
class HostileProfile : public zz_test::TempProfile {
public:
    HostileProfile() {
        urlcache_writer::ProfileWriter writer(folder(), urlcache_writer::Layout::Vista);
        writer.touch(ContainerKind::Content);
        urlcache_writer::ContainerOptions low;
        low.lowIntegrity = true;
        auto content = [&](std::string url, std::string file) {
            writer.add(ContainerKind::Content,
                       TwoSiteProfile::Entry(std::move(url), std::move(file), 0, "bytes"), low);
        };
        content(kLongUrl, "long[1].htm");
        content(kControlUrl, "ctl\x1b[31m[1].htm");
        content(kForeignUrl, "cp\xFF\x80[1].htm");
        content("http://nl.example/a", "first\r\nsecond.htm");
        content("http://pic.example/p.png", "p[1].png");
        writer.add(ContainerKind::Cookies,
                   TwoSiteProfile::Entry("Cookie:al@ctl.example/", "al@ctl[1].txt", 0, "c=1"));
        writer.add(ContainerKind::History, TwoSiteProfile::Entry(kShellVisit));
        writer.add(ContainerKind::History, TwoSiteProfile::Entry(kLongVisit));
        writer.write();
        brokenIndex = writer.indexPath(ContainerKind::Content);
        std::string bytes = zz_broken::soundContainer();
        zz_broken::put32(bytes, zz_broken::slot(1) + 4, 0xFFFFFF00);
        zz_broken::put32(bytes, zz_broken::kTable + 8, zz_broken::kTable);
        zz_broken::writeFile(brokenIndex, bytes);
        const fs::path periodic =
            writer.indexPath(ContainerKind::History).parent_path() / "MSHist012009010120090108";
        fs::create_directories(periodic);
        zz_broken::writeFile(periodic / "index.dat", "");
    }
    fs::path brokenIndex;
};

// What identifies every file and folder of a tree: type, size, modification and change times
// to the nanosecond, and the content.
struct NodeState {
    mode_t type = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};
    std::string content;
    bool operator==(const NodeState& other) const {
        return type == other.type && size == other.size &&
               modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec &&
               changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec &&
               content == other.content;
    }
};

void PrintTo(const NodeState& state, std::ostream* out) {
    *out << "type " << (state.type >> 12) << " size " << state.size << " mtime "
         << state.modified.tv_sec << '.' << state.modified.tv_nsec << " ctime "
         << state.changed.tv_sec << '.' << state.changed.tv_nsec;
}

std::map<std::string, NodeState> SnapshotOf(const fs::path& root) {
    std::map<std::string, NodeState> nodes;
    auto add = [&](const fs::path& path) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0)
            return;
        NodeState state{info.st_mode & S_IFMT, info.st_size, info.st_mtim, info.st_ctim, {}};
        if (S_ISREG(info.st_mode))
            state.content = zz_test::ReadFile(path);
        nodes[path.string()] = std::move(state);
    };
    add(root);
    for (const auto& entry : fs::recursive_directory_iterator(root))
        add(entry.path());
    return nodes;
}

class HostileCache : public testing::Test {
protected:
    void SetUp() override { platform::SetAnsiCodePageForTesting(932); }
    void TearDown() override { platform::SetAnsiCodePageForTesting(0); }

    HostileProfile profile;
    ErrorBoxRecorder errors;
};

TEST_F(HostileCache, WindowShowsTheReadableEntriesAndClosesNormally) {
    auto window = std::make_unique<TfrmZezuvurMain>();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    TframeCachedSites& frame = *window->frameSites;
    EXPECT_THAT(frame.lbxSites->Items(),
                ElementsAre("cp.example", "ctl.example", "long.example", "nl.example",
                            "pic.example", "two.example", "zero.example"));
    const int total = frame.CacheAnalyzer()->TotalPages + frame.CacheAnalyzer()->TotalImages;
    EXPECT_EQ(total, 7);
    EXPECT_EQ(frame.CacheAnalyzer()->TotalCookies, 1);
    EXPECT_EQ(frame.CacheAnalyzer()->TotalHistory, 2);
    window->close();
    QApplication::processEvents();
    window.reset();
    EXPECT_TRUE(errors.boxes.empty());
}

int IndexOfSite(const TframeCachedSites& frame, const std::string& site) {
    const auto& sites = frame.lbxSites->Items();
    return static_cast<int>(std::find(sites.begin(), sites.end(), site) - sites.begin());
}

void SelectSite(TframeCachedSites& frame, const std::string& site) {
    frame.lbxSites->SetItemIndex(IndexOfSite(frame, site));
    frame.lbxSitesClick(frame.lbxSites);
}

// Bytes that are no character of the code page (here 932) show as U+FFFD, control characters
// escaped; a line end inside a stored name keeps it one item, which opens its own file; a very
// long address shows its start and is passed on whole.
TEST_F(HostileCache, NamesAreShownEscapedAndPassedOnWholeAsOneArgument) {
    TfrmZezuvurMain window;
    TframeCachedSites& frame = *window.frameSites;
    EXPECT_FALSE(window.lblNotice->isVisibleTo(&window));

    SelectSite(frame, "long.example");
    ASSERT_EQ(frame.lbxHistory->Count(), 1);
    EXPECT_EQ(frame.lbxHistory->DisplayText(0),
              QString::fromStdString(kLongVisit.substr(0, kMaxShownBytes)) + QChar(0x2026));
    frame.pgcSiteInfo->setCurrentIndex(5);
    frame.lbxHistory->SetItemIndex(0);
    {
        LaunchRecorder launches;
        frame.OpenSelFile(frame.lbxHistory);
        ASSERT_EQ(launches.requests.size(), 1u);
        EXPECT_EQ(launches.requests[0].arguments, QStringList{QString::fromStdString(kLongUrl)});
    }
    frame.lbxHistory->setFocus();
    QTest::keySequence(frame.lbxHistory, QKeySequence::Copy);
    EXPECT_EQ(QApplication::clipboard()->text(), QString::fromStdString(kLongVisit));

    SelectSite(frame, "ctl.example");
    EXPECT_EQ(frame.lbxPages->DisplayText(0), QStringLiteral("ctl\\x1B[31m[1].htm"));
    frame.lbxHistory->SetItemIndex(0);
    {
        LaunchRecorder launches;
        frame.OpenSelFile(frame.lbxHistory);
        ASSERT_EQ(launches.requests.size(), 1u);
        EXPECT_EQ(launches.requests[0].program, QStringLiteral("xdg-open"));
        EXPECT_EQ(
            launches.requests[0].arguments,
            QStringList{QString::fromStdString(kShellVisit.substr(kShellVisit.find('@') + 1))});
    }

    SelectSite(frame, "cp.example");
    EXPECT_EQ(frame.lbxPages->DisplayText(0),
              QString::fromUtf8("cp\xEF\xBF\xBD\xEF\xBF\xBD[1].htm"));

    SelectSite(frame, "nl.example");
    EXPECT_THAT(frame.lbxPages->Items(), ElementsAre("first\r\nsecond.htm"));
    EXPECT_EQ(frame.lbxPages->DisplayText(0), QStringLiteral("first\\x0D\\x0Asecond.htm"));
    EXPECT_EQ(frame.CacheAnalyzer()->SitePages, 1);
    frame.pgcSiteInfo->setCurrentIndex(1);
    frame.lbxPages->SetItemIndex(0);
    {
        LaunchRecorder launches;
        frame.OpenSelFile(frame.lbxPages);
        ASSERT_EQ(launches.requests.size(), 1u);
        ASSERT_EQ(launches.requests[0].arguments.size(), 1);
        const QString opened = launches.requests[0].arguments[0];
        EXPECT_TRUE(opened.endsWith(QStringLiteral("/first\r\nsecond.htm")))
            << opened.toStdString();
        EXPECT_TRUE(QFileInfo(opened).isFile()) << opened.toStdString();
    }
    EXPECT_TRUE(errors.boxes.empty());
}

// The tools print stored bytes as they are, but for control characters: no stored text can
// split a line or reach the terminal, and every text reads back to what is stored.
TEST_F(HostileCache, ToolsEscapeControlCharacters) {
    const std::string folder = profile.folder().string();
    const auto dump = zz_test::RunTool("urlcache-dump", {"--profile", folder});
    EXPECT_EQ(dump.status, 0) << dump.err;
    const auto report = zz_test::RunTool("zezuvur-report", {"--profile", folder});
    EXPECT_EQ(report.status, 0) << report.err;
    for (const auto* out : {&dump.out, &report.out})
        EXPECT_EQ(out->find_first_of(std::string("\r\x1b\x01\x7f", 4)), std::string::npos);
    for (const std::string& line : zz_test::Lines(dump.out))
        EXPECT_EQ(zz_test::Columns(line).size(), 14u) << line.substr(0, 60);
    for (const std::string& line : zz_test::Lines(report.out))
        EXPECT_EQ(zz_test::Columns(line).size(), 2u) << line.substr(0, 60);
    for (const std::string& stored :
         {kLongUrl, kControlUrl, kForeignUrl, kShellVisit, std::string("first\r\nsecond.htm")}) {
        const std::string printed = platform::EscapeControlCharacters(stored);
        EXPECT_NE(dump.out.find(printed), std::string::npos) << printed.substr(0, 40);
        EXPECT_EQ(platform::UnescapeControlCharacters(printed), stored);
    }
    for (const std::string& stored : {kLongVisit, kShellVisit, std::string("ctl\x1b[31m[1].htm"),
                                      std::string("cp\xFF\x80[1].htm")}) {
        const std::string printed = platform::EscapeControlCharacters(stored);
        EXPECT_NE(report.out.find(printed), std::string::npos) << printed.substr(0, 40);
    }
    const std::string escapedName = platform::EscapeControlCharacters("first\r\nsecond.htm");
    const auto reportLines = zz_test::Lines(report.out);
    EXPECT_TRUE(std::any_of(reportLines.begin(), reportLines.end(), [&](const std::string& line) {
        return line.starts_with("pages\t") && line.ends_with(escapedName);
    }));
}

// Everything the program does with a profile, then the profile compared with how it was.
TEST_F(HostileCache, NothingInTheProfileChanges) {
    const auto before = SnapshotOf(profile.folder());
    ASSERT_GT(before.size(), 20u);
    {
        TfrmZezuvurMain window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        TframeCachedSites& frame = *window.frameSites;
        LaunchRecorder launches;
        for (int site = 0; site < frame.lbxSites->Count(); ++site) {
            frame.lbxSites->SetItemIndex(site);
            frame.lbxSitesClick(frame.lbxSites);
            for (int page = 0; page < frame.pgcSiteInfo->count(); ++page) {
                frame.pgcSiteInfo->setCurrentIndex(page);
                TListBox* boxes[] = {frame.lbxImages, frame.lbxPages,   frame.lbxMedia,
                                     frame.lbxOther,  frame.lbxCookies, frame.lbxHistory};
                for (int item = 0; item < boxes[page]->Count(); ++item) {
                    boxes[page]->SetItemIndex(item);
                    frame.lbxImagesClick(boxes[page]);
                    frame.OpenSelFile(boxes[page]);
                }
            }
        }
        window.close();
        QApplication::processEvents();
    }
    const std::string folder = profile.folder().string();
    for (const char* pattern : {"", "Cookie:", "Visited:"})
        EXPECT_EQ(zz_test::RunTool("urlcache-dump", {"--profile", folder, pattern}).status, 0);
    EXPECT_EQ(zz_test::RunTool("urlcache-dump", {"--profile", folder}).status, 0);
    EXPECT_EQ(zz_test::RunTool("zezuvur-report", {"--profile", folder}).status, 0);
    EXPECT_EQ(SnapshotOf(profile.folder()), before);
}

} // namespace

// A profile built to stall or swell the program: a JPEG of thousands of scans, history
// addresses of a megabyte, sparse and oversized containers, more periodic history containers
// than anyone keeps, and a cache the user stops reading. The window keeps answering (no gap of
// 200 ms in its event loop), memory follows what is stored, and what was left out is said.

#include "app/ZezuvurMain.h"

#include "support/TempProfile.h"
#include "support/ToolRunner.h"
#include "ui/CachedSitesFrame.h"
#include "ui/FrameTestSupport.h"
#include "ui/ListBox.h"
#include "ui/widgets/ImagePreview.h"
#include "ui/widgets/SplashWindow.h"

#include <QBuffer>
#include <QImageWriter>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gmock/gmock.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

using urlcache_writer::ContainerKind;
namespace fs = std::filesystem;

constexpr qint64 kMaxGapMs = 200;

// The longest stretch of work the user-interface thread did between two turns of a 5 ms timer.
// Counted in the thread's own processor time: on a machine shared with other work, wall-clock
// gaps also hold the time the thread waited for a processor, which no code of ours causes.
class GapMeter {
public:
    GapMeter() {
        QObject::connect(&FTick, &QTimer::timeout, [this] {
            const qint64 now = ThreadMilliseconds();
            FLongest = std::max(FLongest, now - FLast);
            FLast = now;
        });
        FTick.start(5);
        FLast = ThreadMilliseconds();
    }
    qint64 Longest() const { return FLongest; }

private:
    static qint64 ThreadMilliseconds() {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    }
    QTimer FTick;
    qint64 FLast = 0;
    qint64 FLongest = 0;
};

// Runs `step` from inside the event loop, as a user's action would, and lets the loop go on.
void RunInLoop(const std::function<void()>& step, int settleMs = 100) {
    QTimer::singleShot(0, step);
    QTest::qWait(settleMs);
}

QByteArray PictureBytes(const char* format, QSize size, bool progressive = false) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    EXPECT_TRUE(writer.write(image)) << writer.errorString().toStdString();
    return bytes;
}

// A progressive JPEG whose last scan is repeated `scans` times before its end.
std::string JpegWithScans(int scans) {
    const QByteArray jpeg = PictureBytes("jpeg", QSize(256, 256), true);
    const qsizetype lastScan = jpeg.lastIndexOf("\xFF\xDA");
    const qsizetype end = jpeg.lastIndexOf("\xFF\xD9");
    EXPECT_GT(lastScan, 0);
    EXPECT_GT(end, lastScan);
    QByteArray built = jpeg.left(end);
    const QByteArray scan = jpeg.mid(lastScan, end - lastScan);
    for (int i = 0; i < scans; ++i)
        built += scan;
    built += jpeg.mid(end);
    return built.toStdString();
}

std::string PngBytes(QSize size) {
    return PictureBytes("png", size).toStdString();
}

const std::string kMegabyteAddress = "http://big.example/" + std::string(1 << 20, 'q');

class ResponsivenessTest : public testing::Test {
protected:
    void TearDown() override { widgets::TImagePreview::SetDecoderForTesting(nullptr); }

    static int IndexOf(const TListBox* box, const std::string& item) {
        const auto& items = box->Items();
        const auto found = std::find(items.begin(), items.end(), item);
        return found == items.end() ? -1 : static_cast<int>(found - items.begin());
    }
    static void Select(TframeCachedSites& frame, const std::string& site) {
        frame.lbxSites->SetItemIndex(IndexOf(frame.lbxSites, site));
        frame.lbxSitesClick(frame.lbxSites);
    }
    static void Preview(TframeCachedSites& frame, const std::string& name) {
        frame.pgcSiteInfo->setCurrentIndex(0);
        frame.lbxImages->SetItemIndex(IndexOf(frame.lbxImages, name));
        frame.lbxImagesClick(frame.lbxImages);
    }
    static bool WaitForDecode(TframeCachedSites& frame) {
        return QTest::qWaitFor([&] { return !frame.imgPreview->IsDecoding(); }, 10000);
    }

    zz_test::TempProfile profile;
    ErrorBoxRecorder errors;
};

TEST_F(ResponsivenessTest, LongAddressesAndAJpegOfThousandsOfScansNeverStallTheWindow) {
    {
        urlcache_writer::ProfileWriter writer(profile.folder(), urlcache_writer::Layout::Vista);
        writer.add(ContainerKind::Content,
                   TwoSiteProfile::Entry("http://big.example/s.jpg", "scans[1].jpg", 0,
                                         JpegWithScans(3000)));
        writer.add(ContainerKind::Content,
                   TwoSiteProfile::Entry("http://big.example/p.png", "p[1].png", 0,
                                         PngBytes(QSize(16, 8))));
        for (int i = 0; i < 40; ++i)
            writer.add(
                ContainerKind::History,
                TwoSiteProfile::Entry("Visited: al@" + kMegabyteAddress + std::to_string(i)));
        writer.write();
    }
    TfrmZezuvurMain window;
    window.resize(900, 700);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    TframeCachedSites& frame = *window.frameSites;

    GapMeter gaps;
    RunInLoop([&] {
        Select(frame, "big.example");
        frame.pgcSiteInfo->setCurrentIndex(5);
    });
    ASSERT_EQ(frame.lbxHistory->Count(), 40);
    for (int repaint = 0; repaint < 3; ++repaint)
        RunInLoop([&] { frame.lbxHistory->viewport()->repaint(); }, 20);
    RunInLoop([&] { Preview(frame, "scans[1].jpg"); }, 0);
    ASSERT_TRUE(WaitForDecode(frame));
    EXPECT_FALSE(frame.imgPreview->HasPicture());
    RunInLoop([&] { Preview(frame, "p[1].png"); }, 0);
    ASSERT_TRUE(WaitForDecode(frame));
    EXPECT_EQ(frame.imgPreview->PictureSize(), QSize(16, 8));
    RecordProperty("longest_gap_ms", static_cast<int>(gaps.Longest()));
    EXPECT_LT(gaps.Longest(), kMaxGapMs);
    EXPECT_TRUE(errors.boxes.empty());
}

// However long a decode takes, the window goes on, and the picture shown is the last one asked
// for, not the one that finished last.
TEST_F(ResponsivenessTest, ASlowDecodeRunsBesideTheWindowAndANewerSelectionWins) {
    {
        urlcache_writer::ProfileWriter writer(profile.folder(), urlcache_writer::Layout::Vista);
        writer.add(ContainerKind::Content,
                   TwoSiteProfile::Entry("http://pics.example/slow.png", "slow[1].png", 0,
                                         PngBytes(QSize(30, 30))));
        writer.add(ContainerKind::Content,
                   TwoSiteProfile::Entry("http://pics.example/fast.png", "fast[1].png", 0,
                                         PngBytes(QSize(10, 20))));
        writer.write();
    }
    widgets::TImagePreview::SetDecoderForTesting([](const QByteArray& bytes) {
        QImage image = QImage::fromData(bytes);
        if (image.width() == 30)
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        return image;
    });
    TfrmZezuvurMain window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    TframeCachedSites& frame = *window.frameSites;
    Select(frame, "pics.example");

    GapMeter gaps;
    RunInLoop([&] { Preview(frame, "slow[1].png"); }, 300);
    EXPECT_TRUE(frame.imgPreview->IsDecoding());
    RunInLoop([&] { Preview(frame, "fast[1].png"); }, 0);
    ASSERT_TRUE(WaitForDecode(frame));
    EXPECT_EQ(frame.imgPreview->PictureSize(), QSize(10, 20));
    QTest::qWait(1500); // the slow one ends meanwhile; its picture is not shown
    EXPECT_EQ(frame.imgPreview->PictureSize(), QSize(10, 20));
    RecordProperty("longest_gap_ms", static_cast<int>(gaps.Longest()));
    EXPECT_LT(gaps.Longest(), kMaxGapMs);
}

// The process's resident memory now and at its peak since the peak was last reset, from the
// kernel's own accounting ("VmRSS", "VmHWM"); getrusage cannot be reset.
std::uint64_t StatusMegabytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(field + ":"))
            return std::stoull(line.substr(field.size() + 1)) / 1024;
    }
    return 0;
}

bool ResetPeakMemory() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return clear.good();
}

// A sound container made sparse up to `size` bytes: holes, and one byte of data at the end.
void MakeSparse(const fs::path& index, std::uint64_t size) {
    fs::resize_file(index, size - 1);
    std::ofstream(index, std::ios::binary | std::ios::app) << 'z';
}

// A content container of 500 MiB that holds 56 KB, a Low one of 5 GiB, and 70 periodic history
// containers: the first is read at the cost of what it stores, the second is past the bound,
// and the six earliest periodic ones are past theirs. The tools and the window say so.
TEST_F(ResponsivenessTest, SparseOversizedAndSurplusContainersAreBoundedAndNamed) {
    fs::path history;
    fs::path lowIndex;
    {
        urlcache_writer::ProfileWriter writer(profile.folder(), urlcache_writer::Layout::Vista);
        writer.add(ContainerKind::Content,
                   TwoSiteProfile::Entry("http://sparse.example/a.htm", "a[1].htm", 0, "<p>"));
        urlcache_writer::ContainerOptions low;
        low.lowIntegrity = true;
        writer.add(ContainerKind::Content,
                   TwoSiteProfile::Entry("http://huge.example/b.htm", "b[1].htm", 0, "<p>"), low);
        writer.add(ContainerKind::History, TwoSiteProfile::Entry("Visited: al@http://h.example/"));
        writer.write();
        MakeSparse(writer.indexPath(ContainerKind::Content), std::uint64_t{500} << 20);
        lowIndex = writer.indexPath(ContainerKind::Content, true);
        MakeSparse(lowIndex, std::uint64_t{5} << 30);
        history = writer.indexPath(ContainerKind::History).parent_path();
    }
    const std::string periodic = urlcache_writer::BuildIndexFile(ContainerKind::History, {});
    for (int day = 1; day <= 70; ++day) {
        char name[32];
        std::snprintf(name, sizeof name, "MSHist012009%04d2009%04d", day, day + 1);
        fs::create_directories(history / name);
        std::ofstream(history / name / "index.dat", std::ios::binary) << periodic;
    }

    const auto dump = zz_test::RunTool("urlcache-dump", {"--profile", profile.folder().string()});
    EXPECT_EQ(dump.status, 0) << dump.err;
    EXPECT_NE(dump.out.find("http://sparse.example/a.htm"), std::string::npos);
    EXPECT_EQ(dump.out.find("huge.example"), std::string::npos);
    EXPECT_NE(dump.err.find(lowIndex.string() + ": it is 5368709120 bytes"), std::string::npos)
        << dump.err;
    for (const char* skipped : {"MSHist01200900012009", "MSHist01200900062009"})
        EXPECT_NE(dump.err.find(skipped), std::string::npos) << dump.err;
    EXPECT_EQ(dump.err.find("MSHist01200900072009"), std::string::npos) << dump.err;

    ASSERT_TRUE(ResetPeakMemory());
    const std::uint64_t before = StatusMegabytes("VmRSS");
    TfrmZezuvurMain window;
    EXPECT_LT(StatusMegabytes("VmHWM"), before + 100) << "from " << before << " MB";
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_THAT(window.frameSites->lbxSites->Items(), testing::ElementsAre("sparse.example"));
    EXPECT_TRUE(window.lblNotice->isVisible());
    const QString notice = window.lblNotice->text();
    EXPECT_TRUE(notice.contains(QString::fromStdString(lowIndex.string()))) << notice.toStdString();
    EXPECT_TRUE(notice.contains(QStringLiteral("more containers"))) << notice.toStdString();
    EXPECT_TRUE(errors.boxes.empty());
}

// Esc on the splash stops the reading: the window comes up with what was read and says that
// the lists are incomplete.
TEST_F(ResponsivenessTest, TheReadingCanBeStoppedFromTheSplash) {
    {
        urlcache_writer::ProfileWriter writer(profile.folder(), urlcache_writer::Layout::Vista);
        for (int i = 0; i < 3000; ++i)
            writer.add(ContainerKind::Content,
                       TwoSiteProfile::Entry("http://site" + std::to_string(i) + ".example/"));
        writer.write();
    }
    bool pressed = false;
    QTimer pressEsc;
    QObject::connect(&pressEsc, &QTimer::timeout, [&] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* splash = qobject_cast<widgets::TSplashWindow*>(top);
                splash && splash->isVisible() && !pressed) {
                QTest::keyClick(splash, Qt::Key_Escape);
                pressed = true;
            }
        }
    });
    pressEsc.start(0);
    TfrmZezuvurMain window;
    pressEsc.stop();
    EXPECT_TRUE(pressed);
    EXPECT_TRUE(window.frameSites->LoadCancelled());
    EXPECT_LT(window.frameSites->lbxSites->Count(), 3000);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_TRUE(window.lblNotice->isVisible());
    EXPECT_TRUE(window.lblNotice->text().contains(QStringLiteral("stopped")));
    EXPECT_TRUE(errors.boxes.empty());
}

} // namespace

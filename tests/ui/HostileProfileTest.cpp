// A profile written to do harm when looked at: programs, scripts and launchers among the cached
// files, history entries that are no web addresses, names built for a shell, links that lead
// out of the profile. Nothing of it runs without the user's say, nothing outside the profile is
// read, and what is started gets each file as one argument and a clean search path.

#include "ui/CachedSitesFrame.h"

#include "platform/PathMapper.h"
#include "platform/desktop/AppLauncher.h"
#include "platform/desktop/DocumentOpener.h"
#include "platform/desktop/FileContextMenu.h"
#include "platform/desktop/GioHeaders.h"
#include "support/ScopedEnv.h"
#include "support/TempFolder.h"
#include "ui/FrameTestSupport.h"
#include "ui/ListBox.h"
#include "ui/widgets/ImagePreview.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gmock/gmock.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace {

namespace fs = std::filesystem;
using urlcache_writer::ContainerKind;

std::string PngBytes() {
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

const std::string kElf("\x7f"
                       "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x02\0\x3e\0",
                       20);
const std::string kPe("MZ\x90\0\x03\0\0\0\x04\0\0\0\xff\xff\0\0", 16);
const std::string kShellName = "a$(touch pwned)b;touch pwned;.log";
const std::string kQuotedName = "it's \"q\" `x`.log";
const std::string kDashName = "-rf --help.log";
// A name that is no UTF-8 text: as a file name string it reads back as another name, under which
// the profile plants a link out of it.
const std::string kNotUtf8Name = "odd\xE9[1].txt";

// The files of evil.example: runnable ones, harmless ones, hostile names, a cached file linked
// out of the profile, a sub-folder linked to an outside folder and one linked to "/".
class EvilProfile : public zz_test::TempProfile {
public:
    EvilProfile() : writer_(folder(), urlcache_writer::Layout::Vista) {
        options_.subFolders = {"Z989AIU1", "Q2W3E4R5", "ROOTLINK"};
        Add("setup[1].exe", kPe);
        Add("app[1].jar", "PK\x03\x04");
        Add("script[1].py", "import os\n");
        Add("run[1].desktop", "[Desktop Entry]\nType=Application\nExec=touch pwned\n");
        Add("tool[1].sh", "touch pwned\n");
        Add("fake[1].png", kElf);
        Add("page[1].htm", "<html><body>page</body></html>");
        Add("pic[1].png", PngBytes());
        for (const std::string& name : {kShellName, kQuotedName, kDashName})
            Add(name, "plain text\n");
        Add("linked[1].png", "replaced by a link");
        Add("song[1].mp3", "replaced by a link");
        Add("inner[1].png", PngBytes(), 1);
        Add("etc\\passwd", std::nullopt, 2);
        Add(kNotUtf8Name, "plain text\n");
        for (const char* visit :
             {"Visited: al@http://evil.example/page", "Visited: al@HTTPS://evil.example/a b",
              "Visited: al@ftp://evil.example/pub", "Visited: al@file:///etc/passwd#evil.example",
              "Visited: al@evil.example/../../../../etc/passwd",
              "Visited: al@C:\\Users\\victim\\evil.example\\run.desktop",
              "Visited: al@zzcustom://evil.example/", "Visited: al@smb://evil.example/share",
              "Visited: al@http:evil.example", "Visited: al@ http://evil.example/"})
            writer_.add(ContainerKind::History, TwoSiteProfile::Entry(visit));
        writer_.write();

        const fs::path cache = HostFile("page[1].htm").parent_path();
        WriteFile(outside.path() / "secret.png", PngBytes());
        WriteFile(outside.path() / "big.mp3", std::string(4096, 'x'));
        Relink(cache / "linked[1].png", outside.path() / "secret.png");
        Relink(cache / "song[1].mp3", outside.path() / "big.mp3");
        const fs::path second = HostFile("inner[1].png").parent_path();
        fs::rename(second, outside.path() / "moved");
        fs::create_directory_symlink(outside.path() / "moved", second);
        const fs::path third = HostFile("etc\\passwd").parent_path().parent_path();
        fs::remove(third);
        fs::create_directory_symlink("/", third);
        fs::create_symlink(outside.path() / "big.mp3", cache / "odd\xEF\xBF\xBD[1].txt");
    }

    // The host path of a cached file as the profile names it.
    fs::path HostFile(const std::string& name) const {
        urlcache_writer::Entry entry = TwoSiteProfile::Entry("x", name, SubFolderOf(name));
        return platform::HostPathFromWindows(writer_.windowsFilePath(ContainerKind::Content, entry))
            .value_or(fs::path());
    }

    zz_test::TempFolder outside{"zz-outside"};

private:
    static std::uint8_t SubFolderOf(const std::string& name) {
        return name == "inner[1].png" ? 1 : name == "etc\\passwd" ? 2 : 0;
    }
    void Add(const std::string& name, std::optional<std::string> content,
             std::uint8_t subFolder = 0) {
        writer_.add(ContainerKind::Content,
                    TwoSiteProfile::Entry("http://evil.example/" + std::to_string(count_++), name,
                                          subFolder, std::move(content)),
                    options_);
    }
    static void WriteFile(const fs::path& path, const std::string& content) {
        std::ofstream(path, std::ios::binary) << content;
    }
    static void Relink(const fs::path& link, const fs::path& target) {
        fs::remove(link);
        fs::create_symlink(target, link);
    }

    urlcache_writer::ContainerOptions options_;
    urlcache_writer::ProfileWriter writer_;
    int count_ = 0;
};

// Records the confirmations asked for and gives the set answer.
class ConfirmRecorder {
public:
    explicit ConfirmRecorder(bool answer)
        : previous_(desktop::SetConfirmRunFunction(
              [this, answer](const QString& file, const QString& type) {
                  asked.push_back(file + QStringLiteral(" | ") + type);
                  return answer;
              })) {}
    ~ConfirmRecorder() { desktop::SetConfirmRunFunction(previous_); }
    ConfirmRecorder(const ConfirmRecorder&) = delete;
    ConfirmRecorder& operator=(const ConfirmRecorder&) = delete;

    QStringList asked;

private:
    desktop::ConfirmRunFunction previous_;
};

// Records what would reach GIO: the application, the files, the environment, the folder.
class GioLaunchRecorder {
public:
    struct Launch {
        std::string app;
        std::vector<std::string> files;
        std::string path;
        std::string folder;
    };
    GioLaunchRecorder()
        : previous_(desktop::SetAppLaunchFunction([this](GAppInfo* app, GList* files,
                                                         GAppLaunchContext* context,
                                                         const std::string& folder) {
              Launch launch{g_app_info_get_name(app), {}, {}, folder};
              for (GList* file = files; file; file = file->next) {
                  char* path = g_file_get_path(G_FILE(file->data));
                  launch.files.push_back(path ? path : "");
                  g_free(path);
              }
              char** environment = g_app_launch_context_get_environment(context);
              if (const char* value = g_environ_getenv(environment, "PATH"))
                  launch.path = value;
              g_strfreev(environment);
              launches.push_back(std::move(launch));
              return true;
          })) {}
    ~GioLaunchRecorder() { desktop::SetAppLaunchFunction(previous_); }
    GioLaunchRecorder(const GioLaunchRecorder&) = delete;
    GioLaunchRecorder& operator=(const GioLaunchRecorder&) = delete;

    std::vector<Launch> launches;

private:
    desktop::AppLaunchFunction previous_;
};

bool HasTextEditor() {
    GAppInfo* editor = g_app_info_get_default_for_type("text/plain", FALSE);
    if (editor)
        g_object_unref(editor);
    return editor != nullptr;
}

class HostileProfile : public testing::Test {
protected:
    void SetUp() override {
        frame.InitFrame();
        frame.LoadSites();
        const auto& sites = frame.lbxSites->Items();
        const auto site = std::find(sites.begin(), sites.end(), "evil.example");
        ASSERT_NE(site, sites.end());
        frame.lbxSites->SetItemIndex(static_cast<int>(site - sites.begin()));
        frame.lbxSitesClick(frame.lbxSites);
    }
    void TearDown() override { frame.DoneFrame(); }

    TListBox* BoxOnPage(int page) const {
        TListBox* boxes[] = {frame.lbxImages, frame.lbxPages,   frame.lbxMedia,
                             frame.lbxOther,  frame.lbxCookies, frame.lbxHistory};
        return boxes[page];
    }

    // A click on the Images list, and the wait for its picture: it decodes on a worker thread.
    void ShowPreview() {
        frame.lbxImagesClick(nullptr);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !frame.imgPreview->IsDecoding(); }));
    }

    // Selects the item showing `name` on whichever file tab lists it; false when none does.

    bool Select(const std::string& name) {
        for (int page = 0; page < 5; ++page) {
            TListBox* box = BoxOnPage(page);
            for (int i = 0; i < box->Count(); ++i) {
                if (box->Item(i) == name) {
                    frame.pgcSiteInfo->setCurrentIndex(page);
                    box->SetItemIndex(i);
                    return true;
                }
            }
        }
        return false;
    }

    void Open() { frame.OpenSelFile(nullptr); }
    bool Menu() {
        bool handled = false;
        frame.lbxImagesContextPopup(nullptr, QPoint(1, 1), handled);
        return handled;
    }
    QString Real(const std::string& name) const {
        return desktop::HostPathText(fs::canonical(profile.HostFile(name)));
    }

    EvilProfile profile;
    TframeCachedSites frame;
    ErrorBoxRecorder errors;
};

TEST_F(HostileProfile, ProgramsScriptsAndLaunchersOpenOnlyAfterAConfirmationNamingTheType) {
    struct Case {
        const char* name;
        const char* type; // null: harmless
    };
    const Case cases[] = {
        {"setup[1].exe", "application/x-ms-dos-executable"},
        {"app[1].jar", "application/x-java-archive"},
        {"script[1].py", "text/x-python"},
        {"run[1].desktop", "application/x-desktop"},
        {"tool[1].sh", "application/x-shellscript"},
        {"fake[1].png", "application/x-executable"},
        {"page[1].htm", nullptr},
        {"pic[1].png", nullptr},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(Select(c.name)) << c.name;
        for (const bool answer : {false, true}) {
            ConfirmRecorder confirm(answer);
            LaunchRecorder launches;
            Open();
            if (c.type) {
                ASSERT_EQ(confirm.asked.size(), 1) << c.name;
                EXPECT_THAT(confirm.asked[0].toStdString(), testing::HasSubstr(c.type));
                EXPECT_THAT(confirm.asked[0].toStdString(), testing::StartsWith(c.name));
            } else {
                EXPECT_TRUE(confirm.asked.isEmpty()) << c.name;
            }
            const bool opens = !c.type || answer;
            ASSERT_EQ(launches.requests.size(), opens ? 1u : 0u) << c.name << answer;
            if (opens) {
                EXPECT_EQ(launches.requests[0].arguments, QStringList{Real(c.name)});
            }
        }
        // The menu of a runnable file offers nothing that hands it to its handler.
        GioLaunchRecorder gio;
        LaunchRecorder launches;
        MenuRecorder menu(QStringLiteral("Open as &Text"));
        ASSERT_TRUE(Menu());
        ASSERT_EQ(menu.menus.size(), 1u) << c.name;
        const QString texts = menu.menus.back().join('|');
        EXPECT_THAT(texts.toStdString(), testing::EndsWith("Show in &Folder|&Copy Path"));
        if (c.type) {
            EXPECT_FALSE(texts.contains(QStringLiteral("Open with"))) << texts.toStdString();
            EXPECT_FALSE(menu.menus.back().contains(QStringLiteral("&Open")))
                << texts.toStdString();
            if (HasTextEditor()) {
                ASSERT_EQ(gio.launches.size(), 1u) << c.name;
                EXPECT_EQ(gio.launches[0].files,
                          std::vector<std::string>{Real(c.name).toStdString()});
            }
        }
        EXPECT_TRUE(launches.requests.empty()) << c.name;
    }
    EXPECT_TRUE(errors.boxes.empty());
}

// The box the user sees: Enter and Escape both leave the file unopened; only the Open button
// opens it.
TEST_F(HostileProfile, TheConfirmationBoxOpensNothingUnlessOpenIsChosen) {
    ASSERT_TRUE(Select("setup[1].exe"));
    const std::pair<const char*, std::size_t> answers[] = {
        {"Return", 0}, {"Escape", 0}, {"Open", 1}};
    for (const auto& [answer, expectedLaunches] : answers) {
        LaunchRecorder launches;
        QString shown;
        // Answers the box as soon as it is up, however long that takes.
        QTimer answerer;
        QObject::connect(&answerer, &QTimer::timeout, [&, answer = std::string(answer)] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            answerer.stop();
            shown = box->text();
            if (answer == "Return")
                QTest::keyClick(box, Qt::Key_Return);
            else if (answer == "Escape")
                QTest::keyClick(box, Qt::Key_Escape);
            for (QAbstractButton* button : box->buttons()) {
                if (answer == "Open" && button->text() == QStringLiteral("&Open"))
                    button->click();
            }
        });
        answerer.start(20);
        Open();
        EXPECT_THAT(shown.toStdString(), testing::HasSubstr("application/x-ms-dos-executable"))
            << answer;
        EXPECT_EQ(launches.requests.size(), expectedLaunches) << answer;
    }
}

TEST_F(HostileProfile, HistoryOpensOnlyWebAddresses) {
    frame.pgcSiteInfo->setCurrentIndex(5);
    QStringList opened;
    for (int i = 0; i < frame.lbxHistory->Count(); ++i) {
        LaunchRecorder launches;
        frame.lbxHistory->SetItemIndex(i);
        Open();
        for (const auto& request : launches.requests) {
            EXPECT_EQ(request.program, QStringLiteral("xdg-open"));
            EXPECT_EQ(request.arguments.size(), 1);
            opened << request.arguments;
        }
    }
    EXPECT_EQ(frame.lbxHistory->Count(), 10);
    EXPECT_EQ(opened, (QStringList{"http://evil.example/page", "HTTPS://evil.example/a b",
                                   "ftp://evil.example/pub"}));
}

TEST_F(HostileProfile, HostileNamesReachGioAsOneFileWithACleanSearchPath) {
    zz_test::ScopedEnv path("PATH", std::string(":.:relative:/usr/bin:/bin"));
    for (const std::string& name : {kShellName, kQuotedName, kDashName}) {
        ASSERT_TRUE(Select(name)) << name;
        GioLaunchRecorder gio;
        LaunchRecorder launches;
        MenuRecorder menu(QStringLiteral("&Open"));
        ASSERT_TRUE(Menu());
        const QString file = Real(name);
        const QString folder = QFileInfo(file).path();
        if (gio.launches.empty()) { // no application registered for text here: the opener
            ASSERT_EQ(launches.requests.size(), 1u) << name;
            EXPECT_EQ(launches.requests[0].arguments, QStringList{file});
            EXPECT_EQ(launches.requests[0].workingDirectory, folder);
            continue;
        }
        ASSERT_EQ(gio.launches.size(), 1u) << name;
        EXPECT_EQ(gio.launches[0].files, std::vector<std::string>{file.toStdString()});
        EXPECT_EQ(gio.launches[0].folder, folder.toStdString());
        EXPECT_EQ(gio.launches[0].path, "/usr/bin:/bin");
    }
}

// The real launcher with a stand-in opener first on PATH, recording what it was given.
TEST_F(HostileProfile, TheOpenerStartsInTheFilesFolderWithACleanSearchPath) {
    zz_test::TempFolder bin{"zz-bin"};
    const fs::path record = bin.path() / "record";
    const fs::path opener = bin.path() / "xdg-open";
    std::ofstream(opener) << "#!/bin/sh\n"
                             "{ pwd -P; printf '%s\\n' \"$PATH\" \"$#\" \"$1\"; "
                             "command -v run-mailcap || echo none; } > \"$ZZ_RECORD.tmp\"\n"
                             "mv \"$ZZ_RECORD.tmp\" \"$ZZ_RECORD\"\n";
    fs::permissions(opener, fs::perms::owner_all);
    // A cached file named like a helper the opener runs by name.
    const fs::path folder = fs::canonical(profile.HostFile("page[1].htm")).parent_path();
    std::ofstream(folder / "run-mailcap") << "#!/bin/sh\ntouch pwned\n";
    fs::permissions(folder / "run-mailcap", fs::perms::owner_all);
    zz_test::ScopedEnv recordTo("ZZ_RECORD", record.string());
    zz_test::ScopedEnv path("PATH", ":.:relative:" + bin.path().string() + ":/usr/bin:/bin");

    ASSERT_TRUE(Select(kShellName));
    Open();
    for (int waited = 0; waited < 200 && !fs::exists(record); ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::ifstream in(record);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], folder.string());
    EXPECT_EQ(lines[1], bin.path().string() + ":/usr/bin:/bin");
    EXPECT_EQ(lines[2], "1");
    EXPECT_EQ(lines[3], (folder / kShellName).string());
    EXPECT_NE(lines[4], (folder / "run-mailcap").string());
    EXPECT_FALSE(fs::exists(folder / "pwned"));
}

TEST_F(HostileProfile, NothingOutsideTheProfileIsShownOpenedOrSized) {
    ASSERT_TRUE(Select("pic[1].png"));
    ShowPreview();
    ASSERT_TRUE(frame.imgPreview->HasPicture()) << "the control case";
    for (const std::string& name : {std::string("linked[1].png"), std::string("inner[1].png"),
                                    std::string("passwd"), kNotUtf8Name}) {
        ASSERT_TRUE(Select(name)) << name;
        ShowPreview();
        if (frame.pgcSiteInfo->currentIndex() == 0) {
            EXPECT_FALSE(frame.imgPreview->HasPicture()) << name;
        }
        ConfirmRecorder confirm(true);
        LaunchRecorder launches;
        GioLaunchRecorder gio;
        Open();
        MenuRecorder menu;
        EXPECT_TRUE(Menu()) << name;
        ASSERT_EQ(menu.menus.size(), 1u) << name;
        EXPECT_EQ(menu.menus.back(), QStringList{QStringLiteral("&Copy Path")}) << name;
        EXPECT_TRUE(launches.requests.empty()) << name;
        EXPECT_TRUE(gio.launches.empty()) << name;
        EXPECT_TRUE(confirm.asked.isEmpty()) << name;
    }
    // The media file linked out has no size, so it is not listed as media.
    EXPECT_EQ(frame.lbxMedia->Count(), 0);
}

TEST_F(HostileProfile, LookingAtFilesLeavesTheirAccessTimes) {
    const char* names[] = {"pic[1].png", "setup[1].exe", "page[1].htm"};
    const timespec old[2] = {{1000, 0}, {0, UTIME_OMIT}};
    for (const char* name : names)
        ASSERT_EQ(::utimensat(AT_FDCWD, profile.HostFile(name).c_str(), old, 0), 0);
    ConfirmRecorder confirm(true);
    LaunchRecorder launches;
    GioLaunchRecorder gio;
    MenuRecorder menu;
    for (const char* name : names) {
        ASSERT_TRUE(Select(name));
        ShowPreview();
        Menu();
        Open();
    }
    for (const char* name : names) {
        struct stat info {};
        ASSERT_EQ(::stat(profile.HostFile(name).c_str(), &info), 0);
        EXPECT_EQ(info.st_atim.tv_sec, 1000) << name;
    }
}

} // namespace

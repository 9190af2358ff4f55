// What decides whether a cached file may be handed to a program, and how it is handed over.

#include "platform/desktop/AppLauncher.h"
#include "platform/desktop/CachedFile.h"
#include "platform/desktop/DocumentOpener.h"
#include "platform/desktop/GioHeaders.h"
#include "support/ScopedEnv.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

TEST(RunnableTypes, FilesWhoseOpeningRunsCodeAreKnownByNameOrBytes) {
    struct Case {
        const char* name;
        std::string head;
        bool runnable;
    };
    const std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    const std::string elf("\x7f"
                          "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x02\0\x3e\0",
                          20);
    const std::string pe("MZ\x90\0\x03\0\0\0\x04\0\0\0\xff\xff\0\0", 16);
    const std::string ole("\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1", 8);
    const Case cases[] = {
        {"setup.exe", pe, true},
        {"installer.msi", ole, true},
        {"app.jar", "PK\x03\x04", true},
        {"script.py", "print('x')\n", true},
        {"tool.sh", "echo hi\n", true},
        {"run.desktop", "[Desktop Entry]\nType=Application\nExec=x\n", true},
        {"import.reg", "REGEDIT4\n", true},
        {"mail.vbs", "MsgBox 1\n", true},
        {"tool.AppImage", elf, true},
        {"program", elf, true},
        // The name says harmless, the bytes do not: a program that decides by content would run
        // them.
        {"picture.png", elf, true},
        {"picture.gif", pe, true},
        {"readme.txt", "#!/bin/sh\nrm -rf ~\n", true},
        {"notes.txt", "[Desktop Entry]\nType=Application\nExec=x\n", true},
        {"page.htm", "<html><body>hi</body></html>", false},
        {"picture.png", png, false},
        {"notes.txt", "hello", false},
        {"song.mp3", "ID3\x03\0\0\0\0\0\0", false},
        {"archive.zip", "PK\x03\x04", false},
        {"paper.pdf", "%PDF-1.4\n", false},
        {"cookie[1].txt", "c=1", false},
    };
    for (const Case& c : cases) {
        const desktop::TFileType type =
            desktop::FileTypeOf(QString::fromLatin1(c.name), QByteArray::fromStdString(c.head));
        EXPECT_EQ(type.runnable, c.runnable) << c.name << " taken for " << type.mime.toStdString();
    }
    const desktop::TFileType exe = desktop::FileTypeOf("setup.exe", QByteArray::fromStdString(pe));
    EXPECT_EQ(exe.mime, "application/x-ms-dos-executable");
    EXPECT_FALSE(exe.description.isEmpty());
}

TEST(RunnableTypes, SubclassesWineTypesAndRunnersCount) {
    const std::pair<const char*, bool> types[] = {
        {"application/x-executable", true},
        {"application/x-perl", true},       // a subclass of executables
        {"text/x-python3", true},           // a subclass of text/x-python
        {"application/java-archive", true}, // an alias
        {"application/x-wine-extension-bat", true},
        {"application/x-wine-extension-msp", true},
        {"image/png", false},
        {"text/html", false},
        {"application/pdf", false},
    };
    for (const auto& [type, runnable] : types)
        EXPECT_EQ(desktop::IsRunnableType(type), runnable) << type;

    const std::pair<const char*, bool> commands[] = {
        {"wine start /unix %f", true},
        {"env WINEPREFIX=/home/a/.wine wine64 start /ProgIDOpen batfile %f", true},
        {"wine-stable start %f", true},
        {"/usr/bin/python3.11 %f", true},
        {"java -jar %f", true},
        {"sh -c 'cat %f'", true},
        {"exo-open %f", true},
        {"vim %F", false},
        {"/usr/bin/display-im6.q16 -nostdin %F", false},
        {"shotwell %U", false},
        {"javascript-viewer %f", false},
        {"'unclosed", false},
        {"", false},
    };
    for (const auto& [command, runner] : commands)
        EXPECT_EQ(desktop::IsRunnerCommand(command), runner) << command;
}

TEST(WebAddress, OnlyAbsoluteHttpHttpsAndFtpAddresses) {
    const std::pair<const char*, bool> cases[] = {
        {"http://gamma.example/page", true},
        {"HTTPS://Gamma.Example/a b?q=\"x\";rm -rf ~", true},
        {"ftp://files.example/pub/x.zip", true},
        {"http://user@host.example/mail@box", true},
        {"file:///etc/passwd", false},
        {"evil.example/../../../../etc/passwd", false},
        {"C:\\Users\\victim\\evil.example\\run.desktop", false},
        {"/etc/passwd", false},
        {"zzcustom://evil.example/", false},
        {"smb://evil.example/share", false},
        {"javascript:alert(1)", false},
        {"http:evil.example", false},
        {"http:///etc/passwd", false},
        {"http://", false},
        {" http://lead.example/", false},
        {"http://trail.example/ ", false},
        {"http://ctl.example/\x1b[2J", false},
        {"http://nl.example/a\nb", false},
        {"-http://dash.example/", false},
        {"", false},
    };
    for (const auto& [text, web] : cases)
        EXPECT_EQ(desktop::IsWebAddress(text), web) << text;
}

// A real launch through GIO of a desktop entry whose program records what it was given: the
// arguments (NUL-separated), its working folder and its search path.
class GioLaunch : public testing::Test {
protected:
    GioLaunch() {
        WriteFile(recorder,
                  "#!/bin/sh\n"
                  "{ pwd -P; printf '%s\\n' \"$PATH\" \"$#\"; "
                  "for a in \"$@\"; do printf '%s\\0' \"$a\"; done; } > \"$ZZ_RECORD.tmp\"\n"
                  "mv \"$ZZ_RECORD.tmp\" \"$ZZ_RECORD\"\n");
        fs::permissions(recorder, fs::perms::owner_all);
        fs::create_directories(cacheFolder);
    }

    GAppInfo* Entry(const std::string& name, const std::string& exec, bool terminal = false) {
        const fs::path file = base.path() / (name + ".desktop");
        WriteFile(file, "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec +
                            "\nTerminal=" + (terminal ? "true" : "false") + "\n");
        return G_APP_INFO(g_desktop_app_info_new_from_filename(file.c_str()));
    }

    struct Record {
        std::string folder;
        std::string path;
        std::vector<std::string> arguments;
    };

    std::optional<Record> WaitForRecord() {
        for (int waited = 0; waited < 200 && !fs::exists(record); ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!fs::exists(record))
            return std::nullopt;
        std::ifstream in(record, std::ios::binary);
        Record result;
        std::string count;
        std::getline(in, result.folder);
        std::getline(in, result.path);
        std::getline(in, count);
        std::string argument;
        while (std::getline(in, argument, '\0'))
            result.arguments.push_back(argument);
        fs::remove(record);
        return result;
    }

    zz_test::TempFolder base{"zz-gio"};
    fs::path recorder = base.path() / "bin" / "zz-recorder";
    fs::path record = base.path() / "record";
    fs::path cacheFolder = base.path() / "profile" / "Z989AIU1";
    zz_test::ScopedEnv recordTo{"ZZ_RECORD", record.string()};
    zz_test::ScopedEnv path{"PATH",
                            ":.:relative/bin:" + (base.path() / "bin").string() + ":/usr/bin:/bin"};
};

TEST_F(GioLaunch, HostileNamesReachTheProgramAsOneArgumentInTheFilesFolder) {
    const std::string names[] = {"a$(touch pwned)b;touch pwned;.log", "it's \"quoted\" `x`.txt",
                                 "-rf --help.txt", "%f %u 100%.txt", "tab\there.txt"};
    GAppInfo* byPath = Entry("bypath", recorder.string() + " %f");
    GAppInfo* byUri = Entry("byuri", recorder.string() + " --uri %U");
    ASSERT_TRUE(byPath && byUri);
    for (const std::string& name : names) {
        const fs::path file = cacheFolder / name;
        WriteFile(file, "text");
        GFile* asFile = g_file_new_for_path(file.c_str());
        char* uri = g_file_get_uri(asFile);
        // For a local file GIO may hand a URI entry the path instead; either is one argument.
        const std::pair<GAppInfo*, std::vector<std::vector<std::string>>> launches[] = {
            {byPath, {{file.string()}}}, {byUri, {{"--uri", uri}, {"--uri", file.string()}}}};
        for (const auto& [app, expected] : launches) {
            ASSERT_TRUE(desktop::LaunchApplication(app, file.string(), cacheFolder.string()));
            const auto got = WaitForRecord();
            ASSERT_TRUE(got) << name;
            EXPECT_NE(std::find(expected.begin(), expected.end(), got->arguments), expected.end())
                << name << ": " << testing::PrintToString(got->arguments);
            EXPECT_EQ(got->folder, fs::canonical(cacheFolder).string()) << name;
            EXPECT_EQ(got->path, (base.path() / "bin").string() + ":/usr/bin:/bin") << name;
        }
        g_free(uri);
        g_object_unref(asFile);
    }
    EXPECT_FALSE(fs::exists(cacheFolder / "pwned"));
    EXPECT_FALSE(fs::exists(base.path() / "pwned"));
    g_object_unref(byPath);
    g_object_unref(byUri);
}

TEST_F(GioLaunch, TerminalEntriesGetATerminalFromGio) {
    // No terminal is installed here: a stand-in under a name GIO looks for records the call.
    fs::copy_file(recorder, base.path() / "bin" / "xterm");
    GAppInfo* app = Entry("interm", recorder.string() + " %f", true);
    ASSERT_TRUE(app);
    const fs::path file = cacheFolder / "a b;c.txt";
    WriteFile(file, "text");
    ASSERT_TRUE(desktop::LaunchApplication(app, file.string(), cacheFolder.string()));
    const auto got = WaitForRecord();
    ASSERT_TRUE(got);
    ASSERT_GE(got->arguments.size(), 2u);
    EXPECT_EQ(got->arguments.back(), file.string());
    EXPECT_NE(std::find(got->arguments.begin(), got->arguments.end(), recorder.string()),
              got->arguments.end());
    g_object_unref(app);
}

} // namespace

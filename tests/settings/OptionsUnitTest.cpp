#include "settings/OptionsUnit.h"

#include "platform/desktop/RegistryStore.h"
#include "support/TempConfigFolder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using testing::ElementsAreArray;
using Write = std::pair<std::string, win::DWORD>;
using Writes = std::vector<Write>;

const Writes DefaultsInLoadOrder = {
    {"HistoryRemoveSecLevel", 2},  {"SecLevel", 2},    {"IEDetectPeriod", 5},
    {"AutoCleanOnProgStartUp", 0}, {"RemoveAll", 0},   {"IEAutoDetection", 0},
    {"ShowConfirms", 1},           {"AutoStart", 1},   {"ClearOnStartUp", 0},
    {"RemoveHistory", 1},          {"UnloadShell", 0},
};
const Writes DefaultsInSaveOrder = {
    {"HistoryRemoveSecLevel", 2}, {"SecLevel", 2},     {"IEDetectPeriod", 5},
    {"IEAutoDetection", 0},       {"ShowConfirms", 1}, {"AutoStart", 1},
    {"ClearOnStartUp", 0},        {"RemoveAll", 0},    {"AutoCleanOnProgStartUp", 0},
    {"RemoveHistory", 1},         {"UnloadShell", 0},
};

Writes Only(const Writes& writes, const std::vector<std::string>& names) {
    Writes kept;
    for (const auto& write : writes) {
        if (std::find(names.begin(), names.end(), write.first) != names.end())
            kept.push_back(write);
    }
    return kept;
}

class OptionsUnitTest : public testing::Test {
protected:
    void SetUp() override {
        desktop::SetRegistryWriteObserver(
            [this](std::string_view name, win::DWORD value) { writes.emplace_back(name, value); });
    }
    void TearDown() override {
        desktop::SetRegistryWriteObserver(nullptr);
        delete Options;
        Options = nullptr;
    }

    // Runs the program's shutdown of the settings unit; returns what it put on stderr.
    std::string Shutdown() {
        testing::internal::CaptureStderr();
        DoneOptionsUnit();
        return testing::internal::GetCapturedStderr();
    }

    TempConfigFolder config;
    Writes writes;
};

TEST_F(OptionsUnitTest, FirstRunSeedsEveryDefaultAtStartAndWritesThemAgainAtExit) {
    InitOptionsUnit();
    ASSERT_NE(Options, nullptr);
    EXPECT_THAT(writes, ElementsAreArray(DefaultsInLoadOrder));
    writes.clear();

    EXPECT_EQ(Shutdown(), "");
    EXPECT_EQ(Options, nullptr);
    EXPECT_THAT(writes, ElementsAreArray(DefaultsInSaveOrder));
    EXPECT_EQ(config.StoredValues().size(), 11u);
    EXPECT_EQ(config.StoredValues()["ShowConfirms"], "1");
}

TEST_F(OptionsUnitTest, StoredValuesAreReadWithoutWritingAndNormalisedAtExit) {
    config.WriteSettings("[General]\n"
                         "HistoryRemoveSecLevel=4294967295\nSecLevel=300\nIEDetectPeriod=-7\n"
                         "AutoStart=5\nShowConfirms=0\nIEAutoDetection=1\nClearOnStartUp=1\n"
                         "RemoveAll=1\nAutoCleanOnProgStartUp=1\nRemoveHistory=0\nUnloadShell=1\n"
                         "Unrelated=keep me\n");
    const std::string before = config.SettingsBytes();
    const auto modifiedBefore = std::filesystem::last_write_time(config.settingsFile());

    InitOptionsUnit();
    EXPECT_TRUE(writes.empty());
    EXPECT_EQ(config.SettingsBytes(), before);
    EXPECT_EQ(std::filesystem::last_write_time(config.settingsFile()), modifiedBefore);
    EXPECT_EQ(Options->HistoryRemoveSecLevel, 255);
    EXPECT_EQ(Options->SecLevel, 44);
    EXPECT_EQ(Options->IEDetectPeriod, -7);
    EXPECT_TRUE(Options->AutoStart);
    EXPECT_FALSE(Options->ShowConfirms);

    EXPECT_EQ(Shutdown(), "");
    EXPECT_EQ(writes.size(), 11u);
    const auto stored = config.StoredValues();
    EXPECT_EQ(stored.at("AutoStart"), "1");
    EXPECT_EQ(stored.at("SecLevel"), "44");
    EXPECT_EQ(stored.at("HistoryRemoveSecLevel"), "255");
    EXPECT_EQ(stored.at("IEDetectPeriod"), "4294967289"); // -7 as a 32-bit value
    EXPECT_EQ(stored.at("UnloadShell"), "1");
    EXPECT_EQ(stored.at("Unrelated"), "keep me");
}

TEST_F(OptionsUnitTest, StartSeedsExactlyTheMissingValuesAndKeepsForeignOnes) {
    config.WriteSettings("[General]\nSecLevel=7\nRemoveAll=1\nUnloadShell=1\nOther=abc\n"
                         "[Elsewhere]\nx=1\n");
    const std::vector<std::string> missing = {
        "HistoryRemoveSecLevel", "IEDetectPeriod", "AutoCleanOnProgStartUp", "IEAutoDetection",
        "ShowConfirms",          "AutoStart",      "ClearOnStartUp",         "RemoveHistory"};

    InitOptionsUnit();
    EXPECT_THAT(writes, ElementsAreArray(Only(DefaultsInLoadOrder, missing)));
    EXPECT_EQ(Options->SecLevel, 7);

    Shutdown();
    const std::string bytes = config.SettingsBytes();
    EXPECT_EQ(config.StoredValues().size(), 12u);
    EXPECT_EQ(config.StoredValues()["SecLevel"], "7");
    EXPECT_EQ(config.StoredValues()["Other"], "abc");
    EXPECT_NE(bytes.find("[Elsewhere]\nx=1"), std::string::npos) << bytes;
}

TEST_F(OptionsUnitTest, ValueThatIsNoNumberEndsTheLoadAndItAndLaterValuesSurviveTheSave) {
    // Load order: HistoryRemoveSecLevel, SecLevel, IEDetectPeriod, AutoCleanOnProgStartUp,
    // RemoveAll, IEAutoDetection, ShowConfirms (not a number), AutoStart, ClearOnStartUp,
    // RemoveHistory, UnloadShell.
    config.WriteSettings("[General]\nHistoryRemoveSecLevel=9\nSecLevel=8\nRemoveAll=1\n"
                         "IEAutoDetection=1\nShowConfirms=yes\nAutoStart=0\nRemoveHistory=0\n"
                         "UnloadShell=7\n");

    InitOptionsUnit();
    EXPECT_THAT(writes, ElementsAreArray(Only(DefaultsInLoadOrder,
                                              {"IEDetectPeriod", "AutoCleanOnProgStartUp"})));
    EXPECT_EQ(Options->HistoryRemoveSecLevel, 9);
    EXPECT_TRUE(Options->IEAutoDetection);
    EXPECT_TRUE(Options->AutoStart) << "stored as 0, but after the value that ended the load";
    writes.clear();

    EXPECT_EQ(Shutdown(), "");
    EXPECT_THAT(writes, ElementsAreArray(Writes{{"HistoryRemoveSecLevel", 9},
                                                {"SecLevel", 8},
                                                {"IEDetectPeriod", 5},
                                                {"IEAutoDetection", 1},
                                                {"RemoveAll", 1},
                                                {"AutoCleanOnProgStartUp", 0}}));
    const auto stored = config.StoredValues();
    EXPECT_EQ(stored.at("ShowConfirms"), "yes");
    EXPECT_EQ(stored.at("AutoStart"), "0");
    EXPECT_EQ(stored.at("RemoveHistory"), "0");
    EXPECT_EQ(stored.at("UnloadShell"), "7");
    EXPECT_EQ(stored.count("ClearOnStartUp"), 0u);
}

TEST_F(OptionsUnitTest, UnwritableFolderCostsOneLineOnStderrAndNothingElse) {
    // A file where a folder should be stops every user, root included.
    std::ofstream(config.root() / "plain-file") << "x";
    config.UseConfigFolder(config.root() / "plain-file" / "config");

    InitOptionsUnit();
    ASSERT_NE(Options, nullptr);
    EXPECT_EQ(Options->SecLevel, 2);
    const std::string error = Shutdown();
    EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << error;
    EXPECT_NE(error.find("HistoryRemoveSecLevel"), std::string::npos) << error;
    EXPECT_EQ(Options, nullptr);
}

enum class BadKind { File, Folder, Fifo };

struct BadFile {
    const char* name;
    BadKind kind;
    std::string bytes; // of a file
    bool unreadable;
};

void PrintTo(const BadFile& bad, std::ostream* out) {
    *out << bad.name;
}

// A well-formed record padded past the 64 KiB that a settings file may take.
std::string OversizedRecord() {
    std::string bytes = "[General]\nSecLevel=3\n";
    while (bytes.size() <= 64 * 1024)
        bytes += "Padding" + std::to_string(bytes.size()) + "=0\n";
    return bytes;
}

class UntouchableSettingsFileTest : public OptionsUnitTest,
                                    public testing::WithParamInterface<BadFile> {};

TEST_P(UntouchableSettingsFileTest, IsNeitherReadNorWrittenAndTheProgramGoesOn) {
    const BadFile& bad = GetParam();
    switch (bad.kind) {
    case BadKind::File:
        config.WriteSettings(bad.bytes);
        break;
    case BadKind::Folder:
        std::filesystem::create_directories(config.settingsFile());
        break;
    case BadKind::Fifo:
        // Nothing ever writes into it: a reader that opens it blocking waits for ever.
        std::filesystem::create_directories(config.settingsFile().parent_path());
        ASSERT_EQ(mkfifo(config.settingsFile().c_str(), 0600), 0);
        break;
    }
    if (bad.unreadable) {
        std::filesystem::permissions(config.settingsFile(), std::filesystem::perms::none);
        if (access(config.settingsFile().c_str(), R_OK) == 0)
            GTEST_SKIP() << "permissions do not bind this user";
    }

    InitOptionsUnit();
    EXPECT_EQ(Options->SecLevel, 2);
    EXPECT_TRUE(Options->AutoStart);
    Shutdown();
    // Once more with a record that wants to write everything: the store has seen the file
    // before and must still refuse it.
    EXPECT_THROW(TOptions().SaveOptions(), ERegistryError);

    EXPECT_TRUE(writes.empty());
    switch (bad.kind) {
    case BadKind::File:
        std::filesystem::permissions(config.settingsFile(), std::filesystem::perms::owner_read,
                                     std::filesystem::perm_options::add);
        EXPECT_EQ(config.SettingsBytes(), bad.bytes);
        break;
    case BadKind::Folder:
        EXPECT_TRUE(std::filesystem::is_directory(config.settingsFile()));
        break;
    case BadKind::Fifo:
        EXPECT_TRUE(std::filesystem::is_fifo(config.settingsFile()));
        break;
    }
    EXPECT_FALSE(std::filesystem::exists(config.settingsFile().string() + ".lock"));
}

INSTANTIATE_TEST_SUITE_P(
    Files, UntouchableSettingsFileTest,
    testing::Values(BadFile{"UnclosedSection", BadKind::File, "[General\nSecLevel=3\n", false},
                    BadFile{"ControlBytes", BadKind::File, "[General]\nSecLevel=3\n\x01\x02\xff\n",
                            false},
                    BadFile{"FolderInItsPlace", BadKind::Folder, "", false},
                    BadFile{"FifoInItsPlace", BadKind::Fifo, "", false},
                    BadFile{"Over64KiB", BadKind::File, OversizedRecord(), false},
                    BadFile{"NoReadPermission", BadKind::File, "[General]\nSecLevel=3\n", true}),
    [](const auto& info) { return std::string(info.param.name); });

// The whole record goes to disk in one rewrite of the file, at start (the seeded values) and at
// exit, and the lock taken for the rewrite is gone afterwards.
TEST_F(OptionsUnitTest, EachSaveRewritesTheFileOnceAndLeavesNoLockFile) {
    const std::filesystem::path folder = config.settingsFile().parent_path();
    std::filesystem::create_directories(folder);
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, folder.c_str(), IN_MOVED_TO | IN_CREATE), 0);
    const auto rewritesOfTheFile = [&] {
        int count = 0;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t got; (got = read(watch, buffer, sizeof buffer)) > 0;) {
            for (char* at = buffer; at < buffer + got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                // A new file under that name: created, or written beside it and renamed over it.
                if (event->len > 0 && std::string(event->name) == "Duruvera.conf")
                    ++count;
                at += sizeof(inotify_event) + event->len;
            }
        }
        return count;
    };

    InitOptionsUnit();
    EXPECT_EQ(rewritesOfTheFile(), 1);
    EXPECT_EQ(writes.size(), 11u);
    Shutdown();
    EXPECT_EQ(rewritesOfTheFile(), 1);
    EXPECT_EQ(writes.size(), 22u);
    EXPECT_EQ(config.StoredValues().size(), 11u);
    close(watch);
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        EXPECT_EQ(entry.path().filename(), "Duruvera.conf");
}

} // namespace

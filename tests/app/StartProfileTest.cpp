#include "app/StartProfile.h"
#include "app/ZezuvurMain.h"
#include "support/ScopedEnv.h"
#include "support/TempFolder.h"
#include "support/TempProfile.h"
#include "ui/ProfileLine.h"

#include <QApplication>

#include <gmock/gmock.h>

#include <fstream>

namespace {

namespace fs = std::filesystem;
using platform::profiles::DiscoveryRoots;
using platform::profiles::ProfileCandidate;

// A home with Wine prefixes, each user holding a cache or not, and no other place.
class FakeHome {
public:
    FakeHome() {
        roots.home = folder_.path();
        roots.user = "bob";
    }

    fs::path prefixUser(const std::string& prefix, bool cache, int hoursAgo = 0) {
        const fs::path user =
            folder_.path() / ".local/share/wineprefixes" / prefix / "drive_c/users/bob";
        const fs::path container = user / "AppData/Local/Microsoft/Windows/INetCache/Content.IE5";
        fs::create_directories(container);
        if (cache) {
            std::ofstream(container / "index.dat") << "x";
            fs::last_write_time(container / "index.dat",
                                fs::file_time_type::clock::now() - std::chrono::hours(hoursAgo));
        }
        return user;
    }

    DiscoveryRoots roots;

private:
    zz_test::TempFolder folder_{"zz-start"};
};

// Records the question and answers it with the candidate at `answer` (none: cancels).
struct Asker {
    std::optional<std::size_t> answer;
    std::vector<std::vector<fs::path>> asked;

    ProfileQuestion question() {
        return [this](std::vector<ProfileCandidate> candidates) -> std::optional<fs::path> {
            std::vector<fs::path> folders;
            for (const ProfileCandidate& candidate : candidates)
                folders.push_back(candidate.folder);
            asked.push_back(folders);
            if (!answer)
                return std::nullopt;
            return folders.at(*answer);
        };
    }
};

std::string ProfileVariable() {
    const char* value = std::getenv("ZEZUVUR_PROFILE");
    return value ? value : "(unset)";
}

TEST(StartProfile, AsksOnlyWhenSeveralProfilesHoldACache) {
    const zz_test::ScopedEnv unset("ZEZUVUR_PROFILE", nullptr);
    FakeHome home;
    home.prefixUser("empty", false);
    Asker asker;
    EXPECT_TRUE(SelectStartProfile(home.roots, asker.question()));
    EXPECT_EQ(ProfileVariable(), "(unset)") << "none: the default prefix, as before";

    const fs::path older = home.prefixUser("older", true, 48);
    EXPECT_TRUE(SelectStartProfile(home.roots, asker.question()));
    EXPECT_EQ(ProfileVariable(), older.string()) << "one: taken without asking";
    EXPECT_TRUE(asker.asked.empty());
    unset.Set(nullptr);

    const fs::path newer = home.prefixUser("newer", true, 1);
    asker.answer = 1;
    EXPECT_TRUE(SelectStartProfile(home.roots, asker.question()));
    ASSERT_EQ(asker.asked.size(), 1u);
    EXPECT_THAT(asker.asked[0], testing::ElementsAre(newer, older));
    EXPECT_EQ(ProfileVariable(), older.string());
    unset.Set(nullptr);

    asker.answer.reset();
    EXPECT_FALSE(SelectStartProfile(home.roots, asker.question())) << "cancelled";
    EXPECT_EQ(ProfileVariable(), "(unset)");

    // A profile named in the environment is shown without looking further.
    home.roots.profileVariable = older.string();
    EXPECT_TRUE(SelectStartProfile(home.roots, asker.question()));
    EXPECT_EQ(asker.asked.size(), 2u);
}

TEST(StartProfile, TheWindowShowsWhichProfileIsOpen) {
    const std::string user = "carol-" + std::string(150, 'x') + "-end";
    zz_test::TempProfile profile(user);
    TfrmZezuvurMain window;
    auto* line = window.findChild<TProfileLine*>(QStringLiteral("lblProfile"));
    ASSERT_NE(line, nullptr);
    const QString expected =
        QStringLiteral("Profile: ") + QString::fromStdString(profile.folder().string());
    EXPECT_EQ(line->FullText(), expected);
    EXPECT_EQ(line->toolTip(), QStringLiteral("<qt>%1</qt>").arg(expected));
    const int designedWidth = window.width();
    window.show();
    QApplication::processEvents();
    // Too long for the window: shortened in the middle, the window not widened.
    EXPECT_EQ(window.width(), designedWidth);
    EXPECT_TRUE(line->isVisible());
    EXPECT_TRUE(line->text().startsWith(QStringLiteral("Profile: /")));
    EXPECT_TRUE(line->text().endsWith(QStringLiteral("x-end")));
    EXPECT_LT(line->text().size(), expected.size());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Zezuvur 1.11 FREEWARE"));
}

} // namespace

// The folder's name comes from the examined disk: markup in it stays text, control characters
// show escaped.
TEST(StartProfile, TheProfileLineShowsAHostileFolderNameAsText) {
    zz_test::TempProfile profile("<b>bold</b><img src=x>\x1b");
    TfrmZezuvurMain window;
    auto* line = window.findChild<TProfileLine*>(QStringLiteral("lblProfile"));
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->textFormat(), Qt::PlainText);
    EXPECT_TRUE(line->FullText().endsWith(QStringLiteral("/<b>bold</b><img src=x>\\x1B")))
        << line->FullText().toStdString();
    EXPECT_TRUE(
        line->toolTip().contains(QStringLiteral("&lt;b&gt;bold&lt;/b&gt;&lt;img src=x&gt;")));
}

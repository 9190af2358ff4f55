#include "ui/ProfileChooser.h"
#include "support/TempFolder.h"

#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gmock/gmock.h>

#include <fstream>

namespace {

namespace fs = std::filesystem;
using platform::profiles::ProfileCandidate;
using platform::profiles::ProfileKind;

std::vector<ProfileCandidate> TwoCandidates() {
    ProfileCandidate proton;
    proton.kind = ProfileKind::WinePrefix;
    proton.origin = "Steam Proton 440";
    proton.user = "steamuser";
    proton.folder =
        "/home/bob/.local/share/Steam/steamapps/compatdata/440/pfx/drive_c/users/steamuser";
    proton.cache.indexContainers = 3;
    proton.cache.indexBytes = 3 * 32768;
    proton.cache.newestChange = 1700000000;
    ProfileCandidate volume;
    volume.kind = ProfileKind::WindowsVolume;
    volume.origin = "volume WIN10";
    volume.user = "alice";
    volume.folder = "/media/bob/WIN10/Users/alice";
    volume.cache.webCache = true;
    volume.cache.webCacheBytes = 25 << 20;
    volume.cache.newestChange = 1600000000;
    return {proton, volume};
}

QStringList Column(const QTreeWidget* list, int column) {
    QStringList texts;
    for (int row = 0; row < list->topLevelItemCount(); ++row)
        texts << list->topLevelItem(row)->text(column);
    return texts;
}

TEST(ProfileChooser, ListsTheCandidatesInOrderWithTheFirstSelected) {
    TdlgChooseProfile dialog(TwoCandidates());
    EXPECT_EQ(dialog.lvwProfiles->columnCount(), 5);
    EXPECT_EQ(Column(dialog.lvwProfiles, 0),
              (QStringList{"Wine prefix (Steam Proton 440)", "Windows volume (volume WIN10)"}));
    EXPECT_EQ(Column(dialog.lvwProfiles, 1), (QStringList{"steamuser", "alice"}));
    EXPECT_EQ(Column(dialog.lvwProfiles, 2)[1], QStringLiteral("/media/bob/WIN10/Users/alice"));
    EXPECT_EQ(Column(dialog.lvwProfiles, 3),
              (QStringList{"3 index.dat containers (96.0 KiB)", "WebCache database (25.0 MiB)"}));
    EXPECT_EQ(Column(dialog.lvwProfiles, 4)[0].size(), 16); // 2023-11-14 22:13 in UTC
    EXPECT_EQ(dialog.lvwProfiles->currentItem(), dialog.lvwProfiles->topLevelItem(0));
    EXPECT_FALSE(dialog.ChosenFolder()) << "nothing chosen before OK";
}

TEST(ProfileChooser, OkGivesTheSelectedProfileAndCancelNone) {
    {
        TdlgChooseProfile dialog(TwoCandidates());
        dialog.lvwProfiles->setCurrentItem(dialog.lvwProfiles->topLevelItem(1));
        QTest::mouseClick(dialog.btnOK, Qt::LeftButton);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.ChosenFolder(), fs::path("/media/bob/WIN10/Users/alice"));
    }
    {
        TdlgChooseProfile dialog(TwoCandidates());
        auto* cancel = dialog.findChild<QPushButton*>(QStringLiteral("btnCancel"));
        ASSERT_NE(cancel, nullptr);
        QTest::mouseClick(cancel, Qt::LeftButton);
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_FALSE(dialog.ChosenFolder());
    }
}

TEST(ProfileChooser, BrowseAddsTheProfilesOfThePickedFolderOnTop) {
    const zz_test::TempFolder picked("zz-chooser");
    const fs::path prefixUsers = picked.path() / "drive_c/users";
    fs::create_directories(prefixUsers / "carol/Cookies");
    std::ofstream(prefixUsers / "carol/Cookies/index.dat") << "x";
    fs::create_directories(prefixUsers / "Public");

    TdlgChooseProfile dialog(TwoCandidates());
    int asked = 0;
    QString answer; // first the user gives up, then picks the prefix
    dialog.SetFolderBrowser([&](QWidget* parent) {
        EXPECT_EQ(parent, &dialog);
        ++asked;
        return answer;
    });
    QTest::mouseClick(dialog.btnBrowse, Qt::LeftButton);
    EXPECT_EQ(dialog.lvwProfiles->topLevelItemCount(), 2);
    answer = QString::fromStdString(picked.path().string());
    QTest::mouseClick(dialog.btnBrowse, Qt::LeftButton);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(Column(dialog.lvwProfiles, 1), (QStringList{"carol", "steamuser", "alice"}));
    EXPECT_EQ(dialog.lvwProfiles->currentItem(), dialog.lvwProfiles->topLevelItem(0));
    // Picking the same folder again selects its row and adds none.
    dialog.lvwProfiles->setCurrentItem(dialog.lvwProfiles->topLevelItem(2));
    QTest::mouseClick(dialog.btnBrowse, Qt::LeftButton);
    EXPECT_EQ(dialog.lvwProfiles->topLevelItemCount(), 3);
    EXPECT_EQ(dialog.lvwProfiles->currentItem(), dialog.lvwProfiles->topLevelItem(0));
    QTest::mouseClick(dialog.btnOK, Qt::LeftButton);
    EXPECT_EQ(dialog.ChosenFolder(), prefixUsers / "carol");
}

} // namespace

#include "ui/CachedSitesFrame.h"

#include "ui/FrameTestSupport.h"
#include "ui/ListBox.h"
#include "ui/widgets/ImagePreview.h"
#include "ui/widgets/LayoutNow.h"

#include <QSplitter>
#include <QTabWidget>
#include <QTest>

#include <gmock/gmock.h>

#include <functional>

namespace {

using testing::ElementsAre;

// A frame at its designed size, started the way the main window starts it.
class LoadedFrame {
public:
    LoadedFrame() {
        frame.resize(523, 369);
        widgets::LayOutNow(&frame);
        frame.InitFrame();
        frame.LoadSites();
    }
    ~LoadedFrame() { frame.DoneFrame(); }

    void Show() {
        frame.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&frame));
    }

    std::vector<TListBox*> CategoryBoxes() const {
        return {frame.lbxImages, frame.lbxPages,   frame.lbxMedia,
                frame.lbxOther,  frame.lbxCookies, frame.lbxHistory};
    }

    // Counts in lblCurrent order: images, pages, media, other, cookies, history.
    std::vector<int> BoxCounts() const {
        std::vector<int> counts;
        for (TListBox* box : CategoryBoxes())
            counts.push_back(box->Count());
        return counts;
    }

    TframeCachedSites frame;
};

TEST(CachedSitesFrame, EmptyCacheShowsNothingAndKeepsDesignCaptions) {
    zz_test::TempProfile profile;
    LoadedFrame loaded;
    EXPECT_EQ(loaded.frame.lbxSites->Count(), 0);
    EXPECT_EQ(loaded.frame.lbxSites->ItemIndex(), -1);
    EXPECT_THAT(loaded.BoxCounts(), ElementsAre(0, 0, 0, 0, 0, 0));
    EXPECT_EQ(loaded.frame.lblTotal->text(), QString());
    EXPECT_EQ(loaded.frame.lblCurrent->text(), QStringLiteral("Label2"));
}

TEST(CachedSitesFrame, StartShowsFirstSiteOnImagesTab) {
    TwoSiteProfile profile;
    LoadedFrame loaded;
    TframeCachedSites& frame = loaded.frame;
    EXPECT_THAT(frame.lbxSites->Items(), ElementsAre("alpha.example", "beta.example"));
    EXPECT_EQ(frame.lbxSites->ItemIndex(), 0);
    EXPECT_EQ(frame.pgcSiteInfo->currentWidget(), frame.tabImages);
    // Two cached files of the same name stay two items.
    EXPECT_THAT(frame.lbxImages->Items(), ElementsAre("logo.gif", "logo.gif"));
    EXPECT_THAT(frame.lbxPages->Items(), ElementsAre("index[1].htm"));
    EXPECT_THAT(frame.lbxCookies->Items(), ElementsAre("alice@alpha[1].txt"));
    EXPECT_THAT(frame.lbxHistory->Items(),
                ElementsAre("Visited: alice@http://www.alpha.example/index.html"));
    EXPECT_EQ(CountsOf(frame.lblCurrent), loaded.BoxCounts());
    EXPECT_EQ(frame.lblTotal->text(),
              QStringLiteral("Total: 3 images, 1 pages, 1 media files, 1 unknown files,1 cookies, "
                             "2 history entires"));
}

TEST(CachedSitesFrame, ArrowKeysThroughSitesRefreshTabsAndLabelsButKeepTheTab) {
    TwoSiteProfile profile;
    LoadedFrame loaded;
    loaded.Show();
    TframeCachedSites& frame = loaded.frame;
    frame.pgcSiteInfo->setCurrentWidget(frame.TabSheet3);
    const QString total = frame.lblTotal->text();
    frame.lblTotal->setText(QString());

    frame.lbxSites->setFocus();
    QTest::keyClick(frame.lbxSites, Qt::Key_Down);
    EXPECT_EQ(frame.lbxSites->ItemIndex(), 1);
    EXPECT_THAT(frame.lbxImages->Items(), ElementsAre("pic[1].png"));
    EXPECT_THAT(frame.lbxHistory->Items(), ElementsAre("Visited: alice@http://beta.example/"));
    EXPECT_THAT(CountsOf(frame.lblCurrent), ElementsAre(1, 0, 0, 0, 0, 1));
    EXPECT_EQ(CountsOf(frame.lblCurrent), loaded.BoxCounts());
    EXPECT_EQ(frame.lblTotal->text(), total); // written again for every site
    EXPECT_EQ(frame.pgcSiteInfo->currentWidget(), frame.TabSheet3);

    QTest::keyClick(frame.lbxSites, Qt::Key_Up);
    EXPECT_EQ(frame.lbxSites->ItemIndex(), 0);
    EXPECT_THAT(frame.lbxImages->Items(), ElementsAre("logo.gif", "logo.gif"));
    EXPECT_EQ(CountsOf(frame.lblCurrent), loaded.BoxCounts());
}

TEST(CachedSitesFrame, TheUserCannotLeaveTheSiteListWithoutASelection) {
    TwoSiteProfile profile;
    LoadedFrame loaded;
    loaded.Show();
    TframeCachedSites& frame = loaded.frame;
    TListBox* sites = frame.lbxSites;
    const QPoint first = sites->visualRect(sites->model()->index(0, 0)).center();
    const QPoint belowItems(first.x(), sites->viewport()->height() - 2);
    const QString current = frame.lblCurrent->text();
    const std::vector<std::pair<const char*, std::function<void()>>> attempts = {
        {"Ctrl+click",
         [&] { QTest::mouseClick(sites->viewport(), Qt::LeftButton, Qt::ControlModifier, first); }},
        {"Ctrl+Space", [&] { QTest::keyClick(sites, Qt::Key_Space, Qt::ControlModifier); }},
        {"click below the items",
         [&] { QTest::mouseClick(sites->viewport(), Qt::LeftButton, {}, belowItems); }},
        {"drag off the items",
         [&] {
             QTest::mousePress(sites->viewport(), Qt::LeftButton, {}, first);
             QTest::mouseMove(sites->viewport(), belowItems);
             QTest::mouseRelease(sites->viewport(), Qt::LeftButton, {}, belowItems);
         }},
    };
    sites->setFocus();
    for (const auto& [name, attempt] : attempts) {
        sites->SetItemIndex(0);
        frame.lbxSitesClick(sites);
        attempt();
        EXPECT_EQ(sites->ItemIndex(), 0) << name;
        EXPECT_THAT(frame.lbxImages->Items(), ElementsAre("logo.gif", "logo.gif")) << name;
        EXPECT_EQ(frame.lblCurrent->text(), current) << name;
    }
}

TEST(CachedSitesFrame, SelectingFromCodeDoesNotShowTheSite) {
    TwoSiteProfile profile;
    LoadedFrame loaded;
    loaded.frame.lbxSites->SetItemIndex(1);
    EXPECT_THAT(loaded.frame.lbxImages->Items(), ElementsAre("logo.gif", "logo.gif"));
}

TEST(CachedSitesFrame, FileNamePartIsWhatFollowsTheLastBackslashOrColon) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\Users\\al\\Z989AIU1\\logo[1].gif", "logo[1].gif"},
        {"plain name.txt", "plain name.txt"},
        {"stream:name", "name"},
        {"C:\\dir\\", ""},
        {"", ""},
    };
    for (const auto& [path, name] : cases)
        EXPECT_EQ(FileNamePart(path), name) << path;
}

TEST(CachedSitesFrame, ComponentsAreNamedAndPlacedAsDesigned) {
    zz_test::TempProfile profile;
    LoadedFrame loaded;
    TframeCachedSites& frame = loaded.frame;
    for (const char* name :
         {"lblTotal",    "lblCurrent", "pnl1",      "Label4",     "lbxSites",  "pnl2",
          "pgcSiteInfo", "tabImages",  "lbxImages", "TabSheet4",  "lbxPages",  "tbcMedia",
          "TabSheet1",   "lbxOther",   "TabSheet2", "lbxCookies", "TabSheet3", "lbxHistory",
          "Label1",      "Splitter1",  "lbxMedia",  "Splitter2",  "imgPreview"})
        EXPECT_NE(frame.findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;

    QStringList captions;
    for (int i = 0; i < frame.pgcSiteInfo->count(); ++i)
        captions << frame.pgcSiteInfo->tabText(i);
    EXPECT_EQ(captions, QStringList({"Images", "Pages", "Media", "Other", "Cookies", "History"}));
    EXPECT_EQ(frame.pnl1->width(), 185);
    EXPECT_EQ(frame.lblTotal->height(), 21);
    EXPECT_EQ(frame.lblCurrent->geometry().bottom(), frame.height() - 1);
    EXPECT_EQ(frame.imgPreview->height(), frame.tabImages->height() / 2);
    EXPECT_EQ(frame.lbxSites->toolTip(), QStringLiteral("Select site to view traces from it"));
    EXPECT_EQ(frame.lbxCookies->toolTip(), QStringLiteral("Double-click to view file"));
    EXPECT_TRUE(frame.lbxImages->toolTip().isEmpty());

    const int previewHeight = frame.imgPreview->height();
    loaded.Show();
    EXPECT_EQ(frame.imgPreview->height(), previewHeight);
}

} // namespace

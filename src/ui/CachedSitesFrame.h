#pragma once
// The sites frame: the sites found in the URL cache on the left, six tabs with the selected
// site's traces on the right, the totals and the selected site's counts underneath. It owns the
// cache analyzer and the full paths behind the items of the five file tabs.

#include "analysis/CacheAnalyzer.h"

#include <QPoint>
#include <QWidget>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QFrame;
class QLabel;
class QSplitter;
class QTabWidget;
class TListBox;

namespace widgets {
class TImagePreview;
}

// The part of a path after its last "\" or ":", the whole path when it has neither.
std::string FileNamePart(std::string_view path);

class TframeCachedSites : public QWidget {
    Q_OBJECT

    // Per category (see analysis/Categories.h): its tab, its box, and the full paths behind the
    // box's items (every category whose lines are files).
    TPerCategory<QWidget*> Tabs;
    TPerCategory<TListBox*> Boxes;
    TPerCategory<std::vector<std::string>> Paths;

public:
    explicit TframeCachedSites(QWidget* parent = nullptr);
    ~TframeCachedSites() override;

    void InitFrame();
    void LoadSites();
    void DoneFrame();

    // Asked now and then while LoadSites reads the cache (see TCacheAnalyzer::SetProgress);
    // returning false stops the reading, and the frame shows what was read.
    void SetLoadProgress(TCacheAnalyzer::TProgress Progress) {
        FLoadProgress = std::move(Progress);
    }
    // Whether the last LoadSites was stopped that way.
    bool LoadCancelled() const { return FLoadCancelled; }
    // Whether it stopped because memory ran out (LoadCancelled() is true too).
    bool LoadOutOfMemory() const { return FLoadOutOfMemory; }

    // Published components.
    QLabel* lblTotal;
    QLabel* lblCurrent;
    QFrame* pnl1;
    QLabel* Label4;
    TListBox* lbxSites;
    QFrame* pnl2;
    QTabWidget* pgcSiteInfo;
    QWidget*& tabImages = Tabs[TCategory::Images];
    TListBox*& lbxImages = Boxes[TCategory::Images];
    QWidget*& TabSheet4 = Tabs[TCategory::Pages];
    TListBox*& lbxPages = Boxes[TCategory::Pages];
    QWidget*& tbcMedia = Tabs[TCategory::Media];
    QWidget*& TabSheet1 = Tabs[TCategory::Other];
    TListBox*& lbxOther = Boxes[TCategory::Other];
    QWidget*& TabSheet2 = Tabs[TCategory::Cookies];
    TListBox*& lbxCookies = Boxes[TCategory::Cookies];
    QWidget*& TabSheet3 = Tabs[TCategory::History];
    TListBox*& lbxHistory = Boxes[TCategory::History];
    QLabel* Label1;
    QSplitter* Splitter1;
    TListBox*& lbxMedia = Boxes[TCategory::Media];
    QSplitter* Splitter2;
    widgets::TImagePreview* imgPreview;

    // Event handlers.
    void lbxSitesClick(QObject* Sender);
    void OpenSelFile(QObject* Sender);
    void lbxImagesContextPopup(QObject* Sender, QPoint MousePos, bool& Handled);
    void lbxImagesClick(QObject* Sender);

    // The analyzer behind the display, for tests that change a count under the frame.
    TCacheAnalyzer* CacheAnalyzer() const { return Analyzer.get(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildComponents();
    void BindEvents();
    void ShowSelectedSite();
    static void FillFileNames(const std::vector<std::string>& List, TListBox* Box);
    void EmptyCategoryBoxes();
    void BuildCategoryTabs();
    // The full path of the item selected on tab `PageIndex`; empty when the tab lists no files,
    // nothing is selected or its index is not below the selected site's count for that tab.
    std::string SelectedFile(int PageIndex) const;
    std::unique_ptr<TCacheAnalyzer> Analyzer;
    TCacheAnalyzer::TProgress FLoadProgress;
    bool FLoadCancelled = false;
    bool FLoadOutOfMemory = false;
};

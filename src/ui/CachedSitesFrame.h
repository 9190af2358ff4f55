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
    QWidget* tabImages;
    TListBox* lbxImages;
    QWidget* TabSheet4;
    TListBox* lbxPages;
    QWidget* tbcMedia;
    QWidget* TabSheet1;
    TListBox* lbxOther;
    QWidget* TabSheet2;
    TListBox* lbxCookies;
    QWidget* TabSheet3;
    TListBox* lbxHistory;
    QLabel* Label1;
    QSplitter* Splitter1;
    TListBox* lbxMedia;
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
    // The full path of the item selected on file tab `PageIndex` (0 to 4); empty when there is
    // none or its index is not below the selected site's count for that tab.
    std::string SelectedFile(int PageIndex) const;

    std::vector<std::string> ImagePaths;
    std::vector<std::string> PagePaths;
    std::vector<std::string> OtherPaths;
    std::vector<std::string> MediaPaths;
    std::vector<std::string> CookiePaths;
    std::unique_ptr<TCacheAnalyzer> Analyzer;
    TCacheAnalyzer::TProgress FLoadProgress;
    bool FLoadCancelled = false;
    bool FLoadOutOfMemory = false;
};

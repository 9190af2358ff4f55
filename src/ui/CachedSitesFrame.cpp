#include "ui/CachedSitesFrame.h"
#include "platform/AsciiCase.h"

#include "analysis/CountLines.h"
#include "platform/CodePage.h"
#include "platform/PathMapper.h"
#include "platform/desktop/DocumentOpener.h"
#include "platform/desktop/ErrorReport.h"
#include "platform/desktop/FileContextMenu.h"
#include "platform/urlcache/UrlCacheApi.h"
#include "ui/ListBox.h"
#include "ui/widgets/Fonts.h"
#include "ui/widgets/ImagePreview.h"

#include <QContextMenuEvent>
#include <QFrame>
#include <QLabel>
#include <QScrollBar>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

constexpr int kDesignWidth = 523;
constexpr int kDesignHeight = 369;
constexpr int kSitePanelWidth = 185;
constexpr int kSplitterThickness = 3;
constexpr int kPreviewDesignHeight = 172;
constexpr int kImagesPage = static_cast<int>(IndexOf(TCategory::Images));

QString DisplayText(std::string_view ansiText) {
    return QString::fromStdU16String(platform::AnsiToUtf16(ansiText));
}

// Tabs drawn as flat buttons: the active one pressed in, the others flat until pointed at.
const char* const kFlatTabs = R"(
QTabBar::tab { padding: 2px 7px; margin: 1px; border: 1px solid transparent; }
QTabBar::tab:hover { border-color: palette(mid); }
QTabBar::tab:selected { border-color: palette(dark); background: palette(midlight); }
)";

QVBoxLayout* FillingLayout(QWidget* parent) {
    auto* layout = new QVBoxLayout(parent);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return layout;
}

QLabel* FixedLabel(const char* name, const QString& caption, int height, QWidget* parent) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFixedHeight(height);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    return label;
}

TListBox* NewListBox(const char* name, const char* hint, QWidget* parent) {
    auto* box = new TListBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    if (hint)
        box->setToolTip(QString::fromLatin1(hint));
    return box;
}

QWidget* NewTabSheet(const char* name, const char* caption, QTabWidget* pages) {
    auto* sheet = new QWidget(pages);
    sheet->setObjectName(QString::fromLatin1(name));
    pages->addTab(sheet, QString::fromLatin1(caption));
    return sheet;
}

} // namespace

std::string FileNamePart(std::string_view path) {
    const auto cut = path.find_last_of("\\:");
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

TframeCachedSites::TframeCachedSites(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frameCachedSites"));
    BuildComponents();
    BindEvents();
    resize(kDesignWidth, kDesignHeight);
}

TframeCachedSites::~TframeCachedSites() = default;

void TframeCachedSites::BuildComponents() {
    auto* frameLayout = FillingLayout(this);

    Splitter1 = new QSplitter(Qt::Horizontal, this);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setHandleWidth(kSplitterThickness);
    Splitter1->setChildrenCollapsible(false);

    pnl1 = new QFrame(Splitter1);
    pnl1->setObjectName(QStringLiteral("pnl1"));
    pnl1->setFrameShape(QFrame::NoFrame);
    auto* sitesLayout = FillingLayout(pnl1);
    Label4 = FixedLabel("Label4", QStringLiteral("Select site to view traces:"), 16, pnl1);
    Label4->setFont(widgets::DialogFont(10, true));
    lbxSites = NewListBox("lbxSites", "Select site to view traces from it", pnl1);
    sitesLayout->addWidget(Label4);
    sitesLayout->addWidget(lbxSites);

    pnl2 = new QFrame(Splitter1);
    pnl2->setObjectName(QStringLiteral("pnl2"));
    pnl2->setFrameShape(QFrame::NoFrame);
    auto* tracesLayout = FillingLayout(pnl2);
    Label1 = FixedLabel("Label1", QStringLiteral("Traces already on your hard drive:"), 16, pnl2);
    Label1->setFont(widgets::DialogFont(10, true));
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    pgcSiteInfo = new QTabWidget(pnl2);
    pgcSiteInfo->setObjectName(QStringLiteral("pgcSiteInfo"));
    pgcSiteInfo->setDocumentMode(true);
    pgcSiteInfo->tabBar()->setStyleSheet(QString::fromLatin1(kFlatTabs));
    pgcSiteInfo->tabBar()->setDrawBase(false);
    tracesLayout->addWidget(Label1);
    tracesLayout->addWidget(pgcSiteInfo);

    BuildCategoryTabs();
    pgcSiteInfo->setCurrentWidget(tabImages);

    Splitter1->addWidget(pnl1);
    Splitter1->addWidget(pnl2);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({kSitePanelWidth, kDesignWidth - kSitePanelWidth - kSplitterThickness});

    lblTotal = FixedLabel("lblTotal", QString(), 21, this);
    lblTotal->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblCurrent = FixedLabel("lblCurrent", QStringLiteral("Label2"), 17, this);
    lblCurrent->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    frameLayout->addWidget(Splitter1, 1);
    frameLayout->addWidget(lblTotal);
    frameLayout->addWidget(lblCurrent);
}

void TframeCachedSites::BuildCategoryTabs() {
    for (const TCategoryInfo& category : kCategories) {
        QWidget* tab = NewTabSheet(category.TabName, category.TabCaption, pgcSiteInfo);
        Tabs[category.Category] = tab;
        if (category.Category != TCategory::Images) {
            Boxes[category.Category] = NewListBox(category.BoxName, category.BoxHint, tab);
            FillingLayout(tab)->addWidget(Boxes[category.Category]);
            continue;
        }
        // The images share their tab with the preview of the selected one.
        Splitter2 = new QSplitter(Qt::Vertical, tab);
        Splitter2->setObjectName(QStringLiteral("Splitter2"));
        Splitter2->setHandleWidth(kSplitterThickness);
        Splitter2->setChildrenCollapsible(false);
        Boxes[category.Category] = NewListBox(category.BoxName, category.BoxHint, Splitter2);
        imgPreview = new widgets::TImagePreview(Splitter2);
        imgPreview->setObjectName(QStringLiteral("imgPreview"));
        Splitter2->addWidget(Boxes[category.Category]);
        Splitter2->addWidget(imgPreview);
        Splitter2->setStretchFactor(0, 1);
        Splitter2->setStretchFactor(1, 0);
        Splitter2->setSizes({kPreviewDesignHeight, kPreviewDesignHeight});
        FillingLayout(tab)->addWidget(Splitter2);
    }
}

void TframeCachedSites::BindEvents() {
    connect(lbxSites, &TListBox::SelectionChangedByUser, this,
            [this] { desktop::RunReporting([this] { lbxSitesClick(lbxSites); }); });
    connect(lbxImages, &TListBox::SelectionChangedByUser, this,
            [this] { desktop::RunReporting([this] { lbxImagesClick(lbxImages); }); });
    for (TListBox* box : Boxes.Values) {
        connect(box, &TListBox::DoubleClicked, this,
                [this, box] { desktop::RunReporting([this, box] { OpenSelFile(box); }); });
        // Mouse requests arrive at the viewport or a scroll bar, keyboard ones at the box itself.
        box->installEventFilter(this);
        box->viewport()->installEventFilter(this);
        box->verticalScrollBar()->installEventFilter(this);
        box->horizontalScrollBar()->installEventFilter(this);
    }
    pgcSiteInfo->installEventFilter(this);
}

bool TframeCachedSites::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ContextMenu)
        return QWidget::eventFilter(watched, event);
    auto* request = static_cast<QContextMenuEvent*>(event);
    QPoint mousePos =
        request->reason() == QContextMenuEvent::Keyboard ? QPoint(-1, -1) : request->pos();
    QObject* sender = watched;
    auto* scrollBar = qobject_cast<QScrollBar*>(watched);
    for (QObject* part = watched->parent(); part && sender == watched; part = part->parent()) {
        if (auto* box = qobject_cast<TListBox*>(part)) {
            sender = box;
            // A scroll bar lies outside the box's client area; the point is given in it.
            if (scrollBar)
                mousePos = box->viewport()->mapFromGlobal(request->globalPos());
        }
    }
    bool handled = false;
    desktop::RunReporting([&] { lbxImagesContextPopup(sender, mousePos, handled); });
    // A scroll bar has a menu of its own, shown when no file's menu was; the other controls
    // have none, and the request must not reach the tab control again on its way up.
    return handled || !scrollBar;
}

void TframeCachedSites::EmptyCategoryBoxes() {
    for (TListBox* box : Boxes.Values)
        box->Clear();
}

void TframeCachedSites::InitFrame() {
    for (std::vector<std::string>& paths : Paths.Values)
        paths.clear();
    EmptyCategoryBoxes();
    lbxSites->Clear();
    Analyzer = std::make_unique<TCacheAnalyzer>();
    const int previewHeight = tabImages->height() / 2;
    const int listHeight =
        std::max(0, Splitter2->height() - Splitter2->handleWidth() - previewHeight);
    Splitter2->setSizes({listHeight, previewHeight});
}

void TframeCachedSites::LoadSites() {
    struct TProgressLent {
        TCacheAnalyzer& Borrower;
        ~TProgressLent() { Borrower.SetProgress(nullptr); }
    } lent{*Analyzer};
    Analyzer->SetProgress(FLoadProgress);
    lbxSites->Assign(SplitLines(Analyzer->GetSiteList()));
    FLoadCancelled = Analyzer->Cancelled();
    FLoadOutOfMemory = Analyzer->RanOutOfMemory();
    // Stopped while the sites were listed: no more reading, so no snapshot.
    if (!FLoadCancelled) {
        Analyzer->Analyze();
        FLoadCancelled = Analyzer->Cancelled();
        FLoadOutOfMemory = Analyzer->RanOutOfMemory();
    }
    // The window reads the cache once: the container bytes kept for another search would only
    // hold memory for the rest of the session.
    platform::ForgetReadContainers();
    if (lbxSites->Count() > 0)
        lbxSites->SetItemIndex(0);
    ShowSelectedSite();
}

void TframeCachedSites::ShowSelectedSite() {
    EmptyCategoryBoxes();
    const int selected = lbxSites->ItemIndex();
    if (selected < 0)
        return;
    const std::string site = platform::AsciiLowerCase(lbxSites->Item(selected));

    // Every file query first, then the boxes, then the history: a query that fails part way
    // leaves the boxes as they were emptied.
    for (TCategory category : kFillOrder)
        if (!InfoOf(category).Rule.HistoryLine)
            Paths[category] = SplitLines(Analyzer->GetSite(category, site));
    for (TCategory category : kFillOrder)
        if (!InfoOf(category).Rule.HistoryLine)
            FillFileNames(Paths[category], Boxes[category]);
    for (TCategory category : kFillOrder)
        if (InfoOf(category).Rule.HistoryLine)
            Boxes[category]->Assign(SplitLines(Analyzer->GetSite(category, site)));

    lblTotal->setText(DisplayText(FormatTotalLine(*Analyzer)));
    lblCurrent->setText(DisplayText(FormatCurrentLine(*Analyzer)));
}

void TframeCachedSites::FillFileNames(const std::vector<std::string>& List, TListBox* Box) {
    std::vector<std::string> names;
    names.reserve(List.size());
    for (const std::string& path : List)
        names.push_back(FileNamePart(path));
    Box->Assign(std::move(names)); // one reset of the box's items
}

void TframeCachedSites::DoneFrame() {
    EmptyCategoryBoxes();
    lbxSites->Clear();
    for (std::vector<std::string>& paths : Paths.Values)
        paths = {};
    Analyzer.reset();
}

void TframeCachedSites::lbxSitesClick(QObject*) {
    ShowSelectedSite();
}

std::string TframeCachedSites::SelectedFile(int PageIndex) const {
    if (!Analyzer || PageIndex < 0 || PageIndex >= static_cast<int>(kCategoryCount))
        return {};
    const TCategory category = kCategories[static_cast<std::size_t>(PageIndex)].Category;
    if (InfoOf(category).Rule.HistoryLine)
        return {};
    const std::vector<std::string>& paths = Paths[category];
    const int index = Boxes[category]->ItemIndex();
    // The path list can only be shorter than the bound when a query failed half way; an
    // index past it has no file either.
    if (index < 0 || index >= Analyzer->SiteCount(category) ||
        static_cast<std::size_t>(index) >= paths.size())
        return {};
    return paths[static_cast<std::size_t>(index)];
}

void TframeCachedSites::OpenSelFile(QObject*) {
    const int page = pgcSiteInfo->currentIndex();
    if (page < 0 || page >= static_cast<int>(kCategoryCount))
        return;
    const TCategory category = kCategories[static_cast<std::size_t>(page)].Category;
    if (InfoOf(category).Rule.HistoryLine) {
        // A history line is the visit itself: open its URL.
        const int index = Boxes[category]->ItemIndex();
        if (index < 0)
            return;
        const std::string& text = Boxes[category]->Item(index);
        const auto at = text.find('@');
        desktop::OpenWebAddress(at == std::string::npos ? std::string_view(text)
                                                        : std::string_view(text).substr(at + 1));
        return;
    }
    const std::string path = SelectedFile(page);
    if (!path.empty())
        desktop::OpenCachedFile(path);
}

void TframeCachedSites::lbxImagesContextPopup(QObject*, QPoint MousePos, bool& Handled) {
    const std::string path = SelectedFile(pgcSiteInfo->currentIndex());
    if (path.empty())
        return;
    desktop::ShowFileContextMenu(this, path, MousePos);
    Handled = true;
}

void TframeCachedSites::lbxImagesClick(QObject*) {
    const std::string path = SelectedFile(kImagesPage);
    if (path.empty())
        return;
    const auto hostPath = platform::HostPathFromWindows(path);
    imgPreview->Navigate(hostPath ? desktop::HostPathText(*hostPath) : QString());
}

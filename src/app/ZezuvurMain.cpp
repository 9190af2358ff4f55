#include "app/ZezuvurMain.h"

#include "app/AppIcon.h"
#include "app/LaunchUtils.h"
#include "platform/TextEscape.h"
#include "platform/desktop/ErrorReport.h"
#include "platform/urlcache/SkippedContainers.h"
#include "ui/CachedSitesFrame.h"
#include "ui/ProfileLine.h"
#include "ui/widgets/Fonts.h"
#include "ui/widgets/LayoutNow.h"
#include "ui/widgets/SplashWindow.h"

#include "Version.h"

#include <QFile>
#include <QMouseEvent>
#include <QVBoxLayout>

#include <memory>

const char* const kHomePageAddress = "http://www.divezor.example/";

namespace {

constexpr int kLeft = 234;
constexpr int kTop = 118;
// The client area of the designed 555 x 489 window.
constexpr int kClientWidth = 547;
constexpr int kClientHeight = 459;
constexpr int kPanelHeight = 33;
// Skipped containers named one by one in the notice; more are counted.
constexpr std::size_t kNamedSkips = 5;

} // namespace

TLinkPanel::TLinkPanel(QWidget* parent) : QLabel(parent) {}

void TLinkPanel::mousePressEvent(QMouseEvent* event) {
    FPressed = event->button() == Qt::LeftButton;
    event->accept();
}

void TLinkPanel::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = FPressed && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    FPressed = false;
    event->accept();
    if (click)
        emit clicked();
}

// The second press of a double-click has already been seen; the release that ends it is no new
// click, so a double-click opens the page once.
void TLinkPanel::mouseDoubleClickEvent(QMouseEvent* event) {
    FPressed = false;
    event->accept();
}

TfrmZezuvurMain::TfrmZezuvurMain(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmZezuvurMain"));
    setWindowTitle(QStringLiteral("Zezuvur %1.%2 FREEWARE")
                       .arg(zezuvur::kVersionMajor)
                       .arg(zezuvur::kVersionMinor));
    setWindowIcon(ApplicationIcon());
    setFont(widgets::DialogFont(8));
    BuildComponents();
    move(kLeft, kTop);
    resize(kClientWidth, kClientHeight);
    widgets::LayOutNow(this);
    desktop::RunReporting([this] { FormCreate(this); });
}

TfrmZezuvurMain::~TfrmZezuvurMain() {
    desktop::RunReporting([this] { FormDestroy(this); });
}

void TfrmZezuvurMain::BuildComponents() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Panel1 = new TLinkPanel(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(kPanelHeight);
    Panel1->setText(QStringLiteral("CLICK HERE TO VISIT OUR WEB-SITE : www.divezor.example"));
    Panel1->setAlignment(Qt::AlignCenter);
    Panel1->setFrameStyle(QFrame::Box | QFrame::Sunken); // lowered outside, raised inside
    Panel1->setAutoFillBackground(true);
    QPalette colours = Panel1->palette();
    colours.setColor(QPalette::Window, colours.color(QPalette::Base));
    colours.setColor(QPalette::WindowText, colours.color(QPalette::Highlight));
    Panel1->setPalette(colours);
    QFont caption = Panel1->font();
    caption.setBold(true);
    caption.setUnderline(true);
    Panel1->setFont(caption);
    Panel1->setCursor(Qt::PointingHandCursor);
    connect(Panel1, &TLinkPanel::clicked, this,
            [this] { desktop::RunReporting([this] { Panel1Click(Panel1); }); });

    lblNotice = new QLabel(this);
    lblNotice->setObjectName(QStringLiteral("lblNotice"));
    lblNotice->setTextFormat(Qt::PlainText);
    lblNotice->setWordWrap(true);
    lblNotice->setMargin(4);
    lblNotice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblNotice->hide();

    frameSites = new TframeCachedSites(this);
    frameSites->setObjectName(QStringLiteral("frameSites"));

    layout->addWidget(Panel1);
    layout->addWidget(lblNotice);
    layout->addWidget(frameSites, 1);
    layout->addWidget(new TProfileLine(this));
    frameSites->setFocus();
}

void TfrmZezuvurMain::FormCreate(QObject*) {
    std::unique_ptr<widgets::TSplashWindow> splash;
    const auto finish = [&] {
        splash.reset();
        ForceForeground(this, true);
    };
    try {
        splash = std::make_unique<widgets::TSplashWindow>(
            ApplicationPixmap(), QStringLiteral("Analyzing your computer, please wait..."));
        frameSites->InitFrame();
        platform::urlcache::TakeSkippedContainers(); // notes of an earlier reading
        frameSites->SetLoadProgress(
            [&splash](std::size_t entriesRead) { return splash->ShowProgress(entriesRead); });
        frameSites->LoadSites();
        frameSites->SetLoadProgress(nullptr);
    } catch (...) {
        frameSites->SetLoadProgress(nullptr);
        ShowLoadNotice();
        finish();
        throw;
    }
    ShowLoadNotice();
    finish();
}

void TfrmZezuvurMain::ShowLoadNotice() {
    QStringList lines;
    if (frameSites->LoadOutOfMemory())
        lines << QStringLiteral("Memory ran out while the cache was read: the lists show only "
                                "what was read before.");
    else if (frameSites->LoadCancelled())
        lines << QStringLiteral("Reading the cache was stopped: the lists show only what was "
                                "read before.");
    const auto skipped = platform::urlcache::TakeSkippedContainers();
    for (std::size_t i = 0; i < skipped.size() && i < kNamedSkips; ++i) {
        const std::string name = platform::EscapeControlCharacters(skipped[i].indexFile.string());
        lines << QStringLiteral("Not read: %1: it %2.")
                     .arg(QFile::decodeName(QByteArray::fromStdString(name)),
                          QString::fromStdString(skipped[i].reason));
    }
    if (skipped.size() > kNamedSkips)
        lines << QStringLiteral("Not read: %1 more containers.").arg(skipped.size() - kNamedSkips);
    lblNotice->setText(lines.join(QLatin1Char('\n')));
    lblNotice->setVisible(!lines.isEmpty());
}

void TfrmZezuvurMain::FormDestroy(QObject*) {
    frameSites->DoneFrame();
}

void TfrmZezuvurMain::Panel1Click(QObject*) {
    ShellOpen(kHomePageAddress);
}

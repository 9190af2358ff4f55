#include "app/ZezuvurMain.h"

#include "app/AppIcon.h"
#include "app/LaunchUtils.h"
#include "platform/desktop/ErrorReport.h"
#include "platform/desktop/Fonts.h"
#include "platform/desktop/LayoutNow.h"
#include "platform/desktop/SplashWindow.h"
#include "ui/CachedSitesFrame.h"
#include "ui/ProfileLine.h"

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
    setWindowTitle(QStringLiteral("Zezuvur 1.11 FREEWARE"));
    setWindowIcon(ApplicationIcon());
    setFont(desktop::DialogFont(8));
    BuildComponents();
    move(kLeft, kTop);
    resize(kClientWidth, kClientHeight);
    desktop::LayOutNow(this);
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

    frameSites = new TframeCachedSites(this);
    frameSites->setObjectName(QStringLiteral("frameSites"));

    layout->addWidget(Panel1);
    layout->addWidget(frameSites, 1);
    layout->addWidget(new TProfileLine(this));
    frameSites->setFocus();
}

void TfrmZezuvurMain::FormCreate(QObject*) {
    std::unique_ptr<desktop::TSplashWindow> splash;
    const auto finish = [&] {
        splash.reset();
        ForceForeground(this, true);
    };
    try {
        splash = std::make_unique<desktop::TSplashWindow>(
            ApplicationPixmap(), QStringLiteral("Analyzing your computer, please wait..."));
        frameSites->InitFrame();
        frameSites->LoadSites();
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void TfrmZezuvurMain::FormDestroy(QObject*) {
    frameSites->DoneFrame();
}

void TfrmZezuvurMain::Panel1Click(QObject*) {
    ShellOpen(kHomePageAddress);
}

#include "ui/ProfileChooser.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace profiles = platform::profiles;

namespace {

enum Column { KindColumn, UserColumn, LocationColumn, HoldsColumn, NewestColumn };
constexpr int kFolderRole = Qt::UserRole;

QString FromLocal(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

QString DefaultBrowser(QWidget* parent) {
    return QFileDialog::getExistingDirectory(parent,
                                             QStringLiteral("Choose a Windows profile folder"));
}

} // namespace

TdlgChooseProfile::TdlgChooseProfile(std::vector<profiles::ProfileCandidate> candidates,
                                     QWidget* parent)
    : QDialog(parent), FBrowser(&DefaultBrowser) {
    setObjectName(QStringLiteral("dlgChooseProfile"));
    setWindowTitle(QStringLiteral("Zezuvur - choose a profile"));

    auto* question = new QLabel(
        QStringLiteral("Several Windows user profiles on this computer hold a web cache.\n"
                       "Which one do you want to look at?"),
        this);

    lvwProfiles = new QTreeWidget(this);
    lvwProfiles->setObjectName(QStringLiteral("lvwProfiles"));
    lvwProfiles->setRootIsDecorated(false);
    lvwProfiles->setAllColumnsShowFocus(true);
    lvwProfiles->setHeaderLabels({QStringLiteral("Kind"), QStringLiteral("User"),
                                  QStringLiteral("Location"), QStringLiteral("Holds"),
                                  QStringLiteral("Newest")});
    // Long locations give way first, shortened in the middle where the names differ least.
    lvwProfiles->setTextElideMode(Qt::ElideMiddle);
    lvwProfiles->header()->setStretchLastSection(false);

    btnBrowse = new QPushButton(QStringLiteral("&Browse..."), this);
    btnBrowse->setObjectName(QStringLiteral("btnBrowse"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    btnOK = buttons->button(QDialogButtonBox::Ok);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("btnCancel"));

    auto* row = new QHBoxLayout;
    row->addWidget(btnBrowse);
    row->addStretch(1);
    row->addWidget(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(question);
    layout->addWidget(lvwProfiles, 1);
    layout->addLayout(row);

    connect(btnBrowse, &QPushButton::clicked, this, [this] { btnBrowseClick(); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(lvwProfiles, &QTreeWidget::itemDoubleClicked, this, [this] { accept(); });
    connect(lvwProfiles, &QTreeWidget::currentItemChanged, this, [this] { UpdateButtons(); });

    AddRows(candidates, 0);
    FitToContents();
    UpdateButtons();
}

QTreeWidgetItem* TdlgChooseProfile::RowOf(const QByteArray& folder) const {
    for (int row = 0; row < lvwProfiles->topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = lvwProfiles->topLevelItem(row);
        if (item->data(LocationColumn, kFolderRole).toByteArray() == folder)
            return item;
    }
    return nullptr;
}

void TdlgChooseProfile::AddRows(const std::vector<profiles::ProfileCandidate>& candidates, int at) {
    QTreeWidgetItem* first = nullptr;
    for (const profiles::ProfileCandidate& candidate : candidates) {
        const QByteArray folder = QByteArray::fromStdString(candidate.folder.string());
        if (QTreeWidgetItem* listed = RowOf(folder)) { // picked again: selected, not repeated
            if (!first)
                first = listed;
            continue;
        }
        auto* item = new QTreeWidgetItem;
        item->setText(KindColumn, QStringLiteral("%1 (%2)").arg(
                                      QString::fromLatin1(profiles::KindName(candidate.kind)),
                                      FromLocal(candidate.origin)));
        item->setText(UserColumn, FromLocal(candidate.user));
        const QString location = FromLocal(candidate.folder.string());
        item->setText(LocationColumn, location);
        item->setToolTip(LocationColumn, location);
        item->setText(HoldsColumn, FromLocal(profiles::DescribeContents(candidate.cache)));
        item->setText(NewestColumn, FromLocal(profiles::DescribeNewestChange(candidate.cache)));
        item->setData(LocationColumn, kFolderRole, folder);
        lvwProfiles->insertTopLevelItem(at++, item);
        if (!first)
            first = item;
    }
    if (first)
        lvwProfiles->setCurrentItem(first);
}

// Wide enough for every column where the screen allows; else the location column gives way.
void TdlgChooseProfile::FitToContents() {
    QHeaderView* header = lvwProfiles->header();
    int wanted = 0;
    for (int column = KindColumn; column <= NewestColumn; ++column) {
        if (column != LocationColumn)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
        int widest = header->sectionSizeHint(column);
        for (int row = 0; row < lvwProfiles->topLevelItemCount(); ++row) {
            const QString text = lvwProfiles->topLevelItem(row)->text(column);
            widest = std::max(widest, lvwProfiles->fontMetrics().horizontalAdvance(text) + 16);
        }
        wanted += widest;
    }
    header->setSectionResizeMode(LocationColumn, QHeaderView::Stretch);
    const QScreen* screen = this->screen();
    const int available = screen ? screen->availableGeometry().width() * 9 / 10 : 1000;
    resize(std::clamp(wanted + 80, 560, std::max(560, available)), 320);
}

void TdlgChooseProfile::btnBrowseClick() {
    const QString folder = FBrowser(this);
    if (folder.isEmpty())
        return;
    const std::filesystem::path picked(folder.toLocal8Bit().toStdString());
    AddRows(profiles::ProfilesInFolder(picked), 0);
    FitToContents();
}

void TdlgChooseProfile::UpdateButtons() {
    btnOK->setEnabled(lvwProfiles->currentItem() != nullptr);
}

std::optional<std::filesystem::path> TdlgChooseProfile::ChosenFolder() const {
    const QTreeWidgetItem* item = lvwProfiles->currentItem();
    if (result() != QDialog::Accepted || item == nullptr)
        return std::nullopt;
    return std::filesystem::path(
        item->data(LocationColumn, kFolderRole).toByteArray().toStdString());
}

std::optional<std::filesystem::path>
ChooseProfile(std::vector<platform::profiles::ProfileCandidate> candidates) {
    TdlgChooseProfile dialog(std::move(candidates));
    dialog.exec();
    return dialog.ChosenFolder();
}

#pragma once
// The question asked before the splash when several Windows profiles on this computer hold a
// cache: which one to show. Lists them (kind, user, location, what each holds) in the order
// given, the first selected; "Browse..." adds the profiles of any folder the user picks.

#include "platform/ProfileDiscovery.h"

#include <QDialog>

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class TdlgChooseProfile : public QDialog {
    Q_OBJECT
public:
    // Asks for a folder; an empty text when the user gave none.
    using FolderBrowser = std::function<QString(QWidget* parent)>;

    explicit TdlgChooseProfile(std::vector<platform::profiles::ProfileCandidate> candidates,
                               QWidget* parent = nullptr);

    // The folder dialog by default; tests give one that answers by itself.
    void SetFolderBrowser(FolderBrowser browser) { FBrowser = std::move(browser); }

    // The selected profile's folder, once the dialog was accepted.
    std::optional<std::filesystem::path> ChosenFolder() const;

    QTreeWidget* lvwProfiles;
    QPushButton* btnBrowse;
    QPushButton* btnOK;

    void btnBrowseClick();

private:
    void AddRows(const std::vector<platform::profiles::ProfileCandidate>& candidates, int at);
    void UpdateButtons();
    void FitToContents();
    QTreeWidgetItem* RowOf(const QByteArray& folder) const;

    FolderBrowser FBrowser;
};

// Shows the dialog; the chosen folder, or nullopt when the user cancelled.
std::optional<std::filesystem::path>
ChooseProfile(std::vector<platform::profiles::ProfileCandidate> candidates);

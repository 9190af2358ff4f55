#pragma once
// Which profile the window shows when the command line named none.

#include "platform/ProfileDiscovery.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

// Asks the user among several candidates; nullopt when the user cancelled.
using ProfileQuestion = std::function<std::optional<std::filesystem::path>(
    std::vector<platform::profiles::ProfileCandidate>)>;

// ZEZUVUR_PROFILE set: that one. Otherwise the profiles of this computer that hold a cache:
// one is taken, among several the user is asked, none leaves the default Wine prefix. The
// choice goes into ZEZUVUR_PROFILE, where the cache calls look. False when the user cancelled.
bool SelectStartProfile(const platform::profiles::DiscoveryRoots& roots,
                        const ProfileQuestion& ask);

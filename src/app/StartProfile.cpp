#include "app/StartProfile.h"

#include <cstdlib>

namespace profiles = platform::profiles;

bool SelectStartProfile(const profiles::DiscoveryRoots& roots, const ProfileQuestion& ask) {
    if (!roots.profileVariable.empty())
        return true;
    std::vector<profiles::ProfileCandidate> holding;
    for (profiles::ProfileCandidate& candidate : profiles::DiscoverProfiles(roots).candidates) {
        if (candidate.cache.holdsCache())
            holding.push_back(std::move(candidate));
    }
    if (holding.empty())
        return true;
    std::optional<std::filesystem::path> chosen = holding.front().folder;
    if (holding.size() > 1)
        chosen = ask(std::move(holding));
    if (!chosen)
        return false;
    ::setenv("ZEZUVUR_PROFILE", chosen->c_str(), 1);
    return true;
}

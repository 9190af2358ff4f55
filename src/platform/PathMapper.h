#pragma once
// The one mapping between the Windows-form paths that cache entries carry
// (C:\users\alice\...\Z989AIU1\logo[0].gif) and paths on this host. Every file access that
// starts from a cache path goes through it.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

struct ProfileRoot {
    std::filesystem::path hostFolder; // the user-profile folder on this host
    std::string windowsFolder;        // how programs see it, e.g. C:\users\alice
    std::filesystem::path driveRoot;  // the host folder that stands for C:\ (empty when none)
};

// The profile to read: ZEZUVUR_PROFILE if set (presented as C:\Users\<folder name>), else the
// Wine prefix ($WINEPREFIX, else ~/.wine) folder drive_c/users/$USER, whose C: is drive_c.
// The folder need not exist.
ProfileRoot CurrentProfile();

// $HOME, else the home folder of the user database; $USER, else the user database's name.
std::string HomeFolder();
std::string UserName();

// Windows-form path to host path. Absolute Windows paths under the profile's drive map below
// driveRoot; others under the profile folder's Windows path map below hostFolder. When the exact
// host path does not exist, each component is matched case-insensitively against the folder's
// entries. Nullopt for a path that leads outside the mapped folders (including ".." tricks).
std::optional<std::filesystem::path> HostPathFromWindows(std::string_view windowsPath);
std::optional<std::filesystem::path> HostPathFromWindows(const ProfileRoot& profile,
                                                         std::string_view windowsPath);

// Host path below the profile to its Windows form (backslashes). Nullopt when it is not below
// the profile's folders.
std::optional<std::string> WindowsPathFromHost(const ProfileRoot& profile,
                                               const std::filesystem::path& hostPath);

// The name of the entry of `folder` called `name` ignoring ASCII case: `name` itself when that
// exists, else the first match in name order; nullopt when there is none. The listing of a
// folder is read once while the folder stays unchanged.
std::optional<std::string> ChildNameIgnoringCase(const std::filesystem::path& folder,
                                                 const std::string& name);

} // namespace platform

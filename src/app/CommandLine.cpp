#include "app/CommandLine.h"

#include "platform/ProgramInfo.h"

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace profiles = platform::profiles;

const char* const kZezuvurHelp =
    "usage: zezuvur [--profile DIR]\n"
    "       zezuvur --list-profiles [--all]\n"
    "       zezuvur --help | --version\n"
    "\n"
    "Shows, site by site, what web browsing left in the URL cache of a Windows user profile:\n"
    "cached images, pages, media and other files, cookies and history entries. The cache is\n"
    "only read, never changed.\n"
    "\n"
    "Without --profile and without ZEZUVUR_PROFILE, the program looks for the Windows user\n"
    "profiles on this computer (see Profiles below). When several of them hold a cache, a\n"
    "small window asks which one to show, the one with the most recent cache first, and\n"
    "offers to browse for any other folder; Cancel ends the program. When one holds a cache,\n"
    "it is shown without asking; when none does, the default Wine prefix's user folder is\n"
    "read (an empty cache when it has none). The main window shows which profile is open in\n"
    "a line at its foot.\n"
    "\n"
    "Options:\n"
    "  --profile DIR    show the Windows user profile in the folder DIR: a mounted disk's\n"
    "                   Users/NAME or Documents and Settings/NAME, a Wine prefix's\n"
    "                   drive_c/users/NAME, or a copied profile folder\n"
    "  --list-profiles  print the profiles found that hold a cache, one line each, the most\n"
    "                   recent cache first, and exit; the tab-separated columns: kind and\n"
    "                   where it was found, user, the profile folder, what it holds\n"
    "  --all            with --list-profiles: list the profiles that hold no cache too\n"
    "  --help           print this help and exit\n"
    "  --version        print the version and exit\n"
    "\n"
    "Profiles:\n"
    "  Where the program looks, in this order for caches of the same age: ZEZUVUR_PROFILE;\n"
    "  the user folders (drive_c/users/*) of the Wine prefixes $WINEPREFIX, ~/.wine,\n"
    "  ~/.local/share/wineprefixes/*, ~/.PlayOnLinux/wineprefix/*, the Bottles bottles\n"
    "  (~/.local/share/bottles/bottles/* and\n"
    "  ~/.var/app/com.usebottles.bottles/data/bottles/bottles/*), Steam's Proton prefixes\n"
    "  (steamapps/compatdata/*/pfx in ~/.steam/steam, ~/.steam/root, ~/.local/share/Steam, the\n"
    "  Flatpak Steam folders and every library listed in their libraryfolders.vdf), and the\n"
    "  prefixes named in Lutris's game files (~/.config/lutris/games/*.yml,\n"
    "  ~/.local/share/lutris/games/*.yml); the profile folders in\n"
    "  ~/.local/share/zezuvur/profiles/; and Users/* and Documents and Settings/* of the\n"
    "  Windows volumes mounted in /media/$USER, /run/media/$USER, /media and /mnt (Public,\n"
    "  Default, Default User and All Users left out). A profile holds a cache when it has\n"
    "  index.dat containers or a WebCache database (WebCacheV01.dat or WebCacheV24.dat). The\n"
    "  look is quick and shallow: no cache is read, no symbolic link is followed below these\n"
    "  places, and a place that has not answered within 3 seconds (a slow or dead mount) is\n"
    "  left out.\n"
    "\n"
    "Environment:\n"
    "  ZEZUVUR_PROFILE  the profile folder to show, as with --profile; no question is asked\n"
    "  WINEPREFIX       a Wine prefix to look in first; without a cache anywhere, the one\n"
    "                   whose drive_c/users/$USER is read (default: ~/.wine)\n"
    "  XDG_DATA_HOME, XDG_CONFIG_HOME\n"
    "                   where ~/.local/share and ~/.config are taken from\n"
    "\n"
    "Exit status:\n"
    "  0  the window was closed, the choice of a profile cancelled, or the help, the version\n"
    "     or the list printed\n"
    "  1  the list could not be written\n"
    "  2  a bad option, or a --profile folder that does not exist\n";

namespace {

bool takeValue(int argc, char** argv, int& i, std::string_view option, std::string& value) {
    const std::string_view argument = argv[i];
    if (argument == option) {
        if (i + 1 >= argc)
            return false;
        value = argv[++i];
        return true;
    }
    value = std::string(argument.substr(option.size() + 1));
    return true;
}

} // namespace

TStartOptions ParseCommandLine(int argc, char** argv) {
    TStartOptions options;
    bool list = false;
    const auto fail = [&](std::string error) {
        TStartOptions failed;
        failed.action = TStartOptions::Action::UsageError;
        failed.error = std::move(error);
        return failed;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            options.action = TStartOptions::Action::Help;
            return options;
        }
        if (argument == "--version") {
            options.action = TStartOptions::Action::Version;
            return options;
        }
        if (argument == "--profile" || argument.starts_with("--profile=")) {
            std::string value;
            if (!takeValue(argc, argv, i, "--profile", value) || value.empty())
                return fail("--profile needs a folder");
            if (options.profile)
                return fail("--profile given twice");
            options.profile = value;
        } else if (argument == "--list-profiles") {
            list = true;
        } else if (argument == "--all") {
            options.all = true;
        } else {
            return fail("unknown option: " + std::string(argument));
        }
    }
    if (options.all && !list)
        return fail("--all goes with --list-profiles");
    if (list && options.profile)
        return fail("--list-profiles and --profile do not go together");
    if (list)
        options.action = TStartOptions::Action::ListProfiles;
    return options;
}

void PrintProfiles(const profiles::DiscoveryResult& found, bool all, std::FILE* out,
                   std::FILE* notes) {
    for (const profiles::ProfileCandidate& candidate : found.candidates) {
        if (!all && !candidate.cache.holdsCache())
            continue;
        std::fprintf(out, "%s (%s)\t%s\t%s\t%s\n", profiles::KindName(candidate.kind),
                     candidate.origin.c_str(), candidate.user.c_str(), candidate.folder.c_str(),
                     profiles::DescribeCache(candidate.cache).c_str());
    }
    for (const std::filesystem::path& place : found.unanswered)
        std::fprintf(notes, "zezuvur: %s did not answer in time and was left out\n", place.c_str());
}

std::optional<int> AnswerOnTerminal(const TStartOptions& options) {
    switch (options.action) {
    case TStartOptions::Action::Help:
        std::fputs(kZezuvurHelp, stdout);
        return 0;
    case TStartOptions::Action::Version:
        std::fputs(platform::VersionText("zezuvur").c_str(), stdout);
        return 0;
    case TStartOptions::Action::UsageError:
        std::fprintf(stderr, "zezuvur: %s\nTry 'zezuvur --help' for more information.\n",
                     options.error.c_str());
        return kExitUsage;
    case TStartOptions::Action::ListProfiles:
        PrintProfiles(profiles::DiscoverProfiles(profiles::RootsFromEnvironment()), options.all,
                      stdout, stderr);
        return std::fflush(stdout) == 0 ? 0 : 1;
    case TStartOptions::Action::RunWindow:
        break;
    }
    if (!options.profile)
        return std::nullopt;
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::absolute(*options.profile, error);
    if (error || !std::filesystem::is_directory(folder, error)) {
        std::fprintf(stderr, "zezuvur: no such profile folder: %s\n", options.profile->c_str());
        return kExitUsage;
    }
    ::setenv("ZEZUVUR_PROFILE", folder.c_str(), 1);
    return std::nullopt;
}

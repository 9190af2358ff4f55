#pragma once
// The program's command line, read before anything of the window starts: the answers that need
// no display (help, version, the list of profiles) and the profile the window is to show.

#include "platform/ProfileDiscovery.h"

#include <cstdio>
#include <optional>
#include <string>

struct TStartOptions {
    enum class Action { RunWindow, ListProfiles, Help, Version, UsageError };
    Action action = Action::RunWindow;
    std::optional<std::string> profile; // --profile DIR
    bool all = false;                   // --list-profiles --all
    std::string error;                  // what was wrong, for UsageError
};

TStartOptions ParseCommandLine(int argc, char** argv);

extern const char* const kZezuvurHelp;

// One line per candidate, tab-separated: kind (where found), user, folder, what it holds. Only
// those that hold a cache unless `all`. Places that gave no answer in time are named on `notes`.
void PrintProfiles(const platform::profiles::DiscoveryResult& found, bool all, std::FILE* out,
                   std::FILE* notes);

// Everything that is answered on the terminal: help, version, the list, a bad command line, a
// --profile folder that does not exist. Nullopt when the window is to start; a --profile folder
// is then in ZEZUVUR_PROFILE, where the cache calls look.
std::optional<int> AnswerOnTerminal(const TStartOptions& options);

constexpr int kExitUsage = 2;

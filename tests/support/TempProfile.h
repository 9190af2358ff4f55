#pragma once
// A fresh, empty Windows profile folder, named like its user, that the URL cache layer reads
// through ZEZUVUR_PROFILE while the object lives.

#include "support/ScopedEnv.h"
#include "support/TempFolder.h"

#include <filesystem>
#include <string>

namespace zz_test {

class TempProfile {
public:
    explicit TempProfile(const std::string& user = "alice")
        : folder_(CreatedFolder(base_.path() / user)),
          selected_("ZEZUVUR_PROFILE", folder_.string()) {}
    TempProfile(const TempProfile&) = delete;
    TempProfile& operator=(const TempProfile&) = delete;

    const std::filesystem::path& folder() const { return folder_; }

private:
    static std::filesystem::path CreatedFolder(const std::filesystem::path& folder) {
        std::filesystem::create_directories(folder);
        return folder;
    }

    TempFolder base_{"zz-profile"};
    std::filesystem::path folder_;
    ScopedEnv selected_;
};

} // namespace zz_test

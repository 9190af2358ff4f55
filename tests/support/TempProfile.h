#pragma once
// A fresh, empty Windows profile folder that the URL cache layer reads while the object lives.

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

class TempProfile {
public:
    TempProfile() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "zz-profile-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot create a temporary profile folder");
        folder_ = pattern;
        setenv("ZEZUVUR_PROFILE", folder_.c_str(), 1);
    }
    ~TempProfile() {
        unsetenv("ZEZUVUR_PROFILE");
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    TempProfile(const TempProfile&) = delete;
    TempProfile& operator=(const TempProfile&) = delete;

    const std::filesystem::path& folder() const { return folder_; }

private:
    std::filesystem::path folder_;
};

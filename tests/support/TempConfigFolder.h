#pragma once
// A fresh config folder ($XDG_CONFIG_HOME) for the life of the object, with helpers to put a
// settings file in place and look at what became of it.

#include "support/ScopedEnv.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <system_error>

class TempConfigFolder {
public:
    TempConfigFolder()
        : configFolder_(root_.path() / "config"),
          configHome_("XDG_CONFIG_HOME", configFolder_.string()) {}
    ~TempConfigFolder() {
        std::error_code ignored;
        std::filesystem::permissions(settingsFile(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }
    TempConfigFolder(const TempConfigFolder&) = delete;
    TempConfigFolder& operator=(const TempConfigFolder&) = delete;

    const std::filesystem::path& root() const { return root_.path(); }
    std::filesystem::path settingsFile() const {
        return configFolder_ / "Divezor" / "Duruvera.conf";
    }

    void UseConfigFolder(const std::filesystem::path& folder) {
        configFolder_ = folder;
        configHome_.Set(folder.string());
    }

    void WriteSettings(const std::string& bytes) const {
        std::filesystem::create_directories(settingsFile().parent_path());
        std::ofstream(settingsFile(), std::ios::binary) << bytes;
    }

    std::string SettingsBytes() const {
        std::ifstream file(settingsFile(), std::ios::binary);
        std::ostringstream bytes;
        bytes << file.rdbuf();
        return bytes.str();
    }

    // "name=value" lines of the file's [General] section.
    std::map<std::string, std::string> StoredValues() const {
        std::map<std::string, std::string> values;
        std::istringstream lines(SettingsBytes());
        std::string line;
        bool inGeneral = false;
        while (std::getline(lines, line)) {
            if (!line.empty() && line.front() == '[') {
                inGeneral = line == "[General]";
                continue;
            }
            const auto equals = line.find('=');
            if (inGeneral && equals != std::string::npos)
                values[line.substr(0, equals)] = line.substr(equals + 1);
        }
        return values;
    }

private:
    zz_test::TempFolder root_{"zz-config"};
    std::filesystem::path configFolder_;
    zz_test::ScopedEnv configHome_;
};

#pragma once
// A fresh config folder ($XDG_CONFIG_HOME) for the life of the object, with helpers to put a
// settings file in place and look at what became of it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>

class TempConfigFolder {
public:
    TempConfigFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "zz-config-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot create a temporary config folder");
        root_ = pattern;
        if (const char* previous = std::getenv("XDG_CONFIG_HOME"))
            previous_ = previous;
        UseConfigFolder(root_ / "config");
    }
    ~TempConfigFolder() {
        if (previous_)
            setenv("XDG_CONFIG_HOME", previous_->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
        std::error_code ignored;
        std::filesystem::permissions(settingsFile(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(root_, ignored);
    }
    TempConfigFolder(const TempConfigFolder&) = delete;
    TempConfigFolder& operator=(const TempConfigFolder&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path settingsFile() const {
        return configFolder_ / "Divezor" / "Duruvera.conf";
    }

    void UseConfigFolder(const std::filesystem::path& folder) {
        configFolder_ = folder;
        setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
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
    std::filesystem::path root_;
    std::filesystem::path configFolder_;
    std::optional<std::string> previous_;
};

#pragma once
// A Windows 10 profile of the WebCache kind: the database
// AppData/Local/Microsoft/Windows/WebCache/WebCacheV01.dat and the cached files in
// AppData/Local/Microsoft/Windows/INetCache/IE/<folder>/. The database holds, as on Windows 10:
// Containers with Content (1), History (2) and an empty Cookies (3) container of the main
// partition, their Container_N tables, and the cookies in CookieEntryEx_3. It names its folders
// under C:\Users\<user>.

#include "urlcache-writer/UrlCacheWriter.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace make_profile {

class WebCacheProfileWriter {
public:
    WebCacheProfileWriter(std::filesystem::path profile, std::string user,
                          std::vector<std::string> subFolders);
    ~WebCacheProfileWriter();

    // The entry's cached file (when it has content) is written at once.
    void addContent(const urlcache_writer::Entry& entry);
    void addHistory(const urlcache_writer::Entry& entry);
    void addCookie(const std::string& host, const std::string& path, const std::string& name,
                   const std::string& value, win::FILETIME modified, win::FILETIME expires);

    // Writes the database. May be called once.
    void write();

private:
    struct Tables;
    std::filesystem::path profile_;
    std::string user_;
    std::vector<std::string> subFolders_;
    std::unique_ptr<Tables> tables_;
};

} // namespace make_profile

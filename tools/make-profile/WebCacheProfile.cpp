#include "WebCacheProfile.h"

#include "ese-writer/EseWriter.h"
#include "platform/TimeConversion.h"

#include <fstream>
#include <stdexcept>

namespace make_profile {

namespace {

namespace fs = std::filesystem;
using namespace ese_writer;

constexpr int kContentId = 1;
constexpr int kHistoryId = 2;
constexpr int kCookiesId = 3;
constexpr const char* kLocal = "AppData/Local/Microsoft/Windows";

std::int64_t valueOf(win::FILETIME time) {
    return static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) |
                                     time.dwLowDateTime);
}

std::int64_t valueOfDos(std::uint32_t dosDateTime) {
    return dosDateTime == 0 ? 0 : valueOf(platform::FileTimeFromDosDateTime(dosDateTime));
}

// "github.com" -> "com.github".
std::string reversedDomain(const std::string& host) {
    std::string reversed;
    std::size_t end = host.size();
    while (end > 0) {
        const std::size_t dot = host.rfind('.', end - 1);
        const std::size_t start = dot == std::string::npos ? 0 : dot + 1;
        if (!reversed.empty())
            reversed += '.';
        reversed.append(host, start, end - start);
        if (dot == std::string::npos)
            break;
        end = dot;
    }
    return reversed;
}

Row containerRow(int id, const char* name, const std::string& directory,
                 const std::string& secureDirectories) {
    Row row = WebCacheContainerRow(id, name, directory, secureDirectories);
    row["SetId"] = UInt32(0);
    row["Flags"] = UInt32(0);
    row["Limit"] = Int64(346030080);
    return row;
}

Row entryRow(std::int64_t entryId, int containerId, const urlcache_writer::Entry& entry) {
    Row row;
    row["EntryId"] = Int64(entryId);
    row["ContainerId"] = Int64(containerId);
    row["UrlHash"] = Int64(entryId); // keeps the rows in the order they were made
    row["Type"] = UInt32(entry.entryType);
    row["AccessCount"] = UInt32(entry.hitRate);
    row["SyncCount"] = UInt32(entry.useCount);
    row["ExemptionDelta"] = UInt32(entry.exemptDelta);
    const std::uint64_t size =
        entry.size == 0 && entry.fileContent ? entry.fileContent->size() : entry.size;
    row["FileSize"] = Int64(static_cast<std::int64_t>(size));
    row["ModifiedTime"] = Int64(valueOf(entry.lastModified));
    row["AccessedTime"] = Int64(valueOf(entry.lastAccess));
    row["CreationTime"] = Int64(valueOf(entry.lastAccess));
    row["ExpiryTime"] = Int64(valueOfDos(entry.expireDosDateTime));
    row["SyncTime"] = Int64(valueOfDos(entry.lastSyncDosDateTime));
    row["Url"] = Utf16(entry.url);
    if (entry.fileName) {
        row["SecureDirectory"] = UInt32(entry.subFolder);
        row["Filename"] = Utf16(*entry.fileName);
    }
    if (entry.extension)
        row["FileExtension"] = Utf16(*entry.extension);
    if (entry.headerInfo)
        row["ResponseHeaders"] = Bytes(*entry.headerInfo);
    return row;
}

} // namespace

struct WebCacheProfileWriter::Tables {
    Table containers = WebCacheContainersTable();
    Table content = WebCacheContainerTable(kContentId);
    Table history = WebCacheContainerTable(kHistoryId);
    Table cookieContainer = WebCacheContainerTable(kCookiesId);
    Table cookies = WebCacheCookieTable(kCookiesId);
    bool written = false;
};

WebCacheProfileWriter::WebCacheProfileWriter(fs::path profile, std::string user,
                                             std::vector<std::string> subFolders)
    : profile_(std::move(profile)), user_(std::move(user)), subFolders_(std::move(subFolders)),
      tables_(std::make_unique<Tables>()) {}

WebCacheProfileWriter::~WebCacheProfileWriter() = default;

void WebCacheProfileWriter::addContent(const urlcache_writer::Entry& entry) {
    if (entry.fileName && entry.fileContent && entry.subFolder < subFolders_.size()) {
        const fs::path folder =
            profile_ / kLocal / "INetCache" / "IE" / subFolders_[entry.subFolder];
        fs::create_directories(folder);
        std::ofstream out(folder / *entry.fileName, std::ios::binary);
        out.write(entry.fileContent->data(),
                  static_cast<std::streamsize>(entry.fileContent->size()));
        if (!out)
            throw std::runtime_error("cannot write " + (folder / *entry.fileName).string());
    }
    auto& rows = tables_->content.rows;
    rows.push_back(entryRow(static_cast<std::int64_t>(rows.size() + 1), kContentId, entry));
}

void WebCacheProfileWriter::addHistory(const urlcache_writer::Entry& entry) {
    auto& rows = tables_->history.rows;
    rows.push_back(entryRow(static_cast<std::int64_t>(rows.size() + 1), kHistoryId, entry));
}

void WebCacheProfileWriter::addCookie(const std::string& host, const std::string& path,
                                      const std::string& name, const std::string& value,
                                      win::FILETIME modified, win::FILETIME expires) {
    auto& rows = tables_->cookies.rows;
    Row row;
    row["EntryId"] = Int64(static_cast<std::int64_t>(rows.size() + 1));
    row["Flags"] = UInt32(0x80201);
    row["Expires"] = Int64(valueOf(expires));
    row["LastModified"] = Int64(valueOf(modified));
    row["RDomain"] = Utf16(reversedDomain(host));
    row["Path"] = Utf16(path);
    row["Name"] = Bytes(name + '\0');
    row["Value"] = Bytes(value + '\0');
    rows.push_back(std::move(row));
}

void WebCacheProfileWriter::write() {
    if (tables_->written)
        throw std::logic_error("the WebCache profile was written already");
    tables_->written = true;
    const std::string local = "C:\\Users\\" + user_ + "\\AppData\\Local\\Microsoft\\Windows\\";
    std::string secure;
    for (const std::string& folder : subFolders_) {
        secure += folder;
        fs::create_directories(profile_ / kLocal / "INetCache" / "IE" / folder);
    }
    tables_->containers.rows = {
        containerRow(kContentId, "Content", local + "INetCache\\IE\\", secure),
        containerRow(kHistoryId, "History", local + "History\\History.IE5\\", ""),
        containerRow(kCookiesId, "Cookies", local + "INetCookies\\", ""),
    };
    const fs::path folder = profile_ / kLocal / "WebCache";
    fs::create_directories(folder);
    Write(folder / "WebCacheV01.dat", {tables_->containers, tables_->content, tables_->history,
                                       tables_->cookieContainer, tables_->cookies});
}

} // namespace make_profile

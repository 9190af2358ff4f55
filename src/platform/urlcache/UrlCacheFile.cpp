#include "platform/urlcache/UrlCacheFile.h"

#include "platform/TimeConversion.h"

#include <algorithm>
#include <new>

namespace platform::urlcache {

UrlCacheFile::UrlCacheFile(std::shared_ptr<const FileBytes> bytes, FileHeader header)
    : bytes_(std::move(bytes)), header_(std::move(header)) {}

std::optional<UrlCacheFile> UrlCacheFile::FromBytes(std::string_view bytes) {
    auto header = ParseHeader(ByteReader(bytes));
    if (!header)
        return std::nullopt;
    auto copy = std::make_shared<FileBytes>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), copy->data());
    copy->setSize(bytes.size());
    return UrlCacheFile(std::move(copy), std::move(*header));
}

std::optional<UrlCacheFile> UrlCacheFile::Load(const std::filesystem::path& path) {
    std::shared_ptr<const FileBytes> content;
    try {
        content = ReadContainerBytes(path);
    } catch (const std::bad_alloc&) {
        return std::nullopt; // too big to hold: skipped like any unreadable container
    }
    if (!content)
        return std::nullopt;
    auto header = ParseHeader(ByteReader(content->data(), content->size()));
    if (!header)
        return std::nullopt;
    return UrlCacheFile(std::move(content), std::move(*header));
}

EntryFolders::EntryFolders(const FileHeader& header, const std::string& containerFolder)
    : containerFolder_(containerFolder + '\\') {
    subFolders_.reserve(header.subFolders.size());
    for (const SubFolder& folder : header.subFolders)
        subFolders_.push_back(folder.name.empty() ? containerFolder_
                                                  : containerFolder_ + folder.name + '\\');
}

IndexDatContainer::IndexDatContainer(UrlCacheFile file, ContainerLocation location)
    : file_(std::move(file)), location_(std::move(location)),
      folders_(file_.header(), location_.windowsFolder), walker_(file_.walk()) {}

std::optional<CacheEntry> IndexDatContainer::nextEntry() {
    while (auto span = walker_.nextUrlRecord()) {
        if (auto record = ParseUrlRecord(file_.reader(), span->offset, span->limit))
            return entryOf(*record);
    }
    return std::nullopt;
}

CacheEntry IndexDatContainer::entryOf(const UrlRecord& record) const {
    CacheEntry entry;
    entry.url = record.url;
    entry.fileFolder = folders_.folderOf(record.subFolderIndex);
    entry.fileName = record.fileName;
    entry.headerInfo = record.headerInfo;
    entry.headerInfoSize = record.headerInfoSize;
    entry.extension = record.extension;
    entry.entryType = record.entryType;
    entry.useCount = record.useCount;
    entry.hitRate = record.hitRate;
    entry.exemptDelta = record.exemptDelta;
    entry.size = record.size;
    entry.lastModified = record.lastModified;
    entry.expireTime = FileTimeFromDosDateTime(record.expireDosDateTime);
    entry.lastAccess = record.lastAccess;
    entry.lastSync = FileTimeFromDosDateTime(record.lastSyncDosDateTime);
    return entry;
}

} // namespace platform::urlcache

#pragma once
// One index.dat container in memory, and the container interface over it.

#include "platform/urlcache/Container.h"
#include "platform/urlcache/ContainerBytes.h"
#include "platform/urlcache/IndexDatFormat.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::urlcache {

// A whole container's bytes and its parsed header. The bytes never change and are shared by
// every copy, so the views a record hands out stay valid as long as any copy lives.
class UrlCacheFile {
public:
    // Reads the file read-only (no locks, no access-time update where the host allows). Nullopt
    // for anything that is not a readable regular file holding a valid header.
    static std::optional<UrlCacheFile> Load(const std::filesystem::path& path);
    static std::optional<UrlCacheFile> FromBytes(std::string_view bytes);

    ByteReader reader() const { return ByteReader(bytes_->data(), bytes_->size()); }
    const FileHeader& header() const { return header_; }
    HashChainWalker walk() const { return HashChainWalker(reader(), header_.firstHashTable); }

private:
    UrlCacheFile(std::shared_ptr<const FileBytes> bytes, FileHeader header);

    std::shared_ptr<const FileBytes> bytes_;
    FileHeader header_;
};

// The Windows-form folders of one container's files, each with its trailing '\': the container
// folder, and each sub-folder of its table. Built once per container.
class EntryFolders {
public:
    EntryFolders(const FileHeader& header, const std::string& containerFolder);
    // The sub-folder of that index; the container folder for 0xFE, 0xFF, any index past the
    // table, and a table entry without a name.
    const std::string& folderOf(std::uint8_t index) const {
        return index < subFolders_.size() ? subFolders_[index] : containerFolder_;
    }

private:
    std::string containerFolder_;
    std::vector<std::string> subFolders_;
};

// An index.dat container: its URL records in hash-chain order.
class IndexDatContainer final : public Container {
public:
    IndexDatContainer(UrlCacheFile file, ContainerLocation location);

    const ContainerLocation& location() const override { return location_; }
    std::optional<CacheEntry> nextEntry() override;

private:
    CacheEntry entryOf(const UrlRecord& record) const;

    UrlCacheFile file_;
    ContainerLocation location_;
    EntryFolders folders_;
    HashChainWalker walker_;
};

} // namespace platform::urlcache

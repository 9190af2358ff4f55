#pragma once
// One index.dat container in memory: its bytes, read once, and its parsed header.

#include "platform/urlcache/ContainerBytes.h"
#include "platform/urlcache/IndexDatFormat.h"

#include <filesystem>
#include <optional>
#include <string_view>

namespace platform::urlcache {

// A whole container read into memory once. The bytes never change afterwards, so the views a
// record hands out stay valid as long as the object (moves included).
class UrlCacheFile {
public:
    // Reads the file read-only (no locks, no access-time update where the host allows). Nullopt
    // for anything that is not a readable regular file holding a valid header.
    static std::optional<UrlCacheFile> Load(const std::filesystem::path& path);
    static std::optional<UrlCacheFile> FromBytes(std::string_view bytes);

    ByteReader reader() const { return ByteReader(bytes_.data(), bytes_.size()); }
    const FileHeader& header() const { return header_; }
    HashChainWalker walk() const { return HashChainWalker(reader(), header_.firstHashTable); }

private:
    UrlCacheFile(FileBytes bytes, FileHeader header);

    FileBytes bytes_;
    FileHeader header_;
};

} // namespace platform::urlcache

#include "platform/urlcache/UrlCacheFile.h"

#include <algorithm>
#include <new>

namespace platform::urlcache {

UrlCacheFile::UrlCacheFile(FileBytes bytes, FileHeader header)
    : bytes_(std::move(bytes)), header_(std::move(header)) {}

std::optional<UrlCacheFile> UrlCacheFile::FromBytes(std::string_view bytes) {
    auto header = ParseHeader(ByteReader(bytes));
    if (!header)
        return std::nullopt;
    FileBytes copy(bytes.size());
    std::copy(bytes.begin(), bytes.end(), copy.data());
    copy.setSize(bytes.size());
    return UrlCacheFile(std::move(copy), std::move(*header));
}

std::optional<UrlCacheFile> UrlCacheFile::Load(const std::filesystem::path& path) {
    std::optional<FileBytes> content;
    try {
        content = ReadWholeFileReadOnly(path);
    } catch (const std::bad_alloc&) {
        return std::nullopt; // too big to hold: skipped like any unreadable container
    }
    if (!content)
        return std::nullopt;
    auto header = ParseHeader(ByteReader(content->data(), content->size()));
    if (!header)
        return std::nullopt;
    return UrlCacheFile(std::move(*content), std::move(*header));
}

} // namespace platform::urlcache

#pragma once
// Short ways to describe the records a test profile gets from the URL cache writer.

#include "urlcache-writer/UrlCacheWriter.h"

#include <optional>
#include <string>
#include <utility>

namespace zz_test {

// A record with a URL, and optionally a file name and the file's bytes.
inline urlcache_writer::Entry MakeEntry(std::string url,
                                        std::optional<std::string> fileName = std::nullopt,
                                        std::optional<std::string> content = std::nullopt) {
    urlcache_writer::Entry entry;
    entry.url = std::move(url);
    entry.fileName = std::move(fileName);
    entry.fileContent = std::move(content);
    return entry;
}

} // namespace zz_test

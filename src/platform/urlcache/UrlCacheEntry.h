#pragma once
// Turning a URL record into the entry structure that the cache calls hand out: the structure,
// then its strings in the same block. Shared by the calls and by checks that work on container
// images in memory (tests, fuzzing).

#include "platform/WinTypes.h"
#include "platform/urlcache/UrlCacheFile.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace platform::urlcache {

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

// The bytes the structure and its strings need.
std::size_t EntrySize(const UrlRecord& record, const EntryFolders& folders);

// Fills `entry` and the EntrySize() - sizeof(*entry) bytes right after it.
void FillEntry(const UrlRecord& record, const EntryFolders& folders,
               win::INTERNET_CACHE_ENTRY_INFOA* entry);

// Every entry of a container whose type shares a bit with `filter`, in the calls' order, each
// filled into a block of exactly its size. Returns how many there were.
std::size_t ForEachEntry(
    const UrlCacheFile& file, const std::string& containerFolder, win::DWORD filter,
    const std::function<void(const win::INTERNET_CACHE_ENTRY_INFOA&, std::size_t size)>& visit);

} // namespace platform::urlcache

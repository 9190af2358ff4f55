#pragma once
// Containers that a search passed over on purpose (too large to hold, or past the number of
// periodic history containers read), so that the tools and the window can say what is missing
// from what they show. A container is noted once until the notes are taken, however often it is
// searched meanwhile.

#include <filesystem>
#include <string>
#include <vector>

namespace platform::urlcache {

struct SkippedContainer {
    std::filesystem::path indexFile;
    std::string reason; // a short phrase: "is 5368709120 bytes, over the 536870912 read"
};

void NoteSkippedContainer(const std::filesystem::path& indexFile, std::string reason);

// Every container noted since the last call, in the order they were first skipped; the notes
// are emptied.
std::vector<SkippedContainer> TakeSkippedContainers();

} // namespace platform::urlcache

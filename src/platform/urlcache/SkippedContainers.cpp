#include "platform/urlcache/SkippedContainers.h"

#include <algorithm>
#include <mutex>
#include <utility>

namespace platform::urlcache {

namespace {

std::mutex notesMutex;
std::vector<SkippedContainer> notes;

} // namespace

void NoteSkippedContainer(const std::filesystem::path& indexFile, std::string reason) {
    std::lock_guard lock(notesMutex);
    const bool known = std::any_of(notes.begin(), notes.end(), [&](const SkippedContainer& note) {
        return note.indexFile == indexFile;
    });
    if (!known)
        notes.push_back({indexFile, std::move(reason)});
}

std::vector<SkippedContainer> TakeSkippedContainers() {
    std::lock_guard lock(notesMutex);
    return std::exchange(notes, {});
}

} // namespace platform::urlcache

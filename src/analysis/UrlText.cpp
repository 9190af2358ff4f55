#include "analysis/UrlText.h"

#include "platform/AsciiCase.h"

#include <algorithm>
#include <cstring>

void TUrlText::StartBlock(std::size_t atLeast) {
    TBlock block;
    block.Capacity = std::max(kBlockBytes, atLeast);
    block.Bytes = std::make_unique_for_overwrite<char[]>(block.Capacity);
    block.FirstEntry = FCount;
    FBlocks.push_back(std::move(block));
}

std::string_view TUrlText::Add(std::string_view url) {
    const std::size_t needed = url.size() + 1;
    // A block is never larger than one entry's URL or kBlockBytes, so 32-bit offsets will do.
    if (FBlocks.empty() || FBlocks.back().Capacity - FBlocks.back().Used < needed)
        StartBlock(needed);
    TBlock& block = FBlocks.back();
    char* const start = block.Bytes.get() + block.Used;
    std::transform(url.begin(), url.end(), start, platform::AsciiFold);
    start[url.size()] = '\0';
    block.Starts.push_back(static_cast<std::uint32_t>(block.Used));
    block.Used += needed;
    ++FCount;
    return {start, url.size()};
}

void TUrlText::Clear() {
    FBlocks.clear();
    FCount = 0;
}

const char* TUrlText::Search(const char* from, const char* end, std::string_view site) {
    if (from >= end)
        return nullptr;
    // glibc's memmem skips ahead by a hash of byte pairs: far fewer looks than one per byte.
    return static_cast<const char*>(
        ::memmem(from, static_cast<std::size_t>(end - from), site.data(), site.size()));
}

std::size_t TUrlText::EntryAt(const TBlock& block, std::size_t from, std::size_t offset) {
    const auto first = block.Starts.begin() + static_cast<std::ptrdiff_t>(from);
    const auto after = std::upper_bound(first, block.Starts.end(), offset);
    return static_cast<std::size_t>(after - block.Starts.begin()) - 1;
}

#pragma once
// The A-to-Z lower-cased URLs of one category list, laid end to end in large blocks, each
// followed by a NUL. A per-site query then searches one long text per block instead of
// visiting a million small strings spread over the heap, and finds the entries of a rare site
// at the speed of a memory scan.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TUrlText {
public:
    // Large enough that a block holds thousands of URLs, small enough that a few of them are no
    // burden for a small cache.
    static constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

    // Appends the lower-cased URL as the next entry; the view stays valid until Clear().
    std::string_view Add(std::string_view url);
    void Clear();
    std::size_t Count() const { return FCount; }

    // Calls found(index) once for every entry, in order, whose URL holds `site` (every entry for
    // an empty site).
    template <typename Found> void ForEachHolding(std::string_view site, Found&& found) const {
        if (site.empty()) {
            for (std::size_t i = 0; i < FCount; ++i)
                found(i);
            return;
        }
        for (const TBlock& block : FBlocks)
            ForEachInBlock(block, site, found);
    }

private:
    struct TBlock {
        std::unique_ptr<char[]> Bytes;
        std::size_t Capacity = 0;
        std::size_t Used = 0;
        std::size_t FirstEntry = 0;
        std::vector<std::uint32_t> Starts; // of each entry's URL in Bytes
    };

    // Bounded by where the next URL starts, not by a NUL: a URL may hold one.
    static std::string_view UrlOf(const TBlock& block, std::size_t entry) {
        const std::size_t start = block.Starts[entry];
        const std::size_t after =
            entry + 1 < block.Starts.size() ? block.Starts[entry + 1] : block.Used;
        return {block.Bytes.get() + start, after - 1 - start};
    }
    static const char* Search(const char* from, const char* end, std::string_view site);
    // Which entry of the block holds the byte at `offset`: the last one starting at or before it.
    static std::size_t EntryAt(const TBlock& block, std::size_t from, std::size_t offset);

    template <typename Found>
    static void ForEachInBlock(const TBlock& block, std::string_view site, Found& found) {
        const char* const text = block.Bytes.get();
        const char* const end = text + block.Used;
        const bool mayCrossEntries = site.find('\0') != std::string_view::npos;
        std::size_t entry = 0;
        const char* from = text;
        while (entry < block.Starts.size()) {
            if (mayCrossEntries) {
                // A NUL in the site could match across the separators: test each URL alone.
                if (UrlOf(block, entry).find(site) != std::string_view::npos)
                    found(block.FirstEntry + entry);
                ++entry;
                continue;
            }
            const char* hit = Search(from, end, site);
            if (hit == nullptr)
                return;
            entry = EntryAt(block, entry, static_cast<std::size_t>(hit - text));
            found(block.FirstEntry + entry);
            ++entry;
            if (entry < block.Starts.size())
                from = text + block.Starts[entry];
        }
    }

    void StartBlock(std::size_t atLeast);

    std::vector<TBlock> FBlocks;
    std::size_t FCount = 0;
};

#pragma once
// One page of an ESE database and the entries of its tree, for the reader's own use.

#include "platform/ByteReader.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform::ese {

// Page flags.
inline constexpr std::uint32_t kPageRoot = 0x1;
inline constexpr std::uint32_t kPageLeaf = 0x2;
inline constexpr std::uint32_t kPageParent = 0x4;
inline constexpr std::uint32_t kPageEmpty = 0x8;
inline constexpr std::uint32_t kPageSpaceTree = 0x20;
inline constexpr std::uint32_t kPageIndex = 0x40;
inline constexpr std::uint32_t kPageLongValue = 0x80;

// Flags of one page tag.
inline constexpr std::uint16_t kTagDefunct = 0x2; // a deleted entry, still on the page
inline constexpr std::uint16_t kTagCommonKey = 0x4;

struct PageEntry {
    std::uint16_t flags = 0;
    std::string_view prefix; // the part of the key shared with the page's common key
    std::string_view local;  // the rest of the key
    std::string_view data;
    std::string key() const { return std::string(prefix) + std::string(local); }
};

class Page {
public:
    static std::optional<Page> parse(ByteReader data, bool large);

    std::uint32_t flags() const { return flags_; }
    std::uint32_t fatherObject() const { return fatherObject_; }
    std::uint32_t nextPage() const { return nextPage_; }
    bool isLeaf() const { return (flags_ & kPageLeaf) != 0; }
    // Tags of the page; tag 0 holds the common key (or the root's own header), entries are 1...
    std::uint16_t tagCount() const { return tagCount_; }
    // Entry `index` (>= 1); nullopt when its tag or its key runs past the page.
    std::optional<PageEntry> entry(std::uint16_t index) const;

private:
    struct Tag {
        std::string_view value;
        std::uint16_t flags;
    };
    std::optional<Tag> tag(std::uint16_t index) const;

    ByteReader data_;
    bool large_ = false;
    std::uint32_t headerSize_ = 0;
    std::uint32_t flags_ = 0;
    std::uint32_t fatherObject_ = 0;
    std::uint32_t nextPage_ = 0;
    std::uint16_t tagCount_ = 0;
};

} // namespace platform::ese

#include "platform/ese/EsePage.h"

namespace platform::ese {

namespace {

constexpr std::uint32_t kSmallHeaderSize = 40;
constexpr std::uint32_t kLargeHeaderSize = 80;
constexpr std::uint32_t kTagSize = 4;

} // namespace

std::optional<Page> Page::parse(ByteReader data, bool large) {
    Page page;
    page.data_ = data;
    page.large_ = large;
    page.headerSize_ = large ? kLargeHeaderSize : kSmallHeaderSize;
    const auto next = data.u32(20);
    const auto father = data.u32(24);
    const auto tags = data.u16(34);
    const auto flags = data.u32(36);
    if (!next || !father || !tags || !flags)
        return std::nullopt;
    // The tag array grows down from the page's end; it may not reach into the header.
    if (std::uint64_t{*tags} * kTagSize + page.headerSize_ > data.size())
        return std::nullopt;
    page.nextPage_ = *next;
    page.fatherObject_ = *father;
    page.tagCount_ = *tags;
    page.flags_ = *flags;
    return page;
}

std::optional<Page::Tag> Page::tag(std::uint16_t index) const {
    if (index >= tagCount_)
        return std::nullopt;
    const std::uint64_t at = data_.size() - kTagSize * (std::uint64_t{index} + 1);
    const auto size = data_.u16(at);
    const auto offset = data_.u16(at + 2);
    if (!size || !offset)
        return std::nullopt;
    // Small pages keep three flag bits in the tag; large pages need all 15 bits for offsets
    // and keep the flags in the top bits of the value's first word instead.
    const std::uint16_t mask = large_ ? 0x7FFF : 0x1FFF;
    const auto value = data_.bytes(std::uint64_t{headerSize_} + (*offset & mask), *size & mask);
    if (!value)
        return std::nullopt;
    std::uint16_t flags = static_cast<std::uint16_t>(*offset >> 13);
    if (large_) {
        const auto first = ByteReader(*value).u16(0);
        flags = first ? static_cast<std::uint16_t>(*first >> 13) : 0;
    }
    return Tag{*value, flags};
}

std::optional<PageEntry> Page::entry(std::uint16_t index) const {
    if (index == 0)
        return std::nullopt;
    const auto found = tag(index);
    if (!found)
        return std::nullopt;
    const ByteReader value(found->value);
    std::uint64_t at = 0;
    // In large pages the first word carries the tag flags in its top three bits.
    const auto word = [&](std::uint64_t offset) -> std::optional<std::uint16_t> {
        const auto raw = value.u16(offset);
        if (raw && offset == 0 && large_)
            return static_cast<std::uint16_t>(*raw & 0x1FFF);
        return raw;
    };
    PageEntry entry;
    entry.flags = found->flags;
    if (found->flags & kTagCommonKey) {
        const auto common = word(at);
        if (!common)
            return std::nullopt;
        at += 2;
        const auto header = tag(0);
        if (!header || *common > header->value.size())
            return std::nullopt;
        entry.prefix = header->value.substr(0, *common);
    }
    const auto localSize = word(at);
    if (!localSize)
        return std::nullopt;
    at += 2;
    const auto local = value.bytes(at, *localSize);
    if (!local)
        return std::nullopt;
    entry.local = *local;
    at += *localSize;
    entry.data = found->value.substr(static_cast<std::size_t>(at));
    return entry;
}

} // namespace platform::ese

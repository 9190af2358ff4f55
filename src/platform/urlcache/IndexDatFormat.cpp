#include "platform/urlcache/IndexDatFormat.h"

#include <algorithm>

namespace platform::urlcache {

namespace {

constexpr std::uint32_t kSignatureField = 28; // the signature with its NUL

std::optional<Signature> signatureOf(ByteReader file) {
    auto field = file.bytes(0, kSignatureField);
    if (!field || (*field)[kSignatureField - 1] != '\0')
        return std::nullopt;
    const std::string_view text = field->substr(0, kSignatureField - 1);
    if (text == kWindowsSignature)
        return Signature::Windows52;
    if (text == kWineSignature)
        return Signature::Wine;
    return std::nullopt;
}

std::string subFolderName(std::string_view raw) {
    const auto nul = raw.find('\0');
    return std::string(raw.substr(0, nul));
}

} // namespace

std::optional<FileHeader> ParseHeader(ByteReader file) {
    auto signature = signatureOf(file);
    auto subFolderCount = file.u32(kHeaderSubFolderCount);
    if (!signature || !subFolderCount)
        return std::nullopt;
    FileHeader header;
    header.signature = *signature;
    header.recordedFileSize = file.u32(kHeaderFileSize).value_or(0);
    header.firstHashTable = file.u32(kHeaderFirstHashTable).value_or(0);
    header.capacityBlocks = file.u32(kHeaderCapacityBlocks).value_or(0);
    header.blocksInUse = file.u32(kHeaderBlocksInUse).value_or(0);
    header.cacheLimit = file.u64(kHeaderCacheLimit).value_or(0);
    header.cacheUsage = file.u64(kHeaderCacheUsage).value_or(0);
    header.exemptUsage = file.u64(kHeaderExemptUsage).value_or(0);
    const std::uint32_t count = *subFolderCount < kMaxSubFolders ? *subFolderCount : kMaxSubFolders;
    header.subFolders.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t at = kHeaderSubFolders + std::uint64_t{i} * kSubFolderEntrySize;
        auto files = file.u32(at);
        auto name = file.bytes(at + 4, kSubFolderNameLength);
        if (!files || !name)
            return std::nullopt; // the header is cut inside its own table
        header.subFolders.push_back({subFolderName(*name), *files});
    }
    return header;
}

std::optional<UrlRecord> ParseUrlRecord(ByteReader file, std::uint64_t offset) {
    auto blocks = file.u32(offset + kRecordBlockCount);
    if (!blocks)
        return std::nullopt;
    const std::uint64_t claimed = std::uint64_t{*blocks == 0 ? 1 : *blocks} * kBlockSize;
    return ParseUrlRecord(file, offset, offset + claimed);
}

std::optional<UrlRecord> ParseUrlRecord(ByteReader file, std::uint64_t offset,
                                        std::uint64_t limit) {
    if (!file.matches(offset, kUrlSignature))
        return std::nullopt;
    limit = std::min<std::uint64_t>(limit, file.size());
    // The record's own bytes, offsets relative to its start: the fixed part, and the strings up
    // to the record's end.
    const std::uint64_t end = std::max<std::uint64_t>(limit, offset + kUrlFixedPart);
    auto fields = file.sub(offset, end - offset);
    if (!fields || !fields->contains(0, kUrlFixedPart))
        return std::nullopt;
    const ByteReader in = *fields;
    const std::uint64_t stringsEnd = limit > offset ? limit - offset : 0;
    auto u32 = [&in](std::uint32_t at) { return in.u32(at).value_or(0); };
    auto fileTime = [&u32](std::uint32_t at) { return win::FILETIME{u32(at), u32(at + 4)}; };
    auto string = [&](std::uint32_t offsetField) -> std::optional<std::string_view> {
        const std::uint32_t at = u32(offsetField);
        if (at == 0)
            return std::nullopt;
        return in.cString(at, stringsEnd);
    };

    UrlRecord record;
    record.offset = static_cast<std::uint32_t>(offset);
    record.lastModified = fileTime(kUrlLastModified);
    record.lastAccess = fileTime(kUrlLastAccess);
    record.expireDosDateTime = u32(kUrlExpire);
    record.size = in.u64(kUrlSize).value_or(0);
    record.exemptDelta = u32(kUrlExemptDelta);
    record.subFolderIndex = in.u8(kUrlSubFolder).value_or(0);
    record.entryType = u32(kUrlEntryType);
    record.lastSyncDosDateTime = u32(kUrlLastSync);
    record.hitRate = u32(kUrlHitRate);
    record.useCount = u32(kUrlUseCount);
    record.url = string(kUrlUrlOffset);
    record.fileName = string(kUrlFileNameOffset);
    record.extension = string(kUrlExtensionOffset);

    const std::uint32_t headerStart = u32(kUrlHeaderOffset);
    if (headerStart != 0 && headerStart < stringsEnd) {
        const std::uint64_t length =
            std::min<std::uint64_t>(u32(kUrlHeaderSize), stringsEnd - headerStart);
        record.headerInfo = in.bytes(headerStart, length);
        record.headerInfoSize = static_cast<std::uint32_t>(length);
    }
    return record;
}

namespace {
std::size_t blocksOf(ByteReader file) {
    return file.size() > kFirstRecordOffset ? (file.size() - kFirstRecordOffset) / kBlockSize + 1
                                            : 0;
}
} // namespace

HashChainWalker::HashChainWalker(ByteReader file, std::uint32_t firstTable)
    : file_(file), visitedTables_(blocksOf(file)), claimedBlocks_(blocksOf(file)) {
    if (!enterTable(firstTable))
        table_ = 0;
}

bool HashChainWalker::enterTable(std::uint64_t offset) {
    if (offset < kFirstRecordOffset || offset % kBlockSize != 0 ||
        !file_.contains(offset, kHashFirstSlot) || !file_.matches(offset, kHashSignature))
        return false;
    const std::size_t block = static_cast<std::size_t>((offset - kFirstRecordOffset) / kBlockSize);
    if (block >= visitedTables_.size() || visitedTables_[block])
        return false;
    visitedTables_[block] = true;

    const std::uint64_t blocks = *file_.u32(offset + kRecordBlockCount);
    const std::uint64_t end = std::min<std::uint64_t>(offset + blocks * kBlockSize, file_.size());
    const std::uint64_t slotBytes =
        end > offset + kHashFirstSlot ? end - offset - kHashFirstSlot : 0;
    table_ = offset;
    slot_ = offset + kHashFirstSlot;
    slotsEnd_ = slot_ + slotBytes / kHashSlotSize * kHashSlotSize;
    return true;
}

bool HashChainWalker::startsRecord(std::uint64_t offset) const {
    auto head = file_.bytes(offset, 4);
    if (!head)
        return false;
    for (std::string_view signature :
         {kUrlSignature, kHashSignature, kRedirectSignature, kLeakSignature}) {
        if (*head == signature)
            return true;
    }
    return false;
}

bool HashChainWalker::slotIsUrlRecord(std::uint32_t key, std::uint32_t target) const {
    if (key == kSlotKeyDeleted || key == kSlotKeyFree || key == target || key == kSlotFillBadFood ||
        key == kSlotFillDeadBeef)
        return false;
    if ((key & 0x0F) != 0)
        return false;
    return target >= kFirstRecordOffset && target % kBlockSize == 0 &&
           file_.matches(target, kUrlSignature);
}

std::optional<RecordSpan> HashChainWalker::claimRecord(std::uint32_t offset) {
    const std::size_t first = (offset - kFirstRecordOffset) / kBlockSize;
    if (first >= claimedBlocks_.size() || claimedBlocks_[first])
        return std::nullopt;
    // A record cut off before its block count still owns its first block.
    const std::uint32_t blocks = file_.u32(offset + kRecordBlockCount).value_or(1);
    const std::size_t wanted = blocks == 0 ? 1 : blocks;
    std::size_t end = first;
    // Marking stops at the first block already held, so every block is marked once per walk; it
    // also stops where another record begins, so that a record that claims too many blocks
    // cannot hide the ones after it.
    do {
        claimedBlocks_[end++] = true;
    } while (end - first < wanted && end < claimedBlocks_.size() && !claimedBlocks_[end] &&
             !startsRecord(kFirstRecordOffset + std::uint64_t{end} * kBlockSize));
    const std::uint64_t limit = kFirstRecordOffset + std::uint64_t{end} * kBlockSize;
    return RecordSpan{offset, std::min<std::uint64_t>(limit, file_.size())};
}

std::optional<RecordSpan> HashChainWalker::nextUrlRecord() {
    while (table_ != 0) {
        while (slot_ < slotsEnd_) {
            const std::uint32_t key = *file_.u32(slot_);
            const std::uint32_t target = *file_.u32(slot_ + 4);
            slot_ += kHashSlotSize;
            if (!slotIsUrlRecord(key, target))
                continue;
            if (auto span = claimRecord(target))
                return span;
        }
        const std::uint32_t next = *file_.u32(table_ + kHashNextTable);
        if (next == 0 || !enterTable(next))
            table_ = 0;
    }
    return std::nullopt;
}

} // namespace platform::urlcache

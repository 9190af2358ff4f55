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

std::optional<std::string_view> recordString(ByteReader file, std::uint64_t record,
                                             std::uint32_t relative, std::uint64_t limit) {
    if (relative == 0)
        return std::nullopt;
    return file.cString(record + relative, limit);
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
    if (!file.contains(offset, kUrlFixedPart) || !file.matches(offset, kUrlSignature))
        return std::nullopt;
    limit = std::min<std::uint64_t>(limit, file.size());

    UrlRecord record;
    record.offset = static_cast<std::uint32_t>(offset);
    record.lastModified = {*file.u32(offset + kUrlLastModified),
                           *file.u32(offset + kUrlLastModified + 4)};
    record.lastAccess = {*file.u32(offset + kUrlLastAccess),
                         *file.u32(offset + kUrlLastAccess + 4)};
    record.expireDosDateTime = *file.u32(offset + kUrlExpire);
    record.size = *file.u64(offset + kUrlSize);
    record.exemptDelta = *file.u32(offset + kUrlExemptDelta);
    record.subFolderIndex = *file.u8(offset + kUrlSubFolder);
    record.entryType = *file.u32(offset + kUrlEntryType);
    record.lastSyncDosDateTime = *file.u32(offset + kUrlLastSync);
    record.hitRate = *file.u32(offset + kUrlHitRate);
    record.useCount = *file.u32(offset + kUrlUseCount);

    record.url = recordString(file, offset, *file.u32(offset + kUrlUrlOffset), limit);
    record.fileName = recordString(file, offset, *file.u32(offset + kUrlFileNameOffset), limit);
    record.extension = recordString(file, offset, *file.u32(offset + kUrlExtensionOffset), limit);

    const std::uint32_t headerOffset = *file.u32(offset + kUrlHeaderOffset);
    const std::uint64_t headerStart = offset + headerOffset;
    if (headerOffset != 0 && headerStart < limit) {
        const std::uint64_t stored = *file.u32(offset + kUrlHeaderSize);
        const std::uint64_t length = std::min(stored, limit - headerStart);
        record.headerInfo = file.bytes(headerStart, length);
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

#include "UrlCacheFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool isValidDosDate(int year, int month, int day) {
    static constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1)
        return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int limit = kDaysInMonth[month - 1] + (month == 2 && leap ? 1 : 0);
    return day <= limit;
}

// Days from 1 January 1601 to the given proleptic Gregorian date.
std::int64_t daysSince1601(int year, int month, int day) {
    // Shifting the year to start in March puts the leap day last.
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = y / 400;
    const int yearOfEra = y - era * 400;
    const int shiftedMonth = month > 2 ? month - 3 : month + 9;
    const int dayOfYear = (153 * shiftedMonth + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const std::int64_t daysSince0000March = std::int64_t{era} * 146097 + dayOfEra;
    // 1 January 1601 counted the same way.
    constexpr std::int64_t k1601 = 4 * 146097 + 0 * 365 + 306;
    return daysSince0000March - k1601;
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

// Days since 1601 of every DOS date word, or -1 for a word that is no date; built once, since
// every entry converts two of them.
const std::vector<std::int32_t>& dayOfDosDate() {
    static const std::vector<std::int32_t> table = [] {
        std::vector<std::int32_t> days(0x10000, -1);
        for (unsigned date = 0; date < days.size(); ++date) {
            const int year = 1980 + static_cast<int>(date >> 9);
            const int month = static_cast<int>((date >> 5) & 0x0F);
            const int day = static_cast<int>(date & 0x1F);
            if (isValidDosDate(year, month, day))
                days[date] = static_cast<std::int32_t>(daysSince1601(year, month, day));
        }
        return days;
    }();
    return table;
}

} // namespace

win::FILETIME FileTimeFromDosDateTime(std::uint32_t dosDateTime) {
    const std::int32_t days = dayOfDosDate()[dosDateTime & 0xFFFF];
    const unsigned time = dosDateTime >> 16;
    const unsigned hour = time >> 11;
    const unsigned minute = (time >> 5) & 0x3F;
    const unsigned second = (time & 0x1F) * 2;
    if (days < 0 || hour > 23 || minute > 59 || second > 59)
        return {};
    const std::uint64_t seconds =
        static_cast<std::uint64_t>(days) * 86400 + hour * 3600 + minute * 60 + second;
    const std::uint64_t ticks = seconds * 10'000'000;
    return {static_cast<win::DWORD>(ticks), static_cast<win::DWORD>(ticks >> 32)};
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

UrlCacheFile::UrlCacheFile(FileBytes bytes, FileHeader header)
    : bytes_(std::move(bytes)), header_(std::move(header)) {}

FileBytes::FileBytes(std::size_t capacity) {
    constexpr std::size_t kLargePage = std::size_t{2} << 20;
    void* block = nullptr;
    if (capacity >= kLargePage) {
        if (::posix_memalign(&block, kLargePage, capacity) != 0)
            block = nullptr;
        else
            ::madvise(block, capacity, MADV_HUGEPAGE); // a hint; refusal changes nothing
    } else {
        block = std::malloc(capacity == 0 ? 1 : capacity);
    }
    if (block == nullptr)
        throw std::bad_alloc();
    data_ = static_cast<unsigned char*>(block);
    capacity_ = capacity;
}

FileBytes::~FileBytes() {
    std::free(data_);
}

std::optional<UrlCacheFile> UrlCacheFile::FromBytes(std::string_view bytes) {
    auto header = ParseHeader(ByteReader(bytes));
    if (!header)
        return std::nullopt;
    FileBytes copy(bytes.size());
    std::copy(bytes.begin(), bytes.end(), copy.data());
    copy.setSize(bytes.size());
    return UrlCacheFile(std::move(copy), std::move(*header));
}

std::optional<UrlCacheFile> UrlCacheFile::Load(const std::filesystem::path& path) {
    std::optional<FileBytes> content;
    try {
        content = ReadWholeFileReadOnly(path);
    } catch (const std::bad_alloc&) {
        return std::nullopt; // too big to hold: skipped like any unreadable container
    }
    if (!content)
        return std::nullopt;
    auto header = ParseHeader(ByteReader(content->data(), content->size()));
    if (!header)
        return std::nullopt;
    return UrlCacheFile(std::move(*content), std::move(*header));
}

namespace {

int openReadOnly(const std::filesystem::path& path) {
    // O_NOATIME is refused for files the process does not own; fall back to a plain open.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOATIME | O_NONBLOCK);
    if (fd < 0 && errno == EPERM)
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    return fd;
}

constexpr std::uint64_t kMaxAddressableBytes = std::uint64_t{1} << 32;

// Checked before the whole file is read, so that a large file that is no container costs one
// small read, not its size in memory.
bool startsWithSignature(int fd) {
    char head[kWindowsSignature.size()] = {};
    static_assert(kWindowsSignature.size() == kWineSignature.size());
    if (::pread(fd, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head))
        return false;
    const std::string_view text(head, sizeof head);
    return text == kWindowsSignature || text == kWineSignature;
}

struct FileDescriptor {
    int fd;
    ~FileDescriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

std::optional<FileBytes> ReadWholeFileReadOnly(const std::filesystem::path& path) {
    FileDescriptor file{openReadOnly(path)};
    struct stat info {};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0)
        return std::nullopt;
    if (!startsWithSignature(file.fd))
        return std::nullopt;
    // Every offset in a container is 32-bit, so nothing past 4 GiB can be reached: a larger
    // (or sparse) file is read no further than that.
    const auto expected = static_cast<std::size_t>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(info.st_size), kMaxAddressableBytes));
    FileBytes bytes(expected);
    std::size_t have = 0;
    // A writer may shrink the file meanwhile: keep what could be read, never more than fstat said.
    while (have < expected) {
        const ssize_t got = ::read(file.fd, bytes.data() + have, expected - have);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        have += static_cast<std::size_t>(got);
    }
    bytes.setSize(have);
    return bytes;
}

} // namespace platform::urlcache

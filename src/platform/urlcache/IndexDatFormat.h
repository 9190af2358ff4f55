#pragma once
// The index.dat container format: its header, the walk of its hash-table chain and the decoding
// of its URL records. Everything is read through ByteReader, so a damaged or hostile file ends a
// walk or drops a field but is never read out of bounds.

#include "platform/ByteReader.h"
#include "platform/WinTypes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::urlcache {

constexpr std::string_view kWindowsSignature = "Client UrlCache MMF Ver 5.2";
constexpr std::string_view kWineSignature = "WINE URLCache Ver 0.2012001";

constexpr std::uint32_t kBlockSize = 128;
constexpr std::uint32_t kFirstRecordOffset = 0x4000;
constexpr std::uint32_t kHeaderFileSize = 28;
constexpr std::uint32_t kHeaderFirstHashTable = 32;
constexpr std::uint32_t kHeaderCapacityBlocks = 36;
constexpr std::uint32_t kHeaderBlocksInUse = 40;
constexpr std::uint32_t kHeaderCacheLimit = 48;
constexpr std::uint32_t kHeaderCacheUsage = 56;
constexpr std::uint32_t kHeaderExemptUsage = 64;
constexpr std::uint32_t kHeaderSubFolderCount = 72;
constexpr std::uint32_t kHeaderSubFolders = 76;
constexpr std::uint32_t kSubFolderEntrySize = 12;
constexpr std::uint32_t kSubFolderNameLength = 8;
constexpr std::uint32_t kMaxSubFolders = 32;

// Record signatures and the common record head (signature, block count).
constexpr std::string_view kHashSignature = "HASH";
constexpr std::string_view kUrlSignature = "URL ";
constexpr std::string_view kRedirectSignature = "REDR";
constexpr std::string_view kLeakSignature = "LEAK";
constexpr std::uint32_t kRecordBlockCount = 4;

// Hash table record.
constexpr std::uint32_t kHashNextTable = 8;
constexpr std::uint32_t kHashSequence = 12;
constexpr std::uint32_t kHashFirstSlot = 16;
constexpr std::uint32_t kHashSlotSize = 8;
constexpr std::uint32_t kSlotKeyDeleted = 1;
constexpr std::uint32_t kSlotKeyFree = 3;
constexpr std::uint32_t kSlotFillBadFood = 0x0BADF00D;
constexpr std::uint32_t kSlotFillDeadBeef = 0xDEADBEEF;

// URL record.
constexpr std::uint32_t kUrlLastModified = 8;
constexpr std::uint32_t kUrlLastAccess = 16;
constexpr std::uint32_t kUrlExpire = 24;
constexpr std::uint32_t kUrlSize = 32;
constexpr std::uint32_t kUrlExemptDelta = 44;
constexpr std::uint32_t kUrlUrlOffset = 52;
constexpr std::uint32_t kUrlSubFolder = 56;
constexpr std::uint32_t kUrlFileNameOffset = 60;
constexpr std::uint32_t kUrlEntryType = 64;
constexpr std::uint32_t kUrlHeaderOffset = 68;
constexpr std::uint32_t kUrlHeaderSize = 72;
constexpr std::uint32_t kUrlExtensionOffset = 76;
constexpr std::uint32_t kUrlLastSync = 80;
constexpr std::uint32_t kUrlHitRate = 84;
constexpr std::uint32_t kUrlUseCount = 88;
constexpr std::uint32_t kUrlFixedPart = 92; // bytes a record needs to hold every field above

enum class Signature { Windows52, Wine };

struct SubFolder {
    std::string name; // up to 8 bytes, cut at a NUL
    std::uint32_t fileCount = 0;
};

struct FileHeader {
    Signature signature = Signature::Windows52;
    std::uint32_t recordedFileSize = 0;
    std::uint32_t firstHashTable = 0;
    std::uint32_t capacityBlocks = 0;
    std::uint32_t blocksInUse = 0;
    std::uint64_t cacheLimit = 0;
    std::uint64_t cacheUsage = 0;
    std::uint64_t exemptUsage = 0;
    std::vector<SubFolder> subFolders; // at most kMaxSubFolders, only those inside the file
};

// A decoded URL record. The views point into the container's bytes; a field the record does not
// hold intact (no offset, past the record, no NUL inside the record) is nullopt.
struct UrlRecord {
    std::uint32_t offset = 0; // of the record in the file
    win::FILETIME lastModified;
    win::FILETIME lastAccess;
    std::uint32_t expireDosDateTime = 0; // DOS date in the low word, DOS time in the high word
    std::uint64_t size = 0;
    std::uint32_t exemptDelta = 0;
    std::uint8_t subFolderIndex = 0;
    std::uint32_t entryType = 0;
    std::uint32_t headerInfoSize = 0; // as stored, bounded to the bytes inside the record
    std::uint32_t lastSyncDosDateTime = 0;
    std::uint32_t hitRate = 0;
    std::uint32_t useCount = 0;
    std::optional<std::string_view> url;
    std::optional<std::string_view> fileName;
    std::optional<std::string_view> headerInfo; // headerInfoSize bytes, may hold NULs
    std::optional<std::string_view> extension;
};

// The header, or nullopt when the file is not a container (signature, or cut before the fields).
std::optional<FileHeader> ParseHeader(ByteReader file);

// The URL record at `offset`, or nullopt when no intact "URL " record head and fixed part lie
// there. Its strings must end before `limit` (an absolute offset, clipped to the file); without
// a limit, the end of the blocks the record claims.
std::optional<UrlRecord> ParseUrlRecord(ByteReader file, std::uint64_t offset, std::uint64_t limit);
std::optional<UrlRecord> ParseUrlRecord(ByteReader file, std::uint64_t offset);

// Where a record lies: its offset and the end of the bytes that belong to it.
struct RecordSpan {
    std::uint32_t offset = 0;
    std::uint64_t limit = 0;
};

// Walks the hash-table chain from the header's first table, in chain order and slot order, and
// yields each slot that points at a "URL " record. Ends cleanly at a table that is missing,
// misaligned, not "HASH", or already visited (a loop).
// Each block belongs to at most one yielded record: a record whose first block an earlier one
// already holds is passed over (a slot into another record, or a repeated slot), and a record
// ends where another record's blocks begin or a block starts with a record signature. So the bytes
// handed out over a whole walk never exceed the file's size, however the slots and block counts are
// forged. Memory: two bits per block.
class HashChainWalker {
public:
    HashChainWalker() = default;
    HashChainWalker(ByteReader file, std::uint32_t firstTable);

    std::optional<RecordSpan> nextUrlRecord();

private:
    bool enterTable(std::uint64_t offset);
    bool slotIsUrlRecord(std::uint32_t key, std::uint32_t target) const;
    std::optional<RecordSpan> claimRecord(std::uint32_t offset);
    bool startsRecord(std::uint64_t offset) const;

    ByteReader file_;
    std::vector<bool> visitedTables_;
    std::vector<bool> claimedBlocks_;
    std::uint64_t table_ = 0; // offset of the current table; 0 when the walk is over
    std::uint64_t slot_ = 0;  // offset of the next slot to read
    std::uint64_t slotsEnd_ = 0;
};

} // namespace platform::urlcache

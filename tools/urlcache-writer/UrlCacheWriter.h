#pragma once
// Writes Windows user-profile folders with valid index.dat containers and their cached files,
// for tests, demos and benchmarks. The reader never depends on this code.

#include "platform/WinTypes.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace urlcache_writer {

enum class Layout { Wine8, Vista, XP };
enum class Signature { Windows52, Wine };
enum class ContainerKind { Content, Cookies, History };

// Where a record's file lies: a cache sub-folder by index, or the container folder itself.
constexpr std::uint8_t kContainerFolder = 0xFE;

// How the writer lays out an index.dat, for tests that edit its bytes: the first hash table at
// kFirstHashTable, each table kHashTableBytes long with kSlotsPerHashTable slots (filled in the
// order the entries were added) and followed by the URL records it points at, each in whole
// 128-byte blocks; then the next table. The file is padded to a multiple of 32 KiB.
constexpr std::uint32_t kFirstHashTable = 0x4000;
constexpr std::uint32_t kHashTableBytes = 0x1000;
constexpr std::uint32_t kSlotsPerHashTable = (kHashTableBytes - 16) / 8;

struct Entry {
    std::string url;                        // stored as given (bytes), NUL added
    std::optional<std::string> fileName;    // name only; nullopt: the record has no file name
    std::uint8_t subFolder = 0;             // index into the container's sub-folder table
    std::optional<std::string> fileContent; // when set, the cached file is written with it
    std::uint32_t entryType = win::NORMAL_CACHE_ENTRY;
    std::uint64_t size = 0; // recorded size; defaults to the content's size when 0
    win::FILETIME lastModified{};
    win::FILETIME lastAccess{};
    std::uint32_t expireDosDateTime = 0; // DOS date in the low word, DOS time in the high word
    std::uint32_t lastSyncDosDateTime = 0;
    std::optional<std::string> headerInfo; // bytes, may hold NULs
    std::optional<std::string> extension;  // without the dot
    std::uint32_t useCount = 0;
    std::uint32_t hitRate = 0;
    std::uint32_t exemptDelta = 0;
};

struct ContainerOptions {
    Signature signature = Signature::Windows52;
    // Sub-folder names (8 characters each) of a content container; ignored for the others.
    std::vector<std::string> subFolders = {"Z989AIU1", "Q2W3E4R5"};
    bool lowIntegrity = false; // Vista layout only: the "Low" variant of the folder
};

class ProfileWriter {
public:
    ProfileWriter(std::filesystem::path profileFolder, Layout layout);
    ~ProfileWriter();
    ProfileWriter(const ProfileWriter&) = delete;
    ProfileWriter& operator=(const ProfileWriter&) = delete;

    // Adds an entry to the container of that kind (created on first use with the options).
    void add(ContainerKind kind, Entry entry, const ContainerOptions& options = {});
    // Makes the container exist even when it holds no entry.
    void touch(ContainerKind kind, const ContainerOptions& options = {});

    // Writes every container's index.dat and the cached files. May be called once.
    void write();

    // Where that container's index.dat is (or will be) on this host.
    std::filesystem::path indexPath(ContainerKind kind, bool lowIntegrity = false) const;
    // The Windows-form full path that the reader reports for a file of that container: below
    // C:\users\NAME for a profile folder at .../drive_c/users/NAME (read through a Wine prefix),
    // else below C:\Users\<folder name> (read through ZEZUVUR_PROFILE).
    std::string windowsFilePath(ContainerKind kind, const Entry& entry,
                                bool lowIntegrity = false) const;

private:
    struct Container;
    Container& containerFor(ContainerKind kind, const ContainerOptions& options);
    const Container* findContainer(ContainerKind kind, bool lowIntegrity) const;

    std::filesystem::path profile_;
    Layout layout_;
    std::vector<std::unique_ptr<Container>> containers_;
    bool written_ = false;
};

// The bytes of one index.dat holding `entries`, for tests that edit a file before writing it.
std::string BuildIndexFile(ContainerKind kind, const std::vector<Entry>& entries,
                           const ContainerOptions& options = {});

// FILETIME from a UTC calendar time, and the DOS date/time word pair.
win::FILETIME FileTimeFromUtc(int year, int month, int day, int hour = 0, int minute = 0,
                              int second = 0);
std::uint32_t DosDateTime(int year, int month, int day, int hour = 0, int minute = 0,
                          int second = 0);

} // namespace urlcache_writer

// Prints every URL cache entry that the cache calls deliver, one tab-separated line each:
// URL, local file, type, use count, hit rate, size low, size high, the four times, header size,
// extension, exempt delta. Strings are printed as stored, control characters escaped (see
// platform/TextEscape.h); a missing one prints as nothing. Containers skipped for their size or
// number are named on stderr.

#include "platform/LastError.h"
#include "platform/PathMapper.h"
#include "platform/ProgramInfo.h"
#include "platform/TextEscape.h"
#include "platform/urlcache/SkippedContainers.h"
#include "platform/urlcache/UrlCacheApi.h"
#include "platform/urlcache/WebCache.h"

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;

struct Options {
    std::optional<std::string> profile;
    std::optional<std::string> pattern; // none: every container
};

constexpr const char* kHelp =
    "usage: urlcache-dump [--profile DIR] [PATTERN]\n"
    "       urlcache-dump --help | --version\n"
    "\n"
    "Prints every entry of the URL cache of a Windows user profile, one line each, as the\n"
    "cache calls deliver them. The columns, tab-separated: URL, local file, entry type, use\n"
    "count, hit rate, size (low, high), last-modified, last-access, expiry and last-sync\n"
    "times, header size, file extension, exemption period. A missing text prints as nothing.\n"
    "The cache is only read.\n"
    "\n"
    "In the texts a control character (bytes 0x00-0x1F, 0x7F) is written \\xHH, and a\n"
    "backslash that would start such an escape (before a backslash, a control character or\n"
    "x and two hex digits) is written \\\\; every other byte is printed as stored. Containers\n"
    "over 512 MiB, and periodic history containers past the latest 64, are skipped and named\n"
    "on stderr.\n"
    "\n"
    "Arguments:\n"
    "  PATTERN        the search pattern: \"\" content, \"Cookie:\" cookies, \"Visited:\"\n"
    "                 history; none: every container\n"
    "\n"
    "Options:\n"
    "  --profile DIR  read the Windows user-profile folder DIR (default: ZEZUVUR_PROFILE,\n"
    "                 else the Wine prefix's user folder)\n"
    "  --help         print this help and exit\n"
    "  --version      print the version and exit\n"
    "\n"
    "Environment:\n"
    "  ZEZUVUR_PROFILE  the profile folder to read when --profile is not given\n"
    "  WINEPREFIX       the Wine prefix whose drive_c/users/$USER is read otherwise\n"
    "                   (default: ~/.wine)\n"
    "\n"
    "Exit status:\n"
    "  0  the entries were printed\n"
    "  1  the enumeration failed or the output could not be written\n"
    "  2  a bad argument, or no such profile folder\n";

void printUsage() {
    std::fputs(kHelp, stderr);
}

std::optional<Options> parseArguments(int argc, char** argv) {
    Options options;
    bool patternSeen = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--profile" && i + 1 < argc) {
            options.profile = argv[++i];
        } else if (argument.rfind("--profile=", 0) == 0) {
            options.profile = argument.substr(10);
        } else if (argument == "--help" || argument == "-h") {
            return std::nullopt;
        } else if (argument == "--") {
            if (i + 1 < argc && !patternSeen) {
                options.pattern = argv[++i];
                patternSeen = true;
            }
        } else if (!patternSeen && (argument.empty() || argument[0] != '-')) {
            options.pattern = argument;
            patternSeen = true;
        } else {
            return std::nullopt;
        }
    }
    if (options.profile && options.profile->empty())
        return std::nullopt;
    return options;
}

// Output through one large buffer that each line is formatted straight into; lines are never
// flushed one by one.
class Output {
public:
    Output() : buffer_(kFlushAt) {}
    ~Output() { flush(); }

    // Makes room for `bytes` more; the writers below then need no checks of their own.
    void reserve(std::size_t bytes) {
        if (used_ + bytes > buffer_.size()) {
            flush();
            if (bytes > buffer_.size())
                buffer_.resize(bytes);
        }
    }
    void text(const char* value) {
        if (value == nullptr)
            return;
        const std::string_view stored(value);
        if (!platform::NeedsEscaping(stored))
            return raw(stored);
        raw(platform::EscapeControlCharacters(stored));
    }
    void raw(std::string_view value) {
        reserve(value.size());
        std::memcpy(buffer_.data() + used_, value.data(), value.size());
        used_ += value.size();
    }
    void put(char c) { buffer_[used_++] = c; }
    void decimal(win::DWORD value) {
        char digits[10];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (count > 0)
            put(digits[--count]);
    }
    // `bytes` bytes of `value` as hexadecimal digits, most significant first.
    void hex(std::uint64_t value, int bytes) {
        static const auto kPairs = [] {
            std::array<char, 512> pairs{};
            constexpr char kDigits[] = "0123456789ABCDEF";
            for (int i = 0; i < 256; ++i) {
                pairs[2 * i] = kDigits[i >> 4];
                pairs[2 * i + 1] = kDigits[i & 0xF];
            }
            return pairs;
        }();
        char* at = buffer_.data() + used_ + 2 * bytes;
        for (int i = 0; i < bytes; ++i, value >>= 8) {
            at -= 2;
            std::memcpy(at, &kPairs[2 * (value & 0xFF)], 2);
        }
        used_ += 2 * static_cast<std::size_t>(bytes);
    }
    void fileTime(const win::FILETIME& time) {
        hex((std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime, 8);
    }
    bool flush() {
        const bool ok = std::fwrite(buffer_.data(), 1, used_, stdout) == used_;
        used_ = 0;
        return ok && std::fflush(stdout) == 0;
    }

private:
    static constexpr std::size_t kFlushAt = 1 << 20;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};

// Everything but the three strings takes at most this many bytes of a line.
constexpr std::size_t kFixedColumnsBytes = 8 + 5 * 10 + 4 * 16 + 10 + 14;

void printEntry(Output& out, const win::INTERNET_CACHE_ENTRY_INFOA& entry) {
    out.text(entry.lpszSourceUrlName);
    out.reserve(1);
    out.put('\t');
    out.text(entry.lpszLocalFileName);
    out.reserve(kFixedColumnsBytes);
    out.put('\t');
    out.hex(entry.CacheEntryType, 4);
    out.put('\t');
    out.decimal(entry.dwUseCount);
    out.put('\t');
    out.decimal(entry.dwHitRate);
    out.put('\t');
    out.decimal(entry.dwSizeLow);
    out.put('\t');
    out.decimal(entry.dwSizeHigh);
    for (const win::FILETIME* time :
         {&entry.LastModifiedTime, &entry.ExpireTime, &entry.LastAccessTime, &entry.LastSyncTime}) {
        out.put('\t');
        out.fileTime(*time);
    }
    out.put('\t');
    out.decimal(entry.dwHeaderInfoSize);
    out.put('\t');
    out.text(entry.lpszFileExtension);
    out.reserve(12);
    out.put('\t');
    out.decimal(entry.dwExemptDelta);
    out.put('\n');
}

// One fetch under the size protocol: the buffer grows when the cache asks for more.
class EntryBuffer {
public:
    win::INTERNET_CACHE_ENTRY_INFOA* data() {
        return reinterpret_cast<win::INTERNET_CACHE_ENTRY_INFOA*>(storage_.data());
    }
    win::DWORD* size() {
        size_ = static_cast<win::DWORD>(storage_.size() * sizeof(Slot));
        return &size_;
    }
    void growTo(win::DWORD bytes) { storage_.resize((bytes + sizeof(Slot) - 1) / sizeof(Slot)); }

private:
    using Slot = std::max_align_t; // keeps the structure's pointers aligned
    std::vector<Slot> storage_ = std::vector<Slot>(64);
    win::DWORD size_ = 0;
};

// Returns the error that ended the enumeration (ERROR_NO_MORE_ITEMS when it simply ended).
win::DWORD dumpEntries(const char* pattern, Output& out) {
    constexpr win::DWORD kEveryType = 0xFFFFFFFF;
    EntryBuffer buffer;
    win::HANDLE search = nullptr;
    for (;;) {
        search = win::FindFirstUrlCacheEntryExA(pattern, 0, kEveryType, 0, buffer.data(),
                                                buffer.size(), nullptr, nullptr, nullptr);
        if (search != nullptr || win::GetLastError() != win::ERROR_INSUFFICIENT_BUFFER)
            break;
        buffer.growTo(*buffer.size());
    }
    if (search == nullptr)
        return win::GetLastError();
    printEntry(out, *buffer.data());
    win::DWORD result = win::ERROR_NO_MORE_ITEMS;
    for (;;) {
        win::DWORD* size = buffer.size();
        if (win::FindNextUrlCacheEntryExA(search, buffer.data(), size, nullptr, nullptr, nullptr)) {
            printEntry(out, *buffer.data());
            continue;
        }
        if (win::GetLastError() == win::ERROR_INSUFFICIENT_BUFFER) {
            buffer.growTo(*size);
            continue;
        }
        result = win::GetLastError();
        break;
    }
    win::FindCloseUrlCache(search);
    return result;
}

// What stdout cannot show: a WebCache database that was not shut down cleanly (its newest
// changes may be only in its logs), or parts of it that could not be read.
void reportDatabases(const platform::ProfileRoot& profile) {
    for (const auto& file : platform::urlcache::FindWebCacheFiles(profile)) {
        const auto contents = platform::urlcache::ReadWebCache(file);
        if (!contents)
            continue;
        if (!contents->opened) {
            std::fprintf(stderr, "urlcache-dump: %s: not readable (%s)\n", file.c_str(),
                         contents->error.c_str());
            continue;
        }
        if (contents->dirty)
            std::fprintf(stderr,
                         "urlcache-dump: %s: dirty (not shut down cleanly), read as it is\n",
                         file.c_str());
        const auto& skipped = contents->skipped;
        if (skipped.total() != 0)
            std::fprintf(stderr,
                         "urlcache-dump: %s: could not read %llu pages, %llu rows, %llu values, "
                         "%llu catalog entries; %llu walks cut short\n",
                         file.c_str(), static_cast<unsigned long long>(skipped.pages),
                         static_cast<unsigned long long>(skipped.rows),
                         static_cast<unsigned long long>(skipped.values),
                         static_cast<unsigned long long>(skipped.catalogEntries),
                         static_cast<unsigned long long>(skipped.loops));
    }
}

} // namespace

int main(int argc, char** argv) {
    if (auto answered = platform::AnswerHelpOrVersion(argc, argv, "urlcache-dump", kHelp))
        return *answered;
    auto options = parseArguments(argc, argv);
    if (!options) {
        printUsage();
        return kExitUsage;
    }
    if (options->profile)
        ::setenv("ZEZUVUR_PROFILE", options->profile->c_str(), 1);

    const platform::ProfileRoot profile = platform::CurrentProfile();
    std::error_code error;
    if (!std::filesystem::is_directory(profile.hostFolder, error)) {
        std::fprintf(stderr, "urlcache-dump: no profile folder at %s\n",
                     profile.hostFolder.c_str());
        return kExitUsage;
    }

    reportDatabases(profile);
    Output out;
    const win::DWORD ended =
        dumpEntries(options->pattern ? options->pattern->c_str() : nullptr, out);
    if (!out.flush()) {
        std::fputs("urlcache-dump: cannot write the output\n", stderr);
        return kExitFailure;
    }
    for (const auto& skipped : platform::urlcache::TakeSkippedContainers())
        std::fprintf(stderr, "urlcache-dump: skipped %s: it %s\n",
                     platform::EscapeControlCharacters(skipped.indexFile.string()).c_str(),
                     skipped.reason.c_str());
    // No container for the pattern is an empty cache as far as a listing goes.
    if (ended != win::ERROR_NO_MORE_ITEMS && ended != win::ERROR_FILE_NOT_FOUND) {
        std::fprintf(stderr, "urlcache-dump: the enumeration failed with error %u\n", ended);
        return kExitFailure;
    }
    return 0;
}

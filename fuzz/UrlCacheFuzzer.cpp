// Feeds arbitrary bytes as the index.dat files of a profile to the URL cache calls and walks
// every search to its end the way the enumerator does: size query, fetch into a block of exactly
// that size, next, close. Any read outside the file or the block, any undefined behaviour, a
// search left open or an entry that points outside its block stops the run. Then the program's
// start-up work runs over the same cache (snapshot, site list, the six queries of some sites),
// with a code page the input picks, so that hostile names also meet the text services.

#include "EntryChecks.h"
#include "UrlCacheInput.h"
#include "platform/AsciiCase.h"

#include "analysis/CacheAnalyzer.h"
#include "platform/CodePage.h"
#include "platform/LastError.h"
#include "platform/urlcache/UrlCacheApi.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace {

namespace fs = std::filesystem;

// A profile folder made once per run and removed at a normal exit.
struct Profile {
    fs::path base;
    fs::path folder;
    std::array<fs::path, zz_fuzz::kContainerFolders.size()> indexFiles;

    Profile() {
        std::string pattern = (fs::temp_directory_path() / "zz-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        base = pattern;
        folder = base / "fuzz";
        for (std::size_t i = 0; i < indexFiles.size(); ++i) {
            const fs::path container = folder / zz_fuzz::kContainerFolders[i];
            fs::create_directories(container);
            indexFiles[i] = container / "index.dat";
        }
        ::setenv("ZEZUVUR_PROFILE", folder.c_str(), 1);
    }
    ~Profile() {
        std::error_code ignored;
        fs::remove_all(base, ignored);
    }
};

const Profile& TheProfile() {
    static const Profile profile;
    return profile;
}

using zz_fuzz::Check;
using zz_fuzz::CheckEntry;

// One fetch: the size query, then the fetch into a block of exactly the size asked for.
template <typename Call> bool Fetch(Call call) {
    win::DWORD size = 0;
    if (call(nullptr, &size))
        __builtin_trap(); // a fetch without a block cannot succeed
    if (win::GetLastError() != win::ERROR_INSUFFICIENT_BUFFER)
        return false;
    Check(size >= sizeof(win::INTERNET_CACHE_ENTRY_INFOA));
    auto block = std::make_unique<unsigned char[]>(size);
    win::DWORD given = size;
    if (!call(reinterpret_cast<win::INTERNET_CACHE_ENTRY_INFOA*>(block.get()), &given))
        return false;
    Check(given == size);
    CheckEntry(block.get(), size);
    return true;
}

void EnumerateAll(const char* pattern) {
    win::HANDLE search = nullptr;
    const bool first = Fetch([&](win::INTERNET_CACHE_ENTRY_INFOA* entry, win::DWORD* size) {
        search = win::FindFirstUrlCacheEntryExA(pattern, 0, 0xFFFFFFFF, 0, entry, size, nullptr,
                                                nullptr, nullptr);
        return search != nullptr;
    });
    if (!first) {
        Check(search == nullptr);
        return;
    }
    while (Fetch([&](win::INTERNET_CACHE_ENTRY_INFOA* entry, win::DWORD* size) {
        return win::FindNextUrlCacheEntryExA(search, entry, size, nullptr, nullptr, nullptr) != 0;
    })) {
    }
    Check(win::FindCloseUrlCache(search) != 0);
}

// Single-byte and double-byte code pages alike; the input's last byte picks one.
void UseCodePageFor(std::string_view input) {
    static constexpr win::UINT kCodePages[] = {1252, 932, 936, 949, 950, 1251, 1254, 874};
    static win::UINT current = 0;
    const win::UINT wanted =
        input.empty()
            ? kCodePages[0]
            : kCodePages[static_cast<unsigned char>(input.back()) % std::size(kCodePages)];
    if (wanted != current)
        platform::SetAnsiCodePageForTesting(wanted);
    current = wanted;
}

void RunStartUpWork() {
    constexpr std::size_t kSitesQueried = 16;
    TCacheAnalyzer analyzer;
    const std::vector<std::string> sites = SplitLines(analyzer.GetSiteList());
    analyzer.Analyze();
    for (std::size_t i = 0; i < sites.size() && i < kSitesQueried; ++i) {
        const std::string site = platform::AsciiLowerCase(sites[i]);
        for (const std::string& lines :
             {analyzer.GetSitePages(site), analyzer.GetSiteImages(site),
              analyzer.GetSiteOther(site), analyzer.GetSiteMedia(site),
              analyzer.GetSiteCookies(site), analyzer.GetSiteHistory(site)}) {
            for (const std::string& line : SplitLines(lines))
                platform::AnsiToUtf16(line);
        }
    }
}

void WriteFile(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Profile& profile = TheProfile();
    const auto parts =
        zz_fuzz::SplitParts(std::string_view(reinterpret_cast<const char*>(data), size));
    for (std::size_t i = 0; i < profile.indexFiles.size(); ++i)
        WriteFile(profile.indexFiles[i],
                  zz_fuzz::ExpandPart(i < parts.size() ? parts[i] : std::string_view()));
    for (const char* pattern : {static_cast<const char*>(nullptr), "", "Cookie:", "Visited:"})
        EnumerateAll(pattern);
    Check(platform::OpenUrlCacheSearchCount() == 0);
    UseCodePageFor(std::string_view(reinterpret_cast<const char*>(data), size));
    RunStartUpWork();
    Check(platform::OpenUrlCacheSearchCount() == 0);
    return 0;
}

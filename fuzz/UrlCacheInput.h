#pragma once
// How one fuzz input stands for the index.dat files of a profile: the bytes of up to four
// containers (content, cookies, history, one periodic history container), separated by
// kPartSeparator. A missing part leaves that container's file empty.
// No reader looks at the allocation bitmap, so a part leaves it out: the bytes from the bitmap's
// offset on are the file's bytes from the first record on, and the file gets zeros in between.
// That keeps inputs small, and the fuzzer's work on bytes that are read.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zz_fuzz {

inline constexpr std::string_view kPartSeparator{"\0\0ZZ-NEXT-INDEX\0\0", 18};

// Relative to the profile folder (the Windows 2000/XP layout).
inline constexpr std::array<const char*, 4> kContainerFolders = {
    "Local Settings/Temporary Internet Files/Content.IE5",
    "Cookies",
    "Local Settings/History/History.IE5",
    "Local Settings/History/History.IE5/MSHist012009010120090108",
};

inline constexpr std::size_t kBitmapStart = 0x250;
inline constexpr std::size_t kRecordsStart = 0x4000;

// The index.dat a part stands for.
inline std::string ExpandPart(std::string_view part) {
    std::string file(part.substr(0, kBitmapStart));
    if (part.size() > kBitmapStart) {
        file.resize(kRecordsStart, '\0');
        file.append(part.substr(kBitmapStart));
    }
    return file;
}

// The part that stands for an index.dat.
inline std::string CompactFile(std::string_view file) {
    std::string part(file.substr(0, kBitmapStart));
    if (file.size() > kRecordsStart)
        part.append(file.substr(kRecordsStart));
    return part;
}

inline std::vector<std::string_view> SplitParts(std::string_view input) {
    std::vector<std::string_view> parts;
    while (parts.size() + 1 < kContainerFolders.size()) {
        const std::size_t at = input.find(kPartSeparator);
        if (at == std::string_view::npos)
            break;
        parts.push_back(input.substr(0, at));
        input.remove_prefix(at + kPartSeparator.size());
    }
    parts.push_back(input);
    return parts;
}

inline std::string JoinParts(const std::vector<std::string>& parts) {
    std::string joined;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            joined.append(kPartSeparator);
        joined.append(parts[i]);
    }
    return joined;
}

} // namespace zz_fuzz

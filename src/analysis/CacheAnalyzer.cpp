#include "CacheAnalyzer.h"

#include "platform/CodePage.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <new>

const char* const ImageExts[10] = {"gif", "jpg", "jpeg", "tif", "tiff",
                                   "xbm", "fif", "bmp",  "png", "ani"};
const char* const PageExts[17] = {"htm", "html",  "phtml", "asp", "stm",  "stml",
                                  "ids", "shtml", "htx",   "txt", "text", "xml",
                                  "cfm", "php",   "php3",  "pl",  "cgi"};
const char* const MediaExts[14] = {"mpg", "avi", "mpeg", "mov", "fli", "flc",  "viv",
                                   "wav", "mp3", "mp2",  "mid", "aif", "riff", "swf"};

namespace {

template <std::size_t N>
bool TableHolds(const char* const (&table)[N], std::string_view extension) {
    return std::any_of(std::begin(table), std::end(table),
                       [extension](const char* entry) { return extension == entry; });
}

// The longest extension any table holds. Lower-casing keeps the byte length, so a longer
// extension can match nothing and need not be lower-cased.
constexpr std::size_t LongestTableExtension = 5;

} // namespace

TFileKind GetFileKind(std::string_view FileName) {
    // Only the last delimiter counts. In a double-byte code page a trail byte may equal a
    // backslash, but then the text after the dot is not ASCII and matches no table either way.
    const std::size_t delimiter = FileName.find_last_of(".\\:");
    if (delimiter == std::string_view::npos || FileName[delimiter] != '.')
        return fkOther;
    const std::string_view extension = FileName.substr(delimiter + 1);
    if (extension.empty() || extension.size() > LongestTableExtension)
        return fkOther;
    std::array<char, LongestTableExtension> buffer{};
    std::copy(extension.begin(), extension.end(), buffer.begin());
    win::CharLowerBuffA(buffer.data(), static_cast<win::DWORD>(extension.size()));
    const std::string_view lowered(buffer.data(), extension.size());
    if (TableHolds(ImageExts, lowered))
        return fkImage;
    if (TableHolds(PageExts, lowered))
        return fkPage;
    if (TableHolds(MediaExts, lowered))
        return fkMedia;
    return fkOther;
}

namespace {

// An item may itself hold a CR or an LF (a stored name or address can hold anything). Inside the
// text such a byte travels as a NUL followed by a letter, and a NUL as two NULs: the line ends
// stay the item separators and every item comes back whole.
constexpr char kInLineMark = '\0';

// string_view::find is memchr, which looks at many bytes at once; find_first_of looks at one at a
// time, which a list of megabyte-long items makes felt.
bool HoldsByte(std::string_view text, char byte) {
    return text.find(byte) != std::string_view::npos;
}

// The first CR or LF at or after `from`, npos when there is none.
std::size_t FindLineEnd(std::string_view text, std::size_t from) {
    const std::size_t lineFeed = text.find('\n', from);
    const std::string_view before = text.substr(0, lineFeed);
    const std::size_t carriageReturn = before.find('\r', from);
    return carriageReturn != std::string_view::npos ? carriageReturn : lineFeed;
}

void AppendItem(std::string& text, std::string_view item) {
    if (!HoldsByte(item, '\r') && !HoldsByte(item, '\n') && !HoldsByte(item, kInLineMark)) {
        text.append(item);
        return;
    }
    for (const char c : item) {
        if (c == '\r' || c == '\n' || c == kInLineMark) {
            text += kInLineMark;
            text += c == '\r' ? 'r' : c == '\n' ? 'n' : kInLineMark;
        } else {
            text += c;
        }
    }
}

std::string ItemOf(std::string_view line) {
    if (!HoldsByte(line, kInLineMark))
        return std::string(line);
    std::string item;
    item.reserve(line.size());
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c != kInLineMark || i + 1 == line.size()) {
            item += c;
            continue;
        }
        const char code = line[++i];
        item += code == 'r' ? '\r' : code == 'n' ? '\n' : kInLineMark;
    }
    return item;
}

} // namespace

std::string JoinLines(const std::vector<std::string_view>& lines) {
    std::size_t length = 0;
    for (std::string_view line : lines)
        length += line.size() + 2;
    std::string text;
    text.reserve(length);
    for (std::string_view line : lines) {
        AppendItem(text, line);
        text.append("\r\n");
    }
    return text;
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = FindLineEnd(text, start);
        if (end == std::string_view::npos) {
            lines.push_back(ItemOf(text.substr(start)));
            break;
        }
        lines.push_back(ItemOf(text.substr(start, end - start)));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
    return lines;
}

TCacheAnalyzer::TCacheAnalyzer() : FCache(std::make_unique<TIECache>(nullptr)) {
    FCache->SetFilterOptions(TFilterOptions::All());
    FCache->SetSearchPattern(spCookies);
    FCache->SetOnEntry([this](TObject* Sender, bool& Cancel) { CacheEntry(Sender, Cancel); });
}

TCacheAnalyzer::~TCacheAnalyzer() {
    ClearLists();
    FCache->SetOnEntry(nullptr);
}

void TCacheAnalyzer::StartReading() {
    FEntriesRead = 0;
    FCancelled = false;
    FOutOfMemory = false;
}

bool TCacheAnalyzer::KeepReading() {
    constexpr std::size_t kProgressEvery = 256;
    ++FEntriesRead;
    if (!FCancelled && FProgress && FEntriesRead % kProgressEvery == 0)
        FCancelled = !FProgress(FEntriesRead);
    return !FCancelled;
}

void TCacheAnalyzer::KeepEntry(bool& Cancel, const std::function<void()>& keep) {
    try {
        keep();
        if (!KeepReading())
            Cancel = true;
    } catch (const std::bad_alloc&) {
        FOutOfMemory = true;
        FCancelled = true;
        Cancel = true;
    }
}

void TCacheAnalyzer::Analyze() {
    ClearLists();
    StartReading();
    for (TSearchPattern pattern : {spCookies, spHistory, spUrl}) {
        if (FCancelled)
            break;
        FCache->SetSearchPattern(pattern);
        FCache->RetrieveEntries(0);
    }
    for (const TCategoryInfo& category : kCategories)
        FTotals[category.Category] = static_cast<std::int32_t>(FLists[category.Category].size());
}

void TCacheAnalyzer::CacheEntry(TObject* /*Sender*/, bool& Cancel) {
    KeepEntry(Cancel, [this] { AddEntry(FCache->EntryInfo(), FCache->SearchPattern()); });
}

TCategory TCacheAnalyzer::CategoryOf(const TEntryInfo& Info, TSearchPattern Pattern) {
    switch (Pattern) {
    case spCookies:
        return TCategory::Cookies;
    case spHistory:
        return TCategory::History;
    default:
        break;
    }
    switch (GetFileKind(Info.LocalFileName)) {
    case fkImage:
        return TCategory::Images;
    case fkMedia:
        return TCategory::Media;
    case fkPage:
        return TCategory::Pages;
    case fkOther:
        break;
    }
    return TCategory::Other;
}

void TCacheAnalyzer::AddEntry(const TEntryInfo& Info, TSearchPattern Pattern) {
    const TCategory category = CategoryOf(Info, Pattern);
    TEntryList& list = FLists[category];
    TEntryCopy& copy = list.emplace_back();
    // The URL text and the list must stay index-aligned, even when memory runs out here: an entry
    // whose copy fails leaves neither.
    try {
        TEntryInfo& kept = copy.Info;
        kept.SourceUrlName = Info.SourceUrlName;
        kept.LocalFileName = Info.LocalFileName;
        kept.EntryType = Info.EntryType;
        kept.UseCount = Info.UseCount;
        kept.HitRate = Info.HitRate;
        kept.Size = Info.Size;
        kept.LastModifiedTime = Info.LastModifiedTime;
        kept.ExpireTime = Info.ExpireTime;
        kept.LastAccessTime = Info.LastAccessTime;
        kept.LastSyncTime = Info.LastSyncTime;
        kept.ExemptDelta = Info.ExemptDelta;
        copy.LowerUrl = FUrls[category].Add(Info.SourceUrlName);
    } catch (...) {
        list.pop_back();
        throw;
    }
}

void TCacheAnalyzer::ClearLists() {
    for (const TCategoryInfo& category : kCategories) {
        FLists[category.Category].clear();
        FUrls[category.Category].Clear();
    }
}

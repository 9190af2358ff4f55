#include "UrlCacheWriter.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace urlcache_writer {

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kBlock = 128;
constexpr std::uint32_t kRecordsStart = kFirstHashTable;
constexpr std::uint32_t kFileGrowth = 0x8000;
constexpr std::uint32_t kTableBytes = kHashTableBytes;
constexpr std::uint32_t kTableBlocks = kTableBytes / kBlock;
constexpr std::uint32_t kSlotsPerTable = kSlotsPerHashTable;
constexpr std::uint32_t kUrlHead = 0x68; // the fixed part of a URL record; strings follow it
constexpr std::uint32_t kBitmapStart = 0x250;
constexpr std::uint64_t kCacheLimit = 256ull << 20;
constexpr std::size_t kMaxSubFolders = 32;

const char* signatureText(Signature signature) {
    return signature == Signature::Wine ? "WINE URLCache Ver 0.2012001"
                                        : "Client UrlCache MMF Ver 5.2";
}

void put32(std::string& out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<char>(value >> (8 * i));
}

void put64(std::string& out, std::size_t at, std::uint64_t value) {
    put32(out, at, static_cast<std::uint32_t>(value));
    put32(out, at + 4, static_cast<std::uint32_t>(value >> 32));
}

std::uint32_t roundUp(std::uint64_t value, std::uint32_t unit) {
    const std::uint64_t rounded = (value + unit - 1) / unit * unit;
    if (rounded > 0xFFFFFFFFu)
        throw std::length_error("index.dat would pass 4 GiB");
    return static_cast<std::uint32_t>(rounded);
}

// A URL key with the low nibble clear (a URL record), derived from the URL so that it looks like
// a hash; which one does not matter to a reader that walks the slots in order.
std::uint32_t keyFor(std::string_view url) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : url)
        hash = (hash ^ c) * 16777619u;
    hash &= ~0x0Fu;
    return hash == 0 ? 0x10 : hash;
}

// Serialises one URL record into `out` (appended), in whole blocks.
void appendUrlRecord(std::string& out, const Entry& entry) {
    std::string strings;
    auto place = [&](std::string_view text, bool terminate) {
        const auto at = static_cast<std::uint32_t>(kUrlHead + strings.size());
        strings.append(text);
        if (terminate)
            strings.push_back('\0');
        return at;
    };
    const std::uint32_t urlAt = place(entry.url, true);
    const std::uint32_t fileAt = entry.fileName ? place(*entry.fileName, true) : 0;
    const std::uint32_t headerAt = entry.headerInfo ? place(*entry.headerInfo, true) : 0;
    const std::uint32_t extensionAt = entry.extension ? place(*entry.extension, true) : 0;
    const std::uint32_t total = roundUp(kUrlHead + strings.size(), kBlock);

    const std::size_t base = out.size();
    out.resize(base + total, '\0');
    std::memcpy(&out[base], "URL ", 4);
    put32(out, base + 4, total / kBlock);
    put32(out, base + 8, entry.lastModified.dwLowDateTime);
    put32(out, base + 12, entry.lastModified.dwHighDateTime);
    put32(out, base + 16, entry.lastAccess.dwLowDateTime);
    put32(out, base + 20, entry.lastAccess.dwHighDateTime);
    put32(out, base + 24, entry.expireDosDateTime);
    const std::uint64_t size =
        entry.size == 0 && entry.fileContent ? entry.fileContent->size() : entry.size;
    put64(out, base + 32, size);
    put32(out, base + 44, entry.exemptDelta);
    put32(out, base + 52, urlAt);
    out[base + 56] = static_cast<char>(entry.fileName ? entry.subFolder : kContainerFolder);
    put32(out, base + 60, fileAt);
    put32(out, base + 64, entry.entryType);
    put32(out, base + 68, headerAt);
    put32(out, base + 72,
          entry.headerInfo ? static_cast<std::uint32_t>(entry.headerInfo->size()) : 0);
    put32(out, base + 76, extensionAt);
    put32(out, base + 80, entry.lastSyncDosDateTime);
    put32(out, base + 84, entry.hitRate);
    put32(out, base + 88, entry.useCount);
    std::memcpy(&out[base + kUrlHead], strings.data(), strings.size());
}

// Writes one index.dat to a stream as entries arrive: a hash table of kSlotsPerTable slots is
// followed by the records it points at, then the next table, so memory stays at one table's
// worth of records however many entries there are. The header goes in last.
class IndexStream {
public:
    IndexStream(std::ostream& out, ContainerKind kind, const ContainerOptions& options)
        : out_(out), options_(options) {
        if (kind == ContainerKind::Content) {
            const std::size_t count = std::min(options.subFolders.size(), kMaxSubFolders);
            fileCounts_.assign(count, 0);
        }
        const std::string placeholder(kRecordsStart, '\0');
        out_.write(placeholder.data(), placeholder.size());
    }

    void add(const Entry& entry) {
        if (slots_.size() == kSlotsPerTable)
            flushTable(true);
        slots_.push_back({keyFor(entry.url), static_cast<std::uint32_t>(records_.size())});
        appendUrlRecord(records_, entry);
        if (entry.fileName && entry.subFolder < fileCounts_.size())
            ++fileCounts_[entry.subFolder];
        cacheUsage_ +=
            entry.size == 0 && entry.fileContent ? entry.fileContent->size() : entry.size;
    }

    void finish() {
        flushTable(false);
        const std::uint32_t fileSize = roundUp(end_, kFileGrowth);
        const std::string padding(fileSize - end_, '\0');
        out_.write(padding.data(), padding.size());
        const std::string header = headerBytes(fileSize);
        out_.seekp(0);
        out_.write(header.data(), header.size());
        out_.flush();
        if (!out_)
            throw std::runtime_error("cannot write index.dat");
    }

private:
    struct Slot {
        std::uint32_t key;
        std::uint32_t recordOffset; // relative to the table's records until the table is placed
    };

    void flushTable(bool anotherFollows) {
        const std::uint64_t recordsAt = end_ + kTableBytes;
        const std::uint64_t nextTable = recordsAt + records_.size();
        if (nextTable > 0xFFFFFFFFu)
            throw std::length_error("index.dat would pass 4 GiB");
        std::string table(kTableBytes, '\0');
        std::memcpy(table.data(), "HASH", 4);
        put32(table, 4, kTableBlocks);
        put32(table, 8, anotherFollows ? static_cast<std::uint32_t>(nextTable) : 0);
        put32(table, 12, sequence_++);
        for (std::uint32_t i = 0; i < kSlotsPerTable; ++i) {
            std::uint32_t key = 3; // free
            std::uint32_t target = 0;
            if (i < slots_.size()) {
                target = static_cast<std::uint32_t>(recordsAt + slots_[i].recordOffset);
                key = slots_[i].key == target ? slots_[i].key ^ 0x10 : slots_[i].key;
            }
            put32(table, 16 + 8 * i, key);
            put32(table, 20 + 8 * i, target);
        }
        out_.write(table.data(), table.size());
        out_.write(records_.data(), records_.size());
        end_ = nextTable;
        slots_.clear();
        records_.clear();
    }

    std::string headerBytes(std::uint32_t fileSize) const {
        std::string header(kRecordsStart, '\0');
        const char* signature = signatureText(options_.signature);
        std::memcpy(header.data(), signature, std::strlen(signature));
        const std::uint32_t capacity = (fileSize - kRecordsStart) / kBlock;
        const auto used = static_cast<std::uint32_t>((end_ - kRecordsStart) / kBlock);
        put32(header, 28, fileSize);
        put32(header, 32, kRecordsStart);
        put32(header, 36, capacity);
        put32(header, 40, used);
        put64(header, 48, std::max(kCacheLimit, cacheUsage_));
        put64(header, 56, cacheUsage_);
        put64(header, 64, 0);
        put32(header, 72, static_cast<std::uint32_t>(fileCounts_.size()));
        for (std::size_t i = 0; i < fileCounts_.size(); ++i) {
            const std::size_t at = 76 + 12 * i;
            put32(header, at, fileCounts_[i]);
            std::string name = options_.subFolders[i].substr(0, 8);
            std::memcpy(&header[at + 4], name.data(), name.size());
        }
        // Blocks past the bitmap's reach (huge files) are simply not recorded there.
        const std::uint64_t bitmapBits = (kRecordsStart - kBitmapStart) * 8ull;
        const std::uint64_t marked = std::min<std::uint64_t>(used, bitmapBits);
        for (std::uint64_t bit = 0; bit < marked; ++bit)
            header[kBitmapStart + bit / 8] |= static_cast<char>(1u << (bit % 8));
        return header;
    }

    std::ostream& out_;
    ContainerOptions options_;
    std::vector<std::uint32_t> fileCounts_;
    std::vector<Slot> slots_;
    std::string records_;
    std::uint64_t end_ = kRecordsStart;
    std::uint64_t cacheUsage_ = 0;
    std::uint32_t sequence_ = 0;
};

const char* relativeFolder(Layout layout, ContainerKind kind, bool low) {
    switch (layout) {
    case Layout::Wine8:
        switch (kind) {
        case ContainerKind::Content:
            return "AppData/Local/Microsoft/Windows/INetCache/Content.IE5";
        case ContainerKind::Cookies:
            return "AppData/Local/Microsoft/Windows/INetCookies";
        case ContainerKind::History:
            return "AppData/Local/Microsoft/Windows/History/History.IE5";
        }
        break;
    case Layout::Vista:
        switch (kind) {
        case ContainerKind::Content:
            return low ? "AppData/Local/Microsoft/Windows/Temporary Internet Files/Low/Content.IE5"
                       : "AppData/Local/Microsoft/Windows/Temporary Internet Files/Content.IE5";
        case ContainerKind::Cookies:
            return low ? "AppData/Roaming/Microsoft/Windows/Cookies/Low"
                       : "AppData/Roaming/Microsoft/Windows/Cookies";
        case ContainerKind::History:
            return low ? "AppData/Local/Microsoft/Windows/History/Low/History.IE5"
                       : "AppData/Local/Microsoft/Windows/History/History.IE5";
        }
        break;
    case Layout::XP:
        switch (kind) {
        case ContainerKind::Content:
            return "Local Settings/Temporary Internet Files/Content.IE5";
        case ContainerKind::Cookies:
            return "Cookies";
        case ContainerKind::History:
            return "Local Settings/History/History.IE5";
        }
        break;
    }
    return "";
}

std::string backslashed(std::string text) {
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

// A cached file is written only inside its folder.
bool isPlainFileName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

void writeFile(const fs::path& path, std::string_view content) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

} // namespace

struct ProfileWriter::Container {
    ContainerKind kind;
    bool low;
    ContainerOptions options;
    fs::path folder;
    fs::path partial;
    std::ofstream file;
    std::unique_ptr<IndexStream> index;

    fs::path folderOfFile(const Entry& entry) const {
        const bool hasSubFolders = kind == ContainerKind::Content;
        if (hasSubFolders && entry.subFolder < std::min(options.subFolders.size(), kMaxSubFolders))
            return folder / options.subFolders[entry.subFolder].substr(0, 8);
        return folder;
    }
};

ProfileWriter::ProfileWriter(fs::path profileFolder, Layout layout)
    : profile_(std::move(profileFolder)), layout_(layout) {}

ProfileWriter::~ProfileWriter() {
    for (auto& container : containers_) {
        if (container->file.is_open()) {
            container->file.close();
            std::error_code ignored;
            fs::remove(container->partial, ignored);
        }
    }
}

ProfileWriter::Container& ProfileWriter::containerFor(ContainerKind kind,
                                                      const ContainerOptions& options) {
    const bool low = layout_ == Layout::Vista && options.lowIntegrity;
    for (auto& container : containers_) {
        if (container->kind == kind && container->low == low)
            return *container;
    }
    if (written_)
        throw std::logic_error("ProfileWriter::write was already called");
    auto container = std::make_unique<Container>();
    container->kind = kind;
    container->low = low;
    container->options = options;
    container->folder = profile_ / relativeFolder(layout_, kind, low);
    fs::create_directories(container->folder);
    if (kind == ContainerKind::Content) {
        for (std::size_t i = 0; i < std::min(options.subFolders.size(), kMaxSubFolders); ++i)
            fs::create_directories(container->folder / options.subFolders[i].substr(0, 8));
    }
    container->partial = container->folder / "index.dat.partial";
    container->file.open(container->partial, std::ios::binary | std::ios::trunc);
    if (!container->file)
        throw std::runtime_error("cannot create " + container->partial.string());
    container->index = std::make_unique<IndexStream>(container->file, kind, options);
    containers_.push_back(std::move(container));
    return *containers_.back();
}

void ProfileWriter::add(ContainerKind kind, Entry entry, const ContainerOptions& options) {
    if (entry.fileName && entry.fileContent && !isPlainFileName(*entry.fileName))
        throw std::invalid_argument("not a plain file name: " + *entry.fileName);
    Container& container = containerFor(kind, options);
    container.index->add(entry);
    if (entry.fileName && entry.fileContent)
        writeFile(container.folderOfFile(entry) / *entry.fileName, *entry.fileContent);
}

void ProfileWriter::touch(ContainerKind kind, const ContainerOptions& options) {
    containerFor(kind, options);
}

void ProfileWriter::write() {
    if (written_)
        throw std::logic_error("ProfileWriter::write may be called once");
    written_ = true;
    for (auto& container : containers_) {
        container->index->finish();
        container->file.close();
        fs::rename(container->partial, container->folder / "index.dat");
    }
}

const ProfileWriter::Container* ProfileWriter::findContainer(ContainerKind kind,
                                                             bool lowIntegrity) const {
    const bool low = layout_ == Layout::Vista && lowIntegrity;
    for (const auto& container : containers_) {
        if (container->kind == kind && container->low == low)
            return container.get();
    }
    return nullptr;
}

fs::path ProfileWriter::indexPath(ContainerKind kind, bool lowIntegrity) const {
    const bool low = layout_ == Layout::Vista && lowIntegrity;
    return profile_ / relativeFolder(layout_, kind, low) / "index.dat";
}

std::string ProfileWriter::windowsFilePath(ContainerKind kind, const Entry& entry,
                                           bool lowIntegrity) const {
    const bool low = layout_ == Layout::Vista && lowIntegrity;
    const fs::path normal = profile_.lexically_normal();
    const fs::path profile = normal.has_filename() ? normal : normal.parent_path();
    const bool inWinePrefix = profile.parent_path().filename() == "users" &&
                              profile.parent_path().parent_path().filename() == "drive_c";
    std::string path = (inWinePrefix ? "C:\\users\\" : "C:\\Users\\") + profile.filename().string();
    path += '\\' + backslashed(relativeFolder(layout_, kind, low)) + '\\';
    const Container* container = findContainer(kind, lowIntegrity);
    const ContainerOptions options = container ? container->options : ContainerOptions{};
    if (kind == ContainerKind::Content &&
        entry.subFolder < std::min(options.subFolders.size(), kMaxSubFolders))
        path += options.subFolders[entry.subFolder].substr(0, 8) + '\\';
    return path + entry.fileName.value_or("");
}

std::string BuildIndexFile(ContainerKind kind, const std::vector<Entry>& entries,
                           const ContainerOptions& options) {
    std::stringstream out(std::ios::in | std::ios::out | std::ios::binary);
    IndexStream index(out, kind, options);
    for (const Entry& entry : entries)
        index.add(entry);
    index.finish();
    return std::move(out).str();
}

win::FILETIME FileTimeFromUtc(int year, int month, int day, int hour, int minute, int second) {
    using namespace std::chrono;
    const sys_days date =
        year_month_day{std::chrono::year{year}, std::chrono::month(month), std::chrono::day(day)};
    const sys_days epoch = year_month_day{std::chrono::year{1601}, January, std::chrono::day(1)};
    const auto seconds = duration_cast<std::chrono::seconds>(date - epoch).count() + hour * 3600ll +
                         minute * 60ll + second;
    const auto ticks = static_cast<std::uint64_t>(seconds) * 10'000'000ull;
    return {static_cast<win::DWORD>(ticks), static_cast<win::DWORD>(ticks >> 32)};
}

std::uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second) {
    const auto date = static_cast<std::uint32_t>(((year - 1980) << 9) | (month << 5) | day);
    const auto time = static_cast<std::uint32_t>((hour << 11) | (minute << 5) | (second / 2));
    return (date & 0xFFFF) | (time << 16);
}

} // namespace urlcache_writer

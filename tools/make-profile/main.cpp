// Writes a demo or benchmark user profile: content entries over a set of sites whose popularity
// falls off steeply (a few big sites, a long tail), the extension mix of a real cache, cookies
// and history in proportion, and small real cached files. The same seed gives the same bytes.

#include "Images.h"
#include "WebCacheProfile.h"
#include "platform/ProgramInfo.h"
#include "urlcache-writer/UrlCacheWriter.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace urlcache_writer;

constexpr int kExitUsage = 2;

struct Options {
    std::uint64_t entries = 1000;
    std::optional<std::uint64_t> sites;
    std::uint64_t seed = 1;
    Layout layout = Layout::Vista;
    bool webCache = false; // --layout win10: the WebCache database instead of index.dat
    std::optional<Signature> signature;
    bool files = true;
    std::string folder;
};

constexpr const char* kHelp =
    "usage: make-profile --entries N [--sites S] [--seed K] [--layout wine8|vista|xp|win10]\n"
    "                    [--signature windows|wine] [--no-files] DIR\n"
    "       make-profile --help | --version\n"
    "\n"
    "Writes a Windows user-profile folder with a made-up URL cache, for demonstrations and\n"
    "benchmarks: a few big sites and a long tail, the file-type mix of real caches, cookies\n"
    "and history, and the cached files themselves. The same arguments give the same bytes.\n"
    "\n"
    "Arguments:\n"
    "  DIR              the profile folder to write; its name is the user name\n"
    "\n"
    "Options:\n"
    "  --entries N      cached-content entries (default 1000); a tenth as many cookies and a\n"
    "                   quarter as many history entries come with them\n"
    "  --sites S        how many sites the entries spread over, at least 1 (default: N/20,\n"
    "                   between 1 and 5000)\n"
    "  --seed K         the seed of the made-up data (default 1)\n"
    "  --layout L       the folder layout: wine8, vista (default) or xp (index.dat\n"
    "                   containers), or win10 (a WebCache database)\n"
    "  --signature S    the container signature: windows or wine (default: wine for the\n"
    "                   wine8 layout, else windows)\n"
    "  --no-files       write the containers only, without the cached files\n"
    "  --help           print this help and exit\n"
    "  --version        print the version and exit\n"
    "\n"
    "Exit status:\n"
    "  0  the profile was written\n"
    "  1  the profile could not be written\n"
    "  2  a bad argument\n";

void printUsage() {
    std::fputs(kHelp, stderr);
}

std::optional<std::uint64_t> parseCount(const char* text) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-')
        return std::nullopt;
    return value;
}

std::optional<Options> parseArguments(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if ((argument == "--entries" || argument == "--sites" || argument == "--seed") &&
            hasValue) {
            auto value = parseCount(argv[++i]);
            if (!value)
                return std::nullopt;
            if (argument == "--entries")
                options.entries = *value;
            else if (argument == "--sites")
                options.sites = *value;
            else
                options.seed = *value;
        } else if (argument == "--layout" && hasValue) {
            const std::string name = argv[++i];
            if (name == "wine8")
                options.layout = Layout::Wine8;
            else if (name == "vista")
                options.layout = Layout::Vista;
            else if (name == "xp")
                options.layout = Layout::XP;
            else if (name == "win10")
                options.webCache = true;
            else
                return std::nullopt;
        } else if (argument == "--signature" && hasValue) {
            const std::string name = argv[++i];
            if (name == "windows")
                options.signature = Signature::Windows52;
            else if (name == "wine")
                options.signature = Signature::Wine;
            else
                return std::nullopt;
        } else if (argument == "--no-files") {
            options.files = false;
        } else if (!argument.empty() && argument[0] != '-' && options.folder.empty()) {
            options.folder = argument;
        } else {
            return std::nullopt;
        }
    }
    if (options.folder.empty() || (options.sites && *options.sites == 0))
        return std::nullopt;
    return options;
}

// Joins pieces with appends (GCC 12 misreports some chains of operator+ under -O3).
template <typename... Pieces> std::string concat(const Pieces&... pieces) {
    std::string text;
    (text.append(pieces), ...);
    return text;
}

// A small, fast generator whose sequence is the same on every host for a seed.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 0x1234567ull) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, bound).
    std::uint64_t below(std::uint64_t bound) {
        return static_cast<std::uint64_t>((static_cast<unsigned __int128>(next()) * bound) >> 64);
    }
    std::uint64_t between(std::uint64_t low, std::uint64_t high) {
        return low + below(high - low + 1);
    }
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    bool chance(int percent) { return below(100) < static_cast<std::uint64_t>(percent); }
    template <typename T, std::size_t N> const T& pick(const std::array<T, N>& items) {
        return items[below(N)];
    }

private:
    std::uint64_t state_;
};

const std::array<const char*, 24> kSyllables = {
    "ka", "ro",  "mi",  "tel", "no", "va",  "zen", "li",   "bo", "dra", "fi",  "gor",
    "su", "pex", "qua", "ri",  "lo", "net", "ma",  "ster", "vi", "da",  "col", "tri"};
const std::array<const char*, 8> kTopLevels = {".com", ".com", ".com",   ".net",
                                               ".org", ".de",  ".co.uk", ".ru"};
const std::array<const char*, 16> kWords = {"logo",   "banner", "header", "photo",  "thumb", "icon",
                                            "index",  "main",   "style",  "script", "news",  "item",
                                            "button", "spacer", "video",  "track"};
const std::array<const char*, 8> kFolders = {"images", "img", "static", "media",
                                             "js",     "css", "news",   "content"};

struct Site {
    std::string host;
    make_profile::Colour colour;
};

std::vector<Site> makeSites(std::uint64_t count, Random& random) {
    std::vector<Site> sites;
    std::set<std::string> taken;
    sites.reserve(count);
    while (sites.size() < count) {
        std::string name;
        const auto syllables = random.between(2, 4);
        for (std::uint64_t i = 0; i < syllables; ++i)
            name += random.pick(kSyllables);
        if (taken.count(name))
            name += std::to_string(sites.size());
        taken.insert(name);
        const auto colour = random.next();
        sites.push_back({(random.chance(70) ? "www." : "") + name + random.pick(kTopLevels),
                         {static_cast<std::uint8_t>(colour), static_cast<std::uint8_t>(colour >> 8),
                          static_cast<std::uint8_t>(colour >> 16)}});
    }
    return sites;
}

// Site k is chosen with weight 1/(k+1)^1.1: a few big sites and a long tail.
class SitePicker {
public:
    explicit SitePicker(std::size_t count) : cumulative_(count) {
        double total = 0;
        for (std::size_t k = 0; k < count; ++k)
            cumulative_[k] = total += 1.0 / std::pow(static_cast<double>(k + 1), 1.1);
        for (double& value : cumulative_)
            value /= total;
    }
    std::size_t pick(Random& random) const {
        const auto found = std::upper_bound(cumulative_.begin(), cumulative_.end(), random.unit());
        return std::min<std::size_t>(found - cumulative_.begin(), cumulative_.size() - 1);
    }

private:
    std::vector<double> cumulative_;
};

enum class Kind { Gif, Jpeg, Png, Page, Script, Style, Media, Other, NoExtension };

struct KindInfo {
    Kind kind;
    int weight;
    const char* extension;
    const char* contentType;
};

// Shares seen in real content caches: mostly images, then pages, scripts and style sheets.
const std::array<KindInfo, 16> kKinds = {{
    {Kind::Gif, 18, "gif", "image/gif"},
    {Kind::Jpeg, 20, "jpg", "image/jpeg"},
    {Kind::Png, 10, "png", "image/png"},
    {Kind::Page, 8, "htm", "text/html"},
    {Kind::Page, 4, "html", "text/html"},
    {Kind::Page, 2, "php", "text/html"},
    {Kind::Script, 10, "js", "application/x-javascript"},
    {Kind::Style, 6, "css", "text/css"},
    {Kind::Media, 2, "swf", "application/x-shockwave-flash"},
    {Kind::Media, 1, "mp3", "audio/mpeg"},
    {Kind::Media, 1, "flv", "video/x-flv"},
    {Kind::Media, 1, "mp4", "video/mp4"},
    {Kind::Other, 2, "xml", "text/xml"},
    {Kind::Other, 1, "txt", "text/plain"},
    {Kind::Other, 1, "pdf", "application/pdf"},
    {Kind::NoExtension, 13, "", "text/html"},
}};

// Where a site keeps files of a kind.
const char* folderFor(Kind kind, Random& random) {
    static const std::array<const char*, 3> kImageFolders = {"images", "img", "static"};
    static const std::array<const char*, 3> kPageFolders = {"news", "content", "articles"};
    switch (kind) {
    case Kind::Gif:
    case Kind::Jpeg:
    case Kind::Png:
        return random.pick(kImageFolders);
    case Kind::Script:
        return "js";
    case Kind::Style:
        return "css";
    case Kind::Media:
        return "media";
    case Kind::Page:
    case Kind::NoExtension:
    case Kind::Other:
        break;
    }
    return random.pick(kPageFolders);
}

const KindInfo& pickKind(Random& random) {
    static const int total = [] {
        int sum = 0;
        for (const KindInfo& info : kKinds)
            sum += info.weight;
        return sum;
    }();
    int roll = static_cast<int>(random.below(static_cast<std::uint64_t>(total)));
    for (const KindInfo& info : kKinds) {
        if (roll < info.weight)
            return info;
        roll -= info.weight;
    }
    return kKinds.back();
}

std::string fileContent(const KindInfo& kind, const Site& site, Random& random) {
    const make_profile::Colour other{static_cast<std::uint8_t>(255 - site.colour.red),
                                     static_cast<std::uint8_t>(255 - site.colour.green),
                                     site.colour.blue};
    switch (kind.kind) {
    case Kind::Gif:
        return make_profile::GifImage(site.colour);
    case Kind::Png:
        return make_profile::PngImage(site.colour, other);
    case Kind::Jpeg:
        return make_profile::JpegImage();
    case Kind::Page:
    case Kind::NoExtension:
        return "<html><head><title>" + site.host + "</title></head><body><p>" + site.host +
               "</p></body></html>\n";
    case Kind::Script:
        return "var site = \"" + site.host + "\";\n";
    case Kind::Style:
        return "body { margin: 0; color: #333; }\n";
    case Kind::Media:
    case Kind::Other: {
        std::string bytes(static_cast<std::size_t>(random.between(16, 512)), '\0');
        for (char& c : bytes)
            c = static_cast<char>(random.next());
        return bytes;
    }
    }
    return {};
}

std::uint64_t typicalSize(const KindInfo& kind, Random& random) {
    switch (kind.kind) {
    case Kind::Gif:
    case Kind::Png:
    case Kind::Jpeg:
        return random.between(43, 120'000);
    case Kind::Media:
        return random.between(100'000, 20'000'000);
    default:
        return random.between(200, 80'000);
    }
}

// Calendar helpers for plausible time stamps between 2008 and 2010.
struct Day {
    int year, month, day;
};
Day dayFrom(int index) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    Day d{2008, 1, 1};
    for (;;) {
        const bool leap = d.year % 4 == 0;
        const int inYear = leap ? 366 : 365;
        if (index < inYear)
            break;
        index -= inYear;
        ++d.year;
    }
    for (int m = 0; m < 12; ++m) {
        const int inMonth = kDays[m] + (m == 1 && d.year % 4 == 0 ? 1 : 0);
        if (index < inMonth) {
            d.month = m + 1;
            d.day = index + 1;
            break;
        }
        index -= inMonth;
    }
    return d;
}

void stampTimes(Entry& entry, Random& random) {
    const int modified = static_cast<int>(random.below(700));
    const int accessed = modified + static_cast<int>(random.below(60));
    const Day m = dayFrom(modified);
    const Day a = dayFrom(accessed);
    const int hour = static_cast<int>(random.below(24));
    const int minute = static_cast<int>(random.below(60));
    entry.lastModified = FileTimeFromUtc(m.year, m.month, m.day, hour, minute, 0);
    entry.lastAccess = FileTimeFromUtc(a.year, a.month, a.day, hour, minute, 30);
    entry.lastSyncDosDateTime = DosDateTime(a.year, a.month, a.day, hour, minute, 30);
    if (random.chance(70)) {
        const Day e = dayFrom(accessed + 7 + static_cast<int>(random.below(365)));
        entry.expireDosDateTime = DosDateTime(e.year, e.month, e.day, hour, 0, 0);
    }
}

std::string subFolderName(Random& random) {
    static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string name;
    for (int i = 0; i < 8; ++i)
        name.push_back(kChars[random.below(36)]);
    return name;
}

// "word[n].ext", unique within its sub-folder.
class FileNamer {
public:
    std::string name(std::size_t folder, const std::string& word, const std::string& extension) {
        const std::uint64_t n = ++counts_[{folder, word + '.' + extension}];
        std::string name = word;
        if (n > 4)
            name.append(std::to_string((n - 1) / 4));
        name.push_back('[');
        name.append(std::to_string((n - 1) % 4 + 1));
        name.push_back(']');
        if (!extension.empty()) {
            name.push_back('.');
            name.append(extension);
        }
        return name;
    }

private:
    std::map<std::pair<std::size_t, std::string>, std::uint64_t> counts_;
};

std::string hostWithoutWww(const std::string& host) {
    return host.rfind("www.", 0) == 0 ? host.substr(4) : host;
}

struct Counts {
    std::uint64_t content = 0, cookies = 0, history = 0;
};

Counts writeProfile(const Options& options) {
    Random random(options.seed);
    const std::uint64_t siteCount =
        options.sites.value_or(std::clamp<std::uint64_t>(options.entries / 20, 1, 5000));
    const std::vector<Site> sites = makeSites(siteCount, random);
    const SitePicker picker(sites.size());
    const std::string user = [&] {
        std::string name = std::filesystem::path(options.folder).lexically_normal().filename();
        if (name.empty())
            name =
                std::filesystem::path(options.folder).lexically_normal().parent_path().filename();
        return name.empty() ? std::string("user") : name;
    }();

    ContainerOptions content;
    content.signature = options.signature.value_or(
        options.layout == Layout::Wine8 ? Signature::Wine : Signature::Windows52);
    content.subFolders.clear();
    for (int i = 0; i < 4; ++i)
        content.subFolders.push_back(subFolderName(random));
    ContainerOptions other = content;
    other.subFolders.clear();

    std::optional<ProfileWriter> indexWriter;
    std::optional<make_profile::WebCacheProfileWriter> webCache;
    if (options.webCache) {
        webCache.emplace(options.folder, user, content.subFolders);
    } else {
        indexWriter.emplace(options.folder, options.layout);
        indexWriter->touch(ContainerKind::Content, content);
        indexWriter->touch(ContainerKind::Cookies, other);
        indexWriter->touch(ContainerKind::History, other);
    }
    FileNamer namer;
    Counts counts;

    for (std::uint64_t i = 0; i < options.entries; ++i) {
        const Site& site = sites[picker.pick(random)];
        const KindInfo& kind = pickKind(random);
        const std::string word = random.pick(kWords);
        const std::string extension = kind.extension;
        Entry entry;
        entry.url = concat("http://", site.host, "/", folderFor(kind.kind, random), "/", word);
        if (!extension.empty())
            entry.url += "." + extension;
        if (random.chance(15))
            entry.url += concat("?v=", std::to_string(random.below(1000)));
        entry.subFolder = static_cast<std::uint8_t>(random.below(content.subFolders.size()));
        entry.fileName = namer.name(entry.subFolder, word, extension);
        if (options.files)
            entry.fileContent = fileContent(kind, site, random);
        else
            entry.size = typicalSize(kind, random);
        if (!extension.empty())
            entry.extension = extension;
        entry.headerInfo = std::string("HTTP/1.1 200 OK\r\nContent-Type: ") + kind.contentType +
                           "\r\n\r\n~U:" + user + "\r\n";
        entry.useCount = static_cast<std::uint32_t>(random.between(1, 5));
        entry.hitRate = static_cast<std::uint32_t>(random.below(random.chance(10) ? 500 : 20));
        stampTimes(entry, random);
        if (webCache)
            webCache->addContent(entry);
        else
            indexWriter->add(ContainerKind::Content, std::move(entry), content);
        ++counts.content;
    }

    // About one cookie per ten content entries: one per site first, then further paths.
    const std::uint64_t cookies =
        options.entries == 0 ? 0 : std::max<std::uint64_t>(1, options.entries / 10);
    std::map<std::string, std::uint64_t> cookiesPerHost;
    for (std::uint64_t i = 0; i < cookies; ++i) {
        const Site& site = i < sites.size() ? sites[i] : sites[picker.pick(random)];
        const std::string host = hostWithoutWww(site.host);
        const std::string path = i < sites.size() ? "/" : concat("/", random.pick(kFolders), "/");
        Entry entry;
        entry.url = "Cookie:" + user + "@" + host + path;
        const std::uint64_t number = ++cookiesPerHost[host];
        entry.fileName = concat(user, "@", host, "[", std::to_string(number), "].txt");
        entry.subFolder = kContainerFolder;
        entry.entryType = win::COOKIE_CACHE_ENTRY;
        const std::string value = std::to_string(random.next() % 1000000000);
        const std::string text = "id\n" + value + "\n" + host + path + "\n1024\n0\n0\n0\n0\n*\n";
        if (options.files)
            entry.fileContent = text;
        else
            entry.size = text.size();
        entry.useCount = 1;
        stampTimes(entry, random);
        if (webCache) {
            // The database holds the cookie itself: no file, no index record.
            win::FILETIME expires = entry.lastAccess;
            expires.dwHighDateTime += 0x10000; // about a year later
            webCache->addCookie(host, path, "id", value, entry.lastModified, expires);
        } else {
            indexWriter->add(ContainerKind::Cookies, std::move(entry), other);
        }
        ++counts.cookies;
    }

    // About one visited page per four content entries.
    const std::uint64_t visits = options.entries / 4;
    for (std::uint64_t i = 0; i < visits; ++i) {
        const Site& site = sites[picker.pick(random)];
        Entry entry;
        entry.url =
            "Visited: " + user + "@http://" + site.host + "/" + random.pick(kWords) + ".htm";
        entry.entryType = win::URLHISTORY_CACHE_ENTRY | win::NORMAL_CACHE_ENTRY;
        entry.useCount = static_cast<std::uint32_t>(random.between(1, 30));
        stampTimes(entry, random);
        if (webCache)
            webCache->addHistory(entry);
        else
            indexWriter->add(ContainerKind::History, std::move(entry), other);
        ++counts.history;
    }
    if (webCache)
        webCache->write();
    else
        indexWriter->write();
    return counts;
}

} // namespace

int main(int argc, char** argv) {
    if (auto answered = platform::AnswerHelpOrVersion(argc, argv, "make-profile", kHelp))
        return *answered;
    auto options = parseArguments(argc, argv);
    if (!options) {
        printUsage();
        return kExitUsage;
    }
    try {
        const Counts counts = writeProfile(*options);
        std::printf("%llu content, %llu cookie and %llu history entries written to %s\n",
                    static_cast<unsigned long long>(counts.content),
                    static_cast<unsigned long long>(counts.cookies),
                    static_cast<unsigned long long>(counts.history), options->folder.c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make-profile: %s\n", error.what());
        return 1;
    }
    return 0;
}

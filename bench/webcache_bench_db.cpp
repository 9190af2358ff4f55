// Writes a WebCache database for the benchmarks: a Containers table, one content container of N
// entries and a cookie table of N / 10, with the column layout, value sizes and pages (32 KiB) of
// real files (NUL-terminated texts, 8-byte long-value ids); the response headers of one entry in
// eight are large enough for the long-value tree. The same N gives the same bytes.
//
//   webcache_bench_db N FILE

#include "ese-writer/EseWriter.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

namespace w = ese_writer;

std::string Headers(std::uint64_t i, bool large) {
    std::string headers = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                          "ETag: \"" +
                          std::to_string(i * 2654435761u) + "\"\r\n";
    if (large) {
        for (int k = 0; k < 40; ++k)
            headers += "X-Padding-" + std::to_string(k) + ": " + std::to_string(i + k) + "\r\n";
    }
    return headers + "\r\n";
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: webcache_bench_db N FILE\n", stderr);
        return 2;
    }
    const long entries = std::strtol(argv[1], nullptr, 10);
    if (entries <= 0) {
        std::fputs("webcache_bench_db: N must be a positive number\n", stderr);
        return 2;
    }
    w::Table containers = w::WebCacheContainersTable();
    const w::Row container = w::WebCacheContainerRow(
        1, "Content", "C:\\Users\\John\\AppData\\Local\\Microsoft\\Windows\\INetCache\\IE\\",
        "0KLPAC95EIRRDZXCL9HRTYNO9XWKH8VJ");
    containers.rows.push_back(container);
    w::Row cookieContainer = container;
    cookieContainer["ContainerId"] = w::Int64(2);
    cookieContainer["Name"] = w::Utf16z("Cookies");
    containers.rows.push_back(cookieContainer);

    w::Table content = w::WebCacheContainerTable(1);
    content.rows.reserve(static_cast<std::size_t>(entries));
    for (long i = 0; i < entries; ++i) {
        const auto n = static_cast<std::uint64_t>(i);
        const std::string site = "site" + std::to_string(n * 7919 % 5000) + ".example.com";
        w::Row entry;
        entry["EntryId"] = w::Int64(i + 1);
        entry["ContainerId"] = w::Int64(1);
        entry["UrlHash"] = w::Int64(static_cast<std::int64_t>((n * 0x9E3779B97F4A7C15ull) >> 1));
        entry["SecureDirectory"] = w::UInt32(static_cast<std::uint32_t>(n % 4));
        entry["FileSize"] = w::Int64(static_cast<std::int64_t>(1000 + n % 50000));
        entry["Type"] = w::UInt32(65);
        entry["AccessCount"] = w::UInt32(static_cast<std::uint32_t>(1 + n % 9));
        entry["CreationTime"] = w::Int64(133217192613669009 + static_cast<std::int64_t>(n) * 1000);
        entry["AccessedTime"] = w::Int64(133217192713669009 + static_cast<std::int64_t>(n) * 1000);
        entry["Url"] = w::Utf16z("https://" + site + "/assets/" + std::to_string(n) +
                                 "/script.js?v=" + std::to_string(n % 97));
        entry["Filename"] = w::Utf16z("script" + std::to_string(n % 1000) + "[1].js");
        entry["FileExtension"] = w::Utf16z("js");
        entry["ResponseHeaders"] = w::Bytes(Headers(n, n % 8 == 0));
        content.rows.push_back(std::move(entry));
    }

    w::Table cookies = w::WebCacheCookieTable(2);
    for (long i = 0; i < entries / 10; ++i) {
        w::Row cookie;
        cookie["EntryId"] = w::Int64(i + 1);
        cookie["Flags"] = w::UInt32(0x80201);
        cookie["RDomain"] = w::Utf16z("com.example.site" + std::to_string(i % 5000));
        cookie["Path"] = w::Utf16z("/");
        cookie["Name"] = w::Bytes(std::string("session\0", 8));
        cookie["Value"] = w::Bytes(std::to_string(i * 31337) + std::string(1, '\0'));
        cookies.rows.push_back(std::move(cookie));
    }
    w::Options options;
    options.longValueIdBytes = 8; // as current Windows 10 files
    w::Write(argv[2], {containers, content, cookies}, options);
    return 0;
}

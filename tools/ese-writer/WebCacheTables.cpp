#include "EseWriter.h"

namespace ese_writer {

namespace {

Column column(const char* name, ColumnType type, std::uint32_t id, std::uint32_t maxSize = 0,
              bool notNull = false) {
    Column c;
    c.name = name;
    c.type = type;
    c.id = id;
    c.maxSize = maxSize;
    c.notNull = notNull;
    return c;
}

constexpr auto kInt64 = ColumnType::LongLong;
constexpr auto kUInt32 = ColumnType::UnsignedLong;
constexpr auto kLongText = ColumnType::LongText;
constexpr auto kLongBinary = ColumnType::LongBinary;

} // namespace

Table WebCacheContainersTable() {
    Table t;
    t.name = "Containers";
    t.columns = {
        column("ContainerId", kInt64, 1, 0, true),
        column("SetId", kUInt32, 2),
        column("Flags", kUInt32, 3),
        column("Size", kInt64, 4),
        column("Limit", kInt64, 5),
        column("LastScavengeTime", kInt64, 6),
        column("EntryMaxAge", kUInt32, 7),
        column("LastAccessTime", kInt64, 8),
        column("Name", ColumnType::Text, 128, 64),
        column("PartitionId", kLongText, 256, 1024),
        column("Directory", kLongText, 257, 1024),
        column("SecureDirectories", kLongText, 258, 1024),
        column("SecureUsage", kLongBinary, 259, 1024),
        column("Group", kLongBinary, 260, 65536),
    };
    t.keyColumns = {"ContainerId"};
    t.indexName = "ContainerIdIndex";
    return t;
}

Table WebCacheContainerTable(int containerId) {
    Table t;
    t.name = "Container_" + std::to_string(containerId);
    t.columns = {
        column("EntryId", kInt64, 1, 0, true),
        column("ContainerId", kInt64, 2),
        column("CacheId", kInt64, 3),
        column("UrlHash", kInt64, 4),
        column("SecureDirectory", kUInt32, 5),
        column("FileSize", kInt64, 6),
        column("Type", kUInt32, 7),
        column("Flags", kUInt32, 8),
        column("AccessCount", kUInt32, 9),
        column("SyncTime", kInt64, 10),
        column("CreationTime", kInt64, 11),
        column("ExpiryTime", kInt64, 12),
        column("ModifiedTime", kInt64, 13),
        column("AccessedTime", kInt64, 14),
        column("PostCheckTime", kInt64, 15),
        column("SyncCount", kUInt32, 16),
        column("ExemptionDelta", kUInt32, 17),
        column("Url", kLongText, 256, 65536),
        column("Filename", kLongText, 257, 1024),
        column("FileExtension", kLongText, 258, 1024),
        column("RequestHeaders", kLongBinary, 259, 65536),
        column("ResponseHeaders", kLongBinary, 260, 65536),
        column("RedirectUrl", kLongText, 261, 65536),
        column("Group", kLongBinary, 262, 65536),
        column("ExtraData", kLongBinary, 263, 65536),
    };
    t.keyColumns = {"UrlHash", "EntryId"};
    t.indexName = "HashEntryIdIndex";
    return t;
}

Table WebCacheCookieTable(int containerId) {
    Table t;
    t.name = "CookieEntryEx_" + std::to_string(containerId);
    t.columns = {
        column("EntryId", kInt64, 1, 0, true),
        column("MinimizedRDomainHash", kInt64, 2),
        column("MinimizedRDomainLength", kUInt32, 3),
        column("Flags", kUInt32, 4),
        column("Expires", kInt64, 5),
        column("LastModified", kInt64, 6),
        column("Reserved", kInt64, 7),
        column("CookieHash", kLongBinary, 256, 12),
        column("RDomain", kLongText, 257, 514),
        column("Path", kLongText, 258, 65536),
        column("Name", kLongBinary, 259, 16384),
        column("Value", kLongBinary, 260, 16384),
    };
    t.keyColumns = {"EntryId"};
    t.indexName = "EntryIdIndex";
    return t;
}

Row WebCacheContainerRow(std::int64_t containerId, std::string_view name,
                         std::string_view directory, std::string_view secureDirectories) {
    Row row;
    row["ContainerId"] = Int64(containerId);
    row["Name"] = Utf16z(name);
    row["PartitionId"] = Utf16z("M");
    row["Directory"] = Utf16z(directory);
    if (!secureDirectories.empty())
        row["SecureDirectories"] = Utf16z(secureDirectories);
    return row;
}

} // namespace ese_writer

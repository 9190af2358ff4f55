#include "platform/desktop/RegistryStore.h"

#include "support/TempConfigFolder.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>

namespace {

using namespace win;

constexpr const char* KeyPath = "Software\\Divezor\\Duruvera";

class RegistryStoreTest : public testing::Test {
protected:
    void TearDown() override {
        if (key != nullptr)
            RegCloseKey(key);
    }

    LONG Open(const char* path) {
        return RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_ALL_ACCESS, nullptr, &key, nullptr);
    }

    LONG SetDword(const char* name, DWORD value) {
        const std::array<BYTE, 4> bytes = {BYTE(value), BYTE(value >> 8), BYTE(value >> 16),
                                           BYTE(value >> 24)};
        return RegSetValueExA(key, name, 0, REG_DWORD, bytes.data(), 4);
    }

    TempConfigFolder config;
    HKEY key = nullptr;
};

struct StoredText {
    const char* text;
    DWORD type;
    DWORD number; // when type is REG_DWORD
};

void PrintTo(const StoredText& stored, std::ostream* out) {
    *out << '"' << stored.text << '"';
}

class StoredTextTest : public RegistryStoreTest, public testing::WithParamInterface<StoredText> {};

TEST_P(StoredTextTest, ReadsAsNumberOnlyWhenItIsA32BitNumber) {
    const StoredText& stored = GetParam();
    config.WriteSettings(std::string("[General]\nValue=") + stored.text + "\n");
    ASSERT_EQ(Open(KeyPath), LONG(ERROR_SUCCESS));

    std::array<BYTE, 4> buffer{};
    DWORD type = REG_NONE;
    DWORD size = buffer.size();
    const LONG result = RegQueryValueExA(key, "Value", nullptr, &type, buffer.data(), &size);
    EXPECT_EQ(type, stored.type);
    if (stored.type == REG_DWORD) {
        ASSERT_EQ(result, LONG(ERROR_SUCCESS));
        ASSERT_EQ(size, 4u);
        DWORD number = 0;
        std::memcpy(&number, buffer.data(), 4); // the test host is little-endian
        EXPECT_EQ(number, stored.number);
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, StoredTextTest,
                         testing::Values(StoredText{"0", REG_DWORD, 0},
                                         StoredText{"007", REG_DWORD, 7},
                                         StoredText{"4294967295", REG_DWORD, 0xFFFFFFFF},
                                         StoredText{"-1", REG_DWORD, 0xFFFFFFFF},
                                         StoredText{"-2147483648", REG_DWORD, 0x80000000},
                                         StoredText{"4294967296", REG_SZ, 0},
                                         StoredText{"-2147483649", REG_SZ, 0},
                                         StoredText{"99999999999999999999999", REG_SZ, 0},
                                         StoredText{"+1", REG_SZ, 0}, StoredText{"0x10", REG_SZ, 0},
                                         StoredText{"1.5", REG_SZ, 0}, StoredText{"yes", REG_SZ, 0},
                                         StoredText{"", REG_SZ, 0}, StoredText{"1, 2", REG_SZ, 0}));

TEST_F(RegistryStoreTest, KeyPathsThatNameNoSettingsFileAreRefused) {
    for (const char* path : {"Software\\Divezor", "Software\\..\\Duruvera", "Software\\a/b\\c",
                             "Software\\Divezor\\\\Duruvera", "System\\Divezor\\Duruvera", ""}) {
        EXPECT_EQ(Open(path), LONG(ERROR_INVALID_PARAMETER)) << path;
        EXPECT_EQ(key, nullptr);
    }
    EXPECT_TRUE(std::filesystem::is_empty(config.root()));
}

TEST_F(RegistryStoreTest, ValueNamesIgnoreCaseAndWritesKeepTheStoredSpelling) {
    config.WriteSettings("[General]\nautostart=0\n");
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, KeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, &disposition),
              LONG(ERROR_SUCCESS));
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(RegQueryValueExA(key, "AutoStart", nullptr, nullptr, nullptr, nullptr),
              LONG(ERROR_SUCCESS));
    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, nullptr, nullptr),
              LONG(ERROR_FILE_NOT_FOUND));

    ASSERT_EQ(SetDword("AutoStart", 1), LONG(ERROR_SUCCESS));
    ASSERT_EQ(RegFlushKey(key), LONG(ERROR_SUCCESS));
    EXPECT_EQ(config.SettingsBytes(), "[General]\nautostart=1\n");
}

TEST_F(RegistryStoreTest, SubKeysAreGroupsOfTheSameFile) {
    ASSERT_EQ(Open("Software\\Divezor\\Duruvera\\Window"), LONG(ERROR_SUCCESS));
    ASSERT_EQ(SetDword("Left", 234), LONG(ERROR_SUCCESS));
    EXPECT_EQ(config.SettingsBytes(), "") << "written at the flush, not before";
    ASSERT_EQ(RegFlushKey(key), LONG(ERROR_SUCCESS));
    EXPECT_EQ(config.SettingsBytes(), "[Window]\nLeft=234\n");
}

TEST_F(RegistryStoreTest, ClosedHandleIsRefused) {
    ASSERT_EQ(Open(KeyPath), LONG(ERROR_SUCCESS));
    ASSERT_EQ(RegCloseKey(key), LONG(ERROR_SUCCESS));
    EXPECT_EQ(SetDword("Value", 1), LONG(ERROR_INVALID_HANDLE));
    EXPECT_EQ(RegQueryValueExA(key, "Value", nullptr, nullptr, nullptr, nullptr),
              LONG(ERROR_INVALID_HANDLE));
    EXPECT_EQ(RegCloseKey(key), LONG(ERROR_INVALID_HANDLE));
    key = nullptr;
    EXPECT_FALSE(std::filesystem::exists(config.settingsFile()));
}

} // namespace

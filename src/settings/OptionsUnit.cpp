#include "settings/OptionsUnit.h"

#include "platform/desktop/RegistryStore.h"

#include <array>
#include <cstdio>
#include <string>
#include <variant>

TOptions* Options = nullptr;

namespace {

constexpr const char* KeyPath = "Software\\Divezor\\Duruvera";

// Indexes into TOptions' values, in declaration order.
enum TOptionId : int {
    oiSecLevel,
    oiHistoryRemoveSecLevel,
    oiIEDetectPeriod,
    oiAutoStart,
    oiShowConfirms,
    oiIEAutoDetection,
    oiClearOnStartUp,
    oiRemoveAll,
    oiAutoCleanOnProgStartUp,
    oiRemoveHistory,
    oiUnloadShell,
};

using TFieldPtr =
    std::variant<std::uint8_t TOptions::*, std::int32_t TOptions::*, bool TOptions::*>;

struct TOptionValue {
    const char* Name;
    TFieldPtr Field;
};

const std::array<TOptionValue, TOptions::ValueCount> OptionValues = {{
    {"SecLevel", &TOptions::SecLevel},
    {"HistoryRemoveSecLevel", &TOptions::HistoryRemoveSecLevel},
    {"IEDetectPeriod", &TOptions::IEDetectPeriod},
    {"AutoStart", &TOptions::AutoStart},
    {"ShowConfirms", &TOptions::ShowConfirms},
    {"IEAutoDetection", &TOptions::IEAutoDetection},
    {"ClearOnStartUp", &TOptions::ClearOnStartUp},
    {"RemoveAll", &TOptions::RemoveAll},
    {"AutoCleanOnProgStartUp", &TOptions::AutoCleanOnProgStartUp},
    {"RemoveHistory", &TOptions::RemoveHistory},
    {"UnloadShell", &TOptions::UnloadShell},
}};

// The load and the save visit the values in two different orders. Where a load that fails
// stops, and so which values the save may write, follows the load order.
constexpr std::array<TOptionId, TOptions::ValueCount> LoadOrder = {
    oiHistoryRemoveSecLevel,  oiSecLevel,    oiIEDetectPeriod,
    oiAutoCleanOnProgStartUp, oiRemoveAll,   oiIEAutoDetection,
    oiShowConfirms,           oiAutoStart,   oiClearOnStartUp,
    oiRemoveHistory,          oiUnloadShell,
};
constexpr std::array<TOptionId, TOptions::ValueCount> SaveOrder = {
    oiHistoryRemoveSecLevel,  oiSecLevel,      oiIEDetectPeriod, oiIEAutoDetection,
    oiShowConfirms,           oiAutoStart,     oiClearOnStartUp, oiRemoveAll,
    oiAutoCleanOnProgStartUp, oiRemoveHistory, oiUnloadShell,
};

template <class... Handlers> struct Overloaded : Handlers... { using Handlers::operator()...; };

// Levels are widened to 32 bits, Booleans stored as 1 or 0.
win::DWORD EncodeField(const TOptions& options, const TFieldPtr& field) {
    return std::visit(Overloaded{
                          [&](std::uint8_t TOptions::*level) { return win::DWORD(options.*level); },
                          [&](std::int32_t TOptions::*number) {
                              return static_cast<win::DWORD>(options.*number);
                          },
                          [&](bool TOptions::*flag) { return win::DWORD(options.*flag ? 1 : 0); },
                      },
                      field);
}

// A level keeps the low 8 bits; any non-zero number is true.
void DecodeField(TOptions& options, const TFieldPtr& field, win::DWORD stored) {
    std::visit(Overloaded{
                   [&](std::uint8_t TOptions::*level) {
                       options.*level = static_cast<std::uint8_t>(stored & 0xFF);
                   },
                   [&](std::int32_t TOptions::*number) {
                       options.*number = static_cast<std::int32_t>(stored);
                   },
                   [&](bool TOptions::*flag) { options.*flag = stored != 0; },
               },
               field);
}

std::string DescribeFailure(const std::string& what, win::LONG error) {
    return what + " (HKEY_CURRENT_USER\\" + KeyPath + ", system error " + std::to_string(error) +
           ")";
}

std::string Quoted(const char* name) {
    return std::string("\"") + name + "\"";
}

// The settings key, open for as long as the object lives.
class TSettingsKey {
public:
    TSettingsKey() {
        FOpenResult = win::RegCreateKeyExA(win::HKEY_CURRENT_USER, KeyPath, 0, nullptr,
                                           win::REG_OPTION_NON_VOLATILE, win::KEY_ALL_ACCESS,
                                           nullptr, &FKey, nullptr);
    }
    ~TSettingsKey() {
        if (FKey != nullptr)
            win::RegCloseKey(FKey);
    }
    TSettingsKey(const TSettingsKey&) = delete;
    TSettingsKey& operator=(const TSettingsKey&) = delete;

    bool ValueExists(const char* name) const {
        RequireOpen();
        const win::LONG result =
            win::RegQueryValueExA(FKey, name, nullptr, nullptr, nullptr, nullptr);
        if (result == win::LONG(win::ERROR_FILE_NOT_FOUND))
            return false;
        if (result != win::LONG(win::ERROR_SUCCESS))
            throw ERegistryError(DescribeFailure("cannot look up " + Quoted(name), result));
        return true;
    }

    win::DWORD ReadDword(const char* name) const {
        RequireOpen();
        std::array<win::BYTE, 4> buffer{};
        win::DWORD type = win::REG_NONE;
        win::DWORD size = buffer.size();
        const win::LONG result =
            win::RegQueryValueExA(FKey, name, nullptr, &type, buffer.data(), &size);
        const bool isDword = type == win::REG_DWORD && size == buffer.size();
        if ((result == win::LONG(win::ERROR_SUCCESS) ||
             result == win::LONG(win::ERROR_MORE_DATA)) &&
            !isDword)
            throw ERegistryError(Quoted(name) + " is not a 32-bit number");
        if (result != win::LONG(win::ERROR_SUCCESS))
            throw ERegistryError(DescribeFailure("cannot read " + Quoted(name), result));
        return win::DWORD(buffer[0]) | win::DWORD(buffer[1]) << 8 | win::DWORD(buffer[2]) << 16 |
               win::DWORD(buffer[3]) << 24;
    }

    void WriteDword(const char* name, win::DWORD value) const {
        RequireOpen();
        const std::array<win::BYTE, 4> bytes = {
            win::BYTE(value & 0xFF), win::BYTE(value >> 8 & 0xFF), win::BYTE(value >> 16 & 0xFF),
            win::BYTE(value >> 24 & 0xFF)};
        const win::LONG result =
            win::RegSetValueExA(FKey, name, 0, win::REG_DWORD, bytes.data(), bytes.size());
        if (result != win::LONG(win::ERROR_SUCCESS))
            throw ERegistryError(DescribeFailure("cannot write " + Quoted(name), result));
    }

    // Puts every value written so far into the file, in one write.
    void Flush() const {
        RequireOpen();
        const win::LONG result = win::RegFlushKey(FKey);
        if (result != win::LONG(win::ERROR_SUCCESS))
            throw ERegistryError(DescribeFailure("cannot save the settings", result));
    }

private:
    void RequireOpen() const {
        if (FOpenResult != win::LONG(win::ERROR_SUCCESS))
            throw ERegistryError(DescribeFailure("cannot open the settings key", FOpenResult));
    }

    win::HKEY FKey = nullptr;
    win::LONG FOpenResult = win::LONG(win::ERROR_INVALID_HANDLE);
};

} // namespace

TOptions::TOptions()
    : SecLevel(2), HistoryRemoveSecLevel(2), IEDetectPeriod(5), AutoStart(true), ShowConfirms(true),
      IEAutoDetection(false), ClearOnStartUp(false), RemoveAll(false),
      AutoCleanOnProgStartUp(false), RemoveHistory(true), UnloadShell(false) {}

void TOptions::LoadOptions() {
    FUnknownValues.set();
    try {
        const TSettingsKey key;
        for (const TOptionId id : LoadOrder) {
            const TOptionValue& value = OptionValues[id];
            if (key.ValueExists(value.Name)) {
                DecodeField(*this, value.Field, key.ReadDword(value.Name));
                FUnknownValues.reset(id);
            } else {
                // Known to be absent: writing it later overwrites nothing, even if seeding fails.
                FUnknownValues.reset(id);
                key.WriteDword(value.Name, EncodeField(*this, value.Field));
            }
        }
        key.Flush();
    } catch (const std::exception&) {
        // A settings record that cannot be read is no reason to stop the program; the fields
        // not reached keep their defaults.
    }
}

void TOptions::SaveOptions() {
    if (FUnknownValues.all())
        return;
    const TSettingsKey key;
    for (const TOptionId id : SaveOrder) {
        if (FUnknownValues.test(id))
            continue;
        const TOptionValue& value = OptionValues[id];
        key.WriteDword(value.Name, EncodeField(*this, value.Field));
    }
    key.Flush();
}

void InitOptionsUnit() {
    if (Options != nullptr)
        return;
    Options = new TOptions;
    Options->LoadOptions();
}

void DoneOptionsUnit() {
    if (Options == nullptr)
        return;
    try {
        Options->SaveOptions();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "Zezuvur: the settings were not saved: %s\n", error.what());
    } catch (...) {
        std::fputs("Zezuvur: the settings were not saved\n", stderr);
    }
    delete Options;
    Options = nullptr;
}

#pragma once
// The settings record kept under the current user's key "Software\Divezor\Duruvera". The
// program only carries it: read (missing values seeded) when the program starts, written back
// when it ends.

#include <bitset>
#include <cstdint>
#include <stdexcept>

// A registry call of the settings record failed; the message names the value and the error.
class ERegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TOptions {
public:
    static constexpr int ValueCount = 11;

    TOptions();

    // Reads each stored value into its field and seeds each missing one with the field's
    // value. Never throws: a failure ends the load there, quietly, and what was read stays.
    void LoadOptions();
    // Writes the fields back. After a load that ended early, only the values that load read or
    // found missing are written, so stored values it never reached are not overwritten.
    // Throws ERegistryError when a write fails; the values before it are written.
    void SaveOptions();

    std::uint8_t SecLevel;
    std::uint8_t HistoryRemoveSecLevel;
    std::int32_t IEDetectPeriod;
    bool AutoStart;
    bool ShowConfirms;
    bool IEAutoDetection;
    bool ClearOnStartUp;
    bool RemoveAll;
    bool AutoCleanOnProgStartUp;
    bool RemoveHistory;
    bool UnloadShell;

private:
    // Values (by declaration order) whose stored state the last load did not learn.
    std::bitset<ValueCount> FUnknownValues;
};

// The program's one record: created and loaded by InitOptionsUnit, saved and freed by
// DoneOptionsUnit; null outside that span.
extern TOptions* Options;

// Before the main window exists.
void InitOptionsUnit();
// After the message loop and the main window are gone. A failing save is reported on one line
// of standard error and goes no further.
void DoneOptionsUnit();

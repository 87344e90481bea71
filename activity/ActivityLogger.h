// The in-memory, append-only journal of what the rule engine did, and its
// rendering as a plain-text report.
#pragma once

#include "common/OwnedList.h"

#include <cstdint>
#include <initializer_list>
#include <string>

namespace keystrip {

enum TActivitySeverity : uint8_t { asInfo, asWarning, asError, asDebug };

enum TActivityAction : uint8_t {
    aaFatalError,
    aaStartDetection,
    aaStopDetection,
    ssStartRemoval,
    ssStopRemoval,
    ssSimulationOnly,
    baKeyFound,
    aaKeyNotFound,
    aaNameFound,
    aaNameNotFound,
    aaNameInvalid,
    aaValueEqual,
    aaValueDifferent,
    aaKeyDeleted,
    aaKeyNotDeleted,
    aaNameDeleted,
    aaNameNotDeleted,
    // Beyond the removal itself: what a removal would delete (a preview),
    // the backup written before deleting, and a restore from such a backup.
    // Entries marked "detail" carry a subject and a detail, joined by
    // WithDetail.
    aaStartPreview,          // product name
    aaStopPreview,           // "Success" when every rule could be applied
    aaKeyWouldBeDeleted,     // key path; detail: what its tree holds
    aaNameWouldBeDeleted,    // value path; detail: its type and size
    aaKeyWouldNotBeDeleted,  // key path; detail: why
    aaNameWouldNotBeDeleted, // value path; detail: why
    aaBackupFile,            // the backup file's name
    aaKeyNotBackedUp,        // key path; detail: why; nothing was deleted
    aaNameNotBackedUp,       // value path; detail: why; nothing was deleted
    aaStartRestore,          // the backup file's name
    aaStopRestore,           // "Success" when everything was restored
    aaKeyRestored,           // key path; detail: how many values
    aaKeyNotRestored,        // key path; detail: why
    aaRestoreRefused,        // why nothing was written
    aaProfileNotLoaded,      // profile; detail: why
    // What a restore would write (-preview with -restore).
    aaStartRestorePreview,   // the backup file's name
    aaKeyWouldBeRestored,    // key path; detail: how many values, or the link's target
    aaKeyWouldNotBeRestored, // key path; detail: why
};

// The data of an entry with a detail: subject and detail joined by a NUL,
// which no path the rule engine logs can hold.
std::u16string WithDetail(const std::u16string& Subject, const std::u16string& Detail);

struct TActivityItem {
    TActivitySeverity Severity = asInfo;
    TActivityAction Action = aaFatalError;
    std::u16string Data;
};
using pActivityItem = TActivityItem*;

// A set of options in one byte: the option with the value n is bit n.
enum TActivityExportOption : uint8_t { eoHeader, eoInfo, eoWarning, eoError, eoDebug, eoSeverity };

class TActivityExportOptions {
public:
    constexpr TActivityExportOptions() = default;
    constexpr TActivityExportOptions(std::initializer_list<TActivityExportOption> options) {
        for (auto o : options)
            bits_ = static_cast<uint8_t>(bits_ | (1u << o));
    }
    static constexpr TActivityExportOptions FromByte(uint8_t bits) {
        TActivityExportOptions o;
        o.bits_ = bits;
        return o;
    }
    constexpr uint8_t Byte() const { return bits_; }
    constexpr bool Has(TActivityExportOption o) const { return (bits_ >> o) & 1u; }

private:
    uint8_t bits_ = 0;
};

class TActivityLogger {
public:
    TActivityLogger() = default;
    virtual ~TActivityLogger();
    TActivityLogger(const TActivityLogger&) = delete;
    TActivityLogger& operator=(const TActivityLogger&) = delete;

    void Log(TActivitySeverity Severity, TActivityAction Action, const std::u16string& Data);
    void Clear();
    int Count() const { return FItems.Count(); }
    pActivityItem GetEntry(int Index) const;
    pActivityItem Entries(int Index) const { return GetEntry(Index); }

    std::u16string Export(TActivityExportOptions Options) const;

private:
    static bool IsExported(const TActivityItem& Item, TActivityExportOptions Options);
    static std::u16string FormatEntry(const TActivityItem& Item, TActivityExportOptions Options);
    // Takes the text by value so that Export's appending stays linear.
    static std::u16string AppendLine(std::u16string Text, const std::u16string& Line);

    OwnedList<TActivityItem> FItems;
};

} // namespace keystrip

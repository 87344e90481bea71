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
    aaNameNotDeleted
};

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

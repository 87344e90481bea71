// Activity-log entries as comparable values, for exact log expectations.
#pragma once

#include "activity/ActivityLogger.h"
#include "common/Utf.h"

#include <ostream>
#include <string>
#include <vector>

namespace keystrip::test {

struct LogEntry {
    TActivitySeverity severity;
    TActivityAction action;
    std::u16string data;

    bool operator==(const LogEntry& other) const {
        return severity == other.severity && action == other.action && data == other.data;
    }
};

inline void PrintTo(const LogEntry& entry, std::ostream* os) {
    *os << "{severity " << int(entry.severity) << ", action " << int(entry.action) << ", \""
        << Utf16ToUtf8(entry.data) << "\"}";
}

inline std::vector<LogEntry> Entries(const TActivityLogger& log) {
    std::vector<LogEntry> entries;
    for (int i = 0; i < log.Count(); ++i) {
        const TActivityItem* item = log.GetEntry(i);
        entries.push_back({item->Severity, item->Action, item->Data});
    }
    return entries;
}

inline size_t CountAction(const std::vector<LogEntry>& entries, TActivityAction action) {
    size_t count = 0;
    for (const auto& entry : entries)
        count += entry.action == action;
    return count;
}

} // namespace keystrip::test

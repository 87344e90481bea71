#include "activity/ActivityLogger.h"

#include <memory>
#include <utility>

namespace keystrip {

namespace {

constexpr const char16_t* kHeaderLines[] = {
    u"Zolva Keystrip", u"Copyright (c) 2026 Zolva Software AG.", u"All rights reserved.", u""};

// Ten characters each: the bracketed word, then blanks.
constexpr const char16_t* kSeverityTags[] = {u"[INFO]    ", u"[WARNING] ", u"[ERROR]   ",
                                             u"[DEBUG]   "};
constexpr const char16_t* kUnknownSeverityTag = u"[UNKNOWN] ";

// Each format has one %s; what stands before and after it, by action value.
// A format with a detail has a second %s, for the part of the data after its
// first NUL, with `between` before it.
struct MessageFormat {
    const char16_t* before;
    const char16_t* after;
    const char16_t* between = nullptr;
};

constexpr MessageFormat kMessageFormats[] = {
    {u"Fatal exception ", u" error"},
    {u"Detecting product \"", u"\""},
    {u"Done: ", u""},
    {u"Removing product \"", u"\""},
    {u"Done: ", u""},
    {u"  !!!Simulation Mode!!! Deleting \"", u"\""},
    {u"  Key \"", u"\" found"},
    {u"  Key \"", u"\" not found"},
    {u"  Name \"", u"\" found"},
    {u"  Name \"", u"\" not found"},
    {u"  Name \"", u"\" invalid"},
    {u"  Value \"", u"\" found"},
    {u"  Value \"", u"\" not found"},
    {u"  Key \"", u"\" deleted"},
    {u"  Key \"", u"\" not deleted (access denied or locked)"},
    {u"  Name \"", u"\" deleted"},
    {u"  Name \"", u"\" not deleted  (access denied or locked)"},
    {u"Checking what removing product \"", u"\" would delete"},
    {u"Done: ", u""},
    {u"  Key \"", u")", u"\" would be deleted ("},
    {u"  Name \"", u")", u"\" would be deleted ("},
    {u"  Key \"", u")", u"\" would not be deleted ("},
    {u"  Name \"", u")", u"\" would not be deleted ("},
    {u"Backup of everything deleted: \"", u"\""},
    {u"  Key \"", u")", u"\" not deleted: the backup could not be written ("},
    {u"  Name \"", u")", u"\" not deleted: the backup could not be written ("},
    {u"Restoring from \"", u"\""},
    {u"Done: ", u""},
    {u"  Key \"", u")", u"\" restored ("},
    {u"  Key \"", u")", u"\" not restored ("},
    {u"Nothing was restored: ", u""},
    {u"Profile \"", u")", u"\" not loaded ("},
    {u"Checking what restoring from \"", u"\" would write"},
    {u"  Key \"", u")", u"\" would be restored ("},
    {u"  Key \"", u")", u"\" would not be restored ("},
};
constexpr size_t kActionCount = sizeof kMessageFormats / sizeof kMessageFormats[0];
static_assert(kActionCount == aaKeyWouldNotBeRestored + 1, "one format per action");

} // namespace

std::u16string WithDetail(const std::u16string& Subject, const std::u16string& Detail) {
    std::u16string data = Subject;
    data += u'\0';
    data += Detail;
    return data;
}

TActivityLogger::~TActivityLogger() {
    Clear();
}

void TActivityLogger::Log(TActivitySeverity Severity, TActivityAction Action,
                          const std::u16string& Data) {
    auto item = std::make_unique<TActivityItem>();
    item->Severity = Severity;
    item->Action = Action;
    item->Data = Data;
    FItems.Add(std::move(item));
}

void TActivityLogger::Clear() {
    FItems.Clear();
}

pActivityItem TActivityLogger::GetEntry(int Index) const {
    return FItems.Get(Index);
}

std::u16string TActivityLogger::Export(TActivityExportOptions Options) const {
    std::u16string text;
    if (Options.Has(eoHeader))
        for (const char16_t* line : kHeaderLines)
            text = AppendLine(std::move(text), line);
    const int count = Count();
    for (int i = 0; i < count; ++i) {
        const TActivityItem& item = *FItems.Get(i);
        if (IsExported(item, Options))
            text = AppendLine(std::move(text), FormatEntry(item, Options));
    }
    return text;
}

bool TActivityLogger::IsExported(const TActivityItem& Item, TActivityExportOptions Options) {
    switch (Item.Severity) {
    case asInfo:
        return Options.Has(eoInfo);
    case asWarning:
        return Options.Has(eoWarning);
    case asError:
        return Options.Has(eoError);
    case asDebug:
        return Options.Has(eoDebug);
    }
    return false;
}

std::u16string TActivityLogger::FormatEntry(const TActivityItem& Item,
                                            TActivityExportOptions Options) {
    std::u16string line;
    if (Options.Has(eoSeverity))
        line = Item.Severity <= asDebug ? kSeverityTags[Item.Severity] : kUnknownSeverityTag;
    if (Item.Action < kActionCount) {
        // Data goes in as stored: a "%" in it is an ordinary character.
        const MessageFormat& format = kMessageFormats[Item.Action];
        line += format.before;
        const size_t split = format.between ? Item.Data.find(u'\0') : std::u16string::npos;
        if (split == std::u16string::npos) {
            line += Item.Data;
        } else {
            line.append(Item.Data, 0, split);
            line += format.between;
            line.append(Item.Data, split + 1, std::u16string::npos);
        }
        line += format.after;
    } else {
        line += u"Unknown action!";
    }
    return line;
}

std::u16string TActivityLogger::AppendLine(std::u16string Text, const std::u16string& Line) {
    if (Text.empty())
        return Line;
    Text += u"\r\n";
    Text += Line;
    return Text;
}

} // namespace keystrip

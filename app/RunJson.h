// The -json file: the run's result for tools that collect it from many
// computers. docs/result-json.md describes the document; SchemaVersion
// changes when a field changes its meaning or goes away (new fields may be
// added without it).
#pragma once

#include "activity/ActivityLogger.h"
#include "app/RunOutcome.h"
#include "platform/SystemInfo.h"

#include <string>

namespace keystrip {

constexpr int kResultSchemaVersion = 1;

struct TRunJsonHeader {
    platform::LocalTime Time;
    std::u16string Computer;
    std::u16string CommandLine;
};

// "2026-12-10T14:03:22+01:00".
std::u16string IsoTime(const platform::LocalTime& Time);

// The document, indented, in ASCII (everything else escaped), ending in CR
// LF. Activity may be null. The products are those a detection checked and
// those a removal or a preview went through, in that order.
std::string RunResultJson(const TRunJsonHeader& Header, const TActivityLogger* Activity,
                          const TRunOutcome& Outcome, bool ExitCodeSwitch);

} // namespace keystrip

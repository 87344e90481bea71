// The process command line: any UTF-16 text through the splitter, the
// presence test and both forms of SwitchValue. Properties: nothing escapes;
// no argument is empty or holds a double quote; the counts agree; a value is
// either the default or an argument that follows a switch argument; the
// integer form agrees with the text form.
#include "app/CommandLine.h"
#include "fuzz/FuzzSupport.h"

#include <string>
#include <vector>

using namespace keystrip;
using keystrip::fuzz::Input;

namespace {

const std::u16string kDefault = u"\u0001default";

void CheckSwitch(const TCommandLine& line, const std::vector<std::u16string>& args,
                 const std::u16string& name) {
    const std::u16string value = line.SwitchValue(name, kDefault);
    if (!line.HasSwitch(name))
        FUZZ_CHECK(value == kDefault);
    if (value != kDefault) {
        bool follows = false;
        for (size_t i = 0; i + 1 < args.size(); ++i)
            follows = follows || (args[i + 1] == value && !args[i].empty() && args[i][0] == u'-');
        FUZZ_CHECK(follows);
    }
    const int32_t number = line.SwitchValue(name, int32_t{-7});
    const std::u16string asText = line.SwitchValue(name, u"-7");
    const auto converted = StrToInt32(asText);
    FUZZ_CHECK(number == (converted ? *converted : -7));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    // A switch name to ask for, then the command line.
    const std::u16string asked = in.Text16(in.Byte() % 16);
    const std::u16string raw = in.Rest16();

    const std::vector<std::u16string> split = SplitCommandLine(raw);
    const TCommandLine line(raw);
    const std::vector<std::u16string> args = line.Arguments();
    // No path means no arguments at all; a path is never empty.
    FUZZ_CHECK(split.empty() ? args.empty() : args.size() + 1 == split.size());
    FUZZ_CHECK(split.empty() || !split[0].empty());
    FUZZ_CHECK(line.Switches() == static_cast<int32_t>(args.size()));
    for (const std::u16string& arg : args) {
        FUZZ_CHECK(!arg.empty());
        FUZZ_CHECK(arg.find(u'"') == std::u16string::npos);
    }

    CheckSwitch(line, args, asked);
    CheckSwitch(line, args, u"product");
    // The first few switches the line holds are present and found by their
    // own names (each query splits the line anew, so all of them would make
    // long lines quadratic).
    int checked = 0;
    for (const std::u16string& arg : args) {
        if (arg.size() < 2 || arg[0] != u'-')
            continue;
        if (++checked > 4)
            break;
        const std::u16string name = arg.substr(1);
        FUZZ_CHECK(line.HasSwitch(name));
        CheckSwitch(line, args, name);
    }
    return 0;
}

#include "app/HelpText.h"

#include "app/RunOutcome.h"
#include "common/Utf.h"

namespace keystrip {

const std::vector<TSwitchHelp>& SwitchHelpRows() {
    static const std::vector<TSwitchHelp> rows = {
        {u"-product", u"NAME", u"removes the product NAME alone once the terms are accepted"},
        {u"-silent", u"", u"with -product: removes it without any window, then ends"},
        {u"-log", u"FILE", u"writes the report to FILE (UTF-8) when the run ends"},
        {u"-exitcode", u"", u"ends with an exit code that tells the result (below)"},
        {u"-help, -?", u"", u"shows this list and does nothing else"},
    };
    return rows;
}

std::u16string HelpText() {
    std::u16string text = u"Usage: ZolvaKeystrip.exe [switches]\r\n";
    for (const TSwitchHelp& row : SwitchHelpRows()) {
        std::u16string name = row.Switch;
        if (*row.Argument)
            name += std::u16string(u" ") + row.Argument;
        text += u"\r\n" + name + u"\t" + row.Line;
    }
    text += u"\r\n\r\nExit codes with -exitcode (without it, always 0); the highest that "
            u"applies:";
    for (TExitCode code : {ecDone, ecRuleFailed, ecUnknownProduct, ecCouldNotStart})
        text += u"\r\n" + U16(std::to_string(static_cast<int>(code))) + u"\t" +
                DescribeExitCode(code);
    return text;
}

} // namespace keystrip

#include "app/HelpText.h"

#include "app/RunOutcome.h"
#include "common/Utf.h"

namespace keystrip {

const std::vector<TSwitchHelp>& SwitchHelpRows() {
    static const std::vector<TSwitchHelp> rows = {
        {u"-product", u"NAME", u"removes that product alone"},
        {u"-silent", u"", u"with -product: removes it, no window"},
        {u"-preview", u"", u"shows what would go, removes nothing"},
        {u"-backup", u"FILE", u"first saves what is removed to FILE"},
        {u"-restore", u"FILE", u"puts back what a backup FILE holds"},
        {u"-allusers", u"", u"user rules apply to every profile"},
        {u"-log", u"FILE", u"writes the report to FILE at the end"},
        {u"-exitcode", u"", u"the exit code tells the result"},
        {u"-help, -?", u"", u"shows this list, does nothing else"},
    };
    return rows;
}

const std::vector<TSwitchCombination>& SwitchCombinationRows() {
    static const std::vector<TSwitchCombination> rows = {
        {u"-restore FILE -preview", u"lists what it would write, writes none"},
        {u"-restore FILE -product NAME", u"refused (exit code 3), nothing done"},
        {u"-restore FILE -backup FILE", u"refused (exit code 3), nothing done"},
    };
    return rows;
}

std::u16string HelpText() {
    // A message box has proportional type: each switch on a line of its own,
    // its line indented by a tab below it, so that all of them align.
    std::u16string text = u"Usage: ZolvaKeystrip.exe [switches]\r\n";
    for (const TSwitchHelp& row : SwitchHelpRows()) {
        text += u"\r\n";
        text += row.Switch;
        if (*row.Argument)
            text += std::u16string(u" ") + row.Argument;
        text += std::u16string(u"\r\n\t") + row.Line;
    }
    text += u"\r\n\r\nTogether:";
    for (const TSwitchCombination& row : SwitchCombinationRows())
        text += std::u16string(u"\r\n") + row.Switches + u"\r\n\t" + row.Line;
    text += u"\r\n\r\nExit codes with -exitcode (without it, always 0); the highest that "
            u"applies:";
    for (TExitCode code : {ecDone, ecRuleFailed, ecUnknownProduct, ecCouldNotStart})
        text +=
            u"\r\n" + U16(std::to_string(static_cast<int>(code))) + u"\t" + DescribeExitCode(code);
    return text;
}

} // namespace keystrip

// What a removal would delete, read from the registry without changing it:
// for each removal rule of a product, whether its key or value is there and
// how much a removal would take with it. It reaches keys and walks trees
// exactly as the remover does (TRegistryTree), with the remover's access, so
// it counts, and refuses, what a removal would delete, and refuse. Opening a
// key changes nothing.
#pragma once

#include "rules/PreviewRecord.h"
#include "rules/ZolvaRuleProcessor.h"

namespace keystrip {

class TZolvaProductInspector : public TZolvaRuleProcessor {
public:
    TZolvaProductInspector(TZolvaProduct* Product, TActivityLogger* Activity,
                           platform::IRegistry& Registry);

    // Logs one entry per removal rule between aaStartPreview and
    // aaStopPreview: aaKeyWouldBeDeleted with the keys and values of its
    // tree, aaNameWouldBeDeleted with the value's type and size, a "not
    // found" entry, or a "would not be deleted" warning with its reason.
    // True when every rule could be applied in full. Errors are caught and
    // logged as aaFatalError "5" (product) or "6" (rule).
    bool ProductInspected();

    // Where ProductInspected also records what it found, key by key and
    // value by value (borrowed; null, the default, for the report alone).
    void SetRecord(TPreviewProduct* Record) { FRecord = Record; }

private:
    // At every root the rule applies to.
    bool InspectRule(const TZolvaProductRemoveRule& Rule, int Index);
    bool InspectRuleAt(const TZolvaProductRemoveRule& Rule);
    bool InspectKey(const TZolvaProductRemoveRule& Rule, const std::u16string& KeyPath);
    bool InspectValue(const TZolvaProductRemoveRule& Rule, const std::u16string& KeyPath,
                      const std::u16string& ValuePath);
    // The record's entry of the rule at hand; null without a record.
    void Note(TPreviewStatus Status, const std::u16string& Reason = u"");

    TPreviewProduct* FRecord = nullptr;
    TPreviewRule* FRule = nullptr;
};

// "REG_SZ", "REG_DWORD", ..., or the type's number for one without a name.
std::u16string RegistryTypeName(uint32_t Type);

} // namespace keystrip

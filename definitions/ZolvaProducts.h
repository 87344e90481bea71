// The catalogue of every product the program knows: the definitions embedded
// in the executable, whether each was found and whether its removal
// succeeded, and the activity log that every detection and removal writes to.
#pragma once

#include "activity/ActivityLogger.h"
#include "common/OwnedList.h"
#include "definitions/ZolvaProduct.h"
#include "platform/Registry.h"
#include "platform/Resources.h"

#include <memory>
#include <string>

namespace keystrip {

class IBackupSink;
class TRuleRoots;
struct TPreviewProduct;
struct TRemovalProduct;

// One catalogue entry. The catalogue owns the entry and, through it, the
// product; both are handed out as borrowed pointers.
struct TZolvaProductsItem {
    std::unique_ptr<TZolvaProduct> Product;
    bool Found = false;
    bool Removed = false;
};
using pZolvaProductsItem = TZolvaProductsItem*;

class TZolvaProducts {
public:
    // Registry and Resources are borrowed and must outlive the catalogue.
    TZolvaProducts(platform::IRegistry& Registry, const platform::IResourceSource& Resources);
    virtual ~TZolvaProducts();
    TZolvaProducts(const TZolvaProducts&) = delete;
    TZolvaProducts& operator=(const TZolvaProducts&) = delete;

    // Frees every entry with its product, in list order. The log stays.
    void Clear();
    // Appends an entry for Product, which the catalogue now owns.
    pZolvaProductsItem Add(std::unique_ptr<TZolvaProduct> Product);
    // The first entry whose product is that very object, or null.
    pZolvaProductsItem Find(const TZolvaProduct* Product) const;
    // The first entry whose product's name equals Name ignoring ASCII case, or null.
    pZolvaProductsItem Find(const std::u16string& Name) const;
    int Count() const { return FProducts.Count(); }

    // Replaces every entry by the definitions "ZOLVAPRODUCT1", "ZOLVAPRODUCT2",
    // ... up to the first missing number. Never raises: on any failure the
    // catalogue is left empty.
    void LoadFromResource();
    // Sets Item's Found from a detection run; null or product-less items are ignored.
    void Detect(pZolvaProductsItem Item);
    // Sets Item's Removed from a removal run that deletes for real. With a
    // Record it also records what became of each rule.
    void Remove(pZolvaProductsItem Item, TRemovalProduct* Record = nullptr);
    // Logs what removing Item would delete, changing nothing, into Log (the
    // catalogue's own when null); true when every rule could be applied in full.
    // With a Record it also records what it found there, key by key.
    bool Inspect(pZolvaProductsItem Item, TActivityLogger* Log = nullptr,
                 TPreviewProduct* Record = nullptr);
    // Every later removal backs up what it deletes to Backup first (borrowed;
    // null for none); the log names the backup.
    void SetBackup(IBackupSink* Backup);
    // Where the rules of later runs apply (borrowed; null: each on its own
    // root), e.g. every user's hive for the rules on HKEY_CURRENT_USER.
    void SetRoots(const TRuleRoots* Roots) { FRoots = Roots; }

    // The read-only indexed property Items[Index].
    pZolvaProductsItem Items(int Index) const { return GetProductItem(Index); }
    TActivityLogger* Activity() const { return FActivity.get(); }

private:
    pZolvaProductsItem GetProductItem(int Index) const;
    void LoadDefinitions();

    platform::IRegistry& FRegistry;
    const platform::IResourceSource& FResources;
    IBackupSink* FBackup = nullptr;
    const TRuleRoots* FRoots = nullptr;
    // Declared before the entries so that it is destroyed after them.
    std::unique_ptr<TActivityLogger> FActivity;
    OwnedList<TZolvaProductsItem> FProducts;
};

} // namespace keystrip

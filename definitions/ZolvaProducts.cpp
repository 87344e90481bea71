#include "definitions/ZolvaProducts.h"

#include "backup/BackupFile.h"
#include "common/TextCase.h"
#include "common/Utf.h"
#include "rules/ZolvaProductInspector.h"
#include "rules/ZolvaRuleProcessor.h"

namespace keystrip {

namespace {

std::u16string DefinitionResourceName(int number) {
    return U16("ZOLVAPRODUCT" + std::to_string(number));
}

} // namespace

TZolvaProducts::TZolvaProducts(platform::IRegistry& Registry,
                               const platform::IResourceSource& Resources)
    : FRegistry(Registry), FResources(Resources), FActivity(std::make_unique<TActivityLogger>()) {}

TZolvaProducts::~TZolvaProducts() {
    Clear();
}

void TZolvaProducts::Clear() {
    FProducts.Clear();
}

pZolvaProductsItem TZolvaProducts::Add(std::unique_ptr<TZolvaProduct> Product) {
    auto item = std::make_unique<TZolvaProductsItem>();
    item->Product = std::move(Product);
    return FProducts.Add(std::move(item));
}

pZolvaProductsItem TZolvaProducts::Find(const TZolvaProduct* Product) const {
    for (int i = 0; i < FProducts.Count(); ++i) {
        pZolvaProductsItem item = FProducts.Get(i);
        if (item->Product.get() == Product)
            return item;
    }
    return nullptr;
}

pZolvaProductsItem TZolvaProducts::Find(const std::u16string& Name) const {
    for (int i = 0; i < FProducts.Count(); ++i) {
        pZolvaProductsItem item = FProducts.Get(i);
        if (item->Product && AsciiSameText(item->Product->Name(), Name))
            return item;
    }
    return nullptr;
}

pZolvaProductsItem TZolvaProducts::GetProductItem(int Index) const {
    return FProducts.Get(Index);
}

void TZolvaProducts::LoadFromResource() {
    try {
        LoadDefinitions();
    } catch (...) {
        // A bad definition or an unreadable resource empties the catalogue;
        // the caller sees the failure only as a count of 0.
        Clear();
    }
}

void TZolvaProducts::LoadDefinitions() {
    Clear();
    for (int number = 1;; ++number) {
        std::unique_ptr<platform::ByteStream> stream =
            FResources.Open(DefinitionResourceName(number));
        if (!stream)
            return;
        stream->Seek(0);
        auto product = std::make_unique<TZolvaProduct>(u"");
        product->LoadFromStream(*stream);
        // A definition without a name is skipped; the numbering goes on.
        if (!product->Name().empty())
            Add(std::move(product));
    }
}

void TZolvaProducts::Detect(pZolvaProductsItem Item) {
    if (!Item || !Item->Product)
        return;
    TZolvaProductDetector detector(Item->Product.get(), FActivity.get(), FRegistry);
    detector.SetRoots(FRoots);
    Item->Found = detector.ProductPresent();
}

void TZolvaProducts::Remove(pZolvaProductsItem Item, TRemovalProduct* Record) {
    if (!Item || !Item->Product)
        return;
    TZolvaProductRemover remover(Item->Product.get(), FActivity.get(), FRegistry);
    remover.SetBackup(FBackup);
    remover.SetRoots(FRoots);
    remover.SetRecord(Record);
    Item->Removed = remover.ProductRemoved();
}

bool TZolvaProducts::Inspect(pZolvaProductsItem Item, TActivityLogger* Log,
                             TPreviewProduct* Record) {
    if (!Item || !Item->Product)
        return true;
    TZolvaProductInspector inspector(Item->Product.get(), Log ? Log : FActivity.get(), FRegistry);
    inspector.SetRoots(FRoots);
    inspector.SetRecord(Record);
    return inspector.ProductInspected();
}

void TZolvaProducts::SetBackup(IBackupSink* Backup) {
    FBackup = Backup;
    if (Backup)
        FActivity->Log(asInfo, aaBackupFile, Backup->Name());
}

} // namespace keystrip

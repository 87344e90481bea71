// The in-memory product definition: a display name, a version and two
// ordered rule lists (detection and removal), with its JSON document form.
#pragma once

#include "common/OwnedList.h"
#include "platform/ByteStream.h"

#include <cstdint>
#include <string>
#include <vector>

namespace keystrip {

// Unscoped 8-bit enumerations: stored values outside the members are
// possible and are converted to text as the ordinal-0 member.
enum TZolvaProductRootKey : uint8_t {
    rkClassesRoot,
    rkCurrentUser,
    rkLocalMachine,
    rkUsers,
    rkPerformanceData,
    rkCurrentConfig,
    rkDynData
};

enum TZolvaProductDetectAction : uint8_t { daKeyExist, daNameExist, daNameMatchValue };

enum TZolvaProductRemoveAction : uint8_t { raCompleteKey, raNameOnly };

struct TZolvaProductDectectRule {
    TZolvaProductRootKey Root = rkClassesRoot;
    std::u16string Key;
    std::u16string Name;
    std::u16string Value;
    TZolvaProductDetectAction Action = daKeyExist;
};
using pZolvaProductDectectRule = TZolvaProductDectectRule*;

struct TZolvaProductRemoveRule {
    TZolvaProductRootKey Root = rkClassesRoot;
    std::u16string Key;
    std::u16string Name;
    TZolvaProductRemoveAction Action = raCompleteKey;
};
using pZolvaProductRemoveRule = TZolvaProductRemoveRule*;

std::u16string RootKeyToText(TZolvaProductRootKey value);
TZolvaProductRootKey TextToRootKey(const std::u16string& text);
std::u16string DetectActionToText(TZolvaProductDetectAction value);
TZolvaProductDetectAction TextToDetectAction(const std::u16string& text);
std::u16string RemoveActionToText(TZolvaProductRemoveAction value);
TZolvaProductRemoveAction TextToRemoveAction(const std::u16string& text);

class TZolvaProduct {
public:
    explicit TZolvaProduct(std::u16string name);
    virtual ~TZolvaProduct();
    TZolvaProduct(const TZolvaProduct&) = delete;
    TZolvaProduct& operator=(const TZolvaProduct&) = delete;

    const std::u16string& Name() const { return FName; }
    int32_t Version() const { return FVersion; }

    void Clear();
    int DetectionCount() const { return FDetections.Count(); }
    int RemovalCount() const { return FRemovals.Count(); }

    pZolvaProductDectectRule AddDetection(TZolvaProductRootKey Root, const std::u16string& Key,
                                          const std::u16string& Name, const std::u16string& Value,
                                          TZolvaProductDetectAction Action);
    pZolvaProductRemoveRule AddRemoval(TZolvaProductRootKey Root, const std::u16string& Key,
                                       const std::u16string& Name,
                                       TZolvaProductRemoveAction Action);
    void DeleteDetection(int Index);
    void DeleteRemoval(int Index);
    int FindDetection(const TZolvaProductDectectRule* Item) const;
    int FindRemoval(const TZolvaProductRemoveRule* Item) const;

    // The read-only indexed properties Detections[Index] and Removals[Index].
    pZolvaProductDectectRule Detections(int Index) const { return GetDetectionItem(Index); }
    pZolvaProductRemoveRule Removals(int Index) const { return GetRemovalItem(Index); }

    void LoadFromBuffer(const std::u16string& Buffer);
    void LoadFromFile(const std::u16string& FileName);
    void LoadFromStream(platform::ByteStream& Stream);
    void SaveToFile(const std::u16string& FileName, const std::u16string& Creator) const;

private:
    pZolvaProductDectectRule GetDetectionItem(int Index) const;
    pZolvaProductRemoveRule GetRemovalItem(int Index) const;
    void LoadFromBytes(const std::vector<uint8_t>& Bytes);

    std::u16string FName;
    int32_t FVersion = 1;
    OwnedList<TZolvaProductDectectRule> FDetections;
    OwnedList<TZolvaProductRemoveRule> FRemovals;
};

} // namespace keystrip

// A resource source for tests that holds exactly the resources a test lists,
// and records which ones were opened and whether their streams were released.
#pragma once

#include "platform/Resources.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace keystrip::platform {

class FakeResources : public IResourceSource {
public:
    FakeResources();
    ~FakeResources() override;

    FakeResources& Add(const std::u16string& name, std::vector<uint8_t> bytes);
    FakeResources& Add(const std::u16string& name, const std::string& bytes);
    // A resource that is listed but whose opening fails with EInOutError.
    FakeResources& AddBroken(const std::u16string& name);
    void Remove(const std::u16string& name);

    // Names compare ignoring ASCII case, as on Windows.
    std::unique_ptr<ByteStream> Open(const std::u16string& name) const override;

    // How often Open was asked for this name, found or not.
    int OpenCount(const std::u16string& name) const;
    // Streams handed out and not yet destroyed.
    int LiveStreams() const;

private:
    struct Entry {
        std::u16string name;
        std::vector<uint8_t> bytes;
        bool broken = false;
    };
    Entry* FindEntry(const std::u16string& name);
    const Entry* FindEntry(const std::u16string& name) const;

    std::vector<Entry> entries_;
    mutable std::map<std::u16string, int> opens_; // keyed by the ASCII-lowered name
    std::shared_ptr<int> live_;                   // shared with the streams
};

} // namespace keystrip::platform

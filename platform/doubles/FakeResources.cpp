#include "platform/doubles/FakeResources.h"

#include "common/Errors.h"
#include "common/TextCase.h"
#include "common/Utf.h"

#include <algorithm>

namespace keystrip::platform {

namespace {

// Counts itself in and out of the shared counter so tests can see leaks of
// resource streams.
class CountedStream : public MemoryStream {
public:
    CountedStream(std::vector<uint8_t> bytes, std::shared_ptr<int> live)
        : MemoryStream(std::move(bytes)), live_(std::move(live)) {
        ++*live_;
    }
    ~CountedStream() override { --*live_; }

private:
    std::shared_ptr<int> live_;
};

} // namespace

FakeResources::FakeResources() : live_(std::make_shared<int>(0)) {}

FakeResources::~FakeResources() = default;

FakeResources& FakeResources::Add(const std::u16string& name, std::vector<uint8_t> bytes) {
    if (Entry* e = FindEntry(name)) {
        e->bytes = std::move(bytes);
        e->broken = false;
    } else {
        entries_.push_back(Entry{name, std::move(bytes), false});
    }
    return *this;
}

FakeResources& FakeResources::Add(const std::u16string& name, const std::string& bytes) {
    return Add(name, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

FakeResources& FakeResources::AddBroken(const std::u16string& name) {
    Add(name, std::vector<uint8_t>{});
    FindEntry(name)->broken = true;
    return *this;
}

void FakeResources::Remove(const std::u16string& name) {
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& e) { return AsciiSameText(e.name, name); }),
                   entries_.end());
}

std::unique_ptr<ByteStream> FakeResources::Open(const std::u16string& name) const {
    ++opens_[AsciiLower(name)];
    const Entry* e = FindEntry(name);
    if (!e)
        return nullptr;
    if (e->broken)
        throw EInOutError("Cannot load the resource " + Utf16ToUtf8(name));
    return std::make_unique<CountedStream>(e->bytes, live_);
}

int FakeResources::OpenCount(const std::u16string& name) const {
    auto it = opens_.find(AsciiLower(name));
    return it == opens_.end() ? 0 : it->second;
}

int FakeResources::LiveStreams() const {
    return *live_;
}

FakeResources::Entry* FakeResources::FindEntry(const std::u16string& name) {
    for (auto& e : entries_)
        if (AsciiSameText(e.name, name))
            return &e;
    return nullptr;
}

const FakeResources::Entry* FakeResources::FindEntry(const std::u16string& name) const {
    return const_cast<FakeResources*>(this)->FindEntry(name);
}

} // namespace keystrip::platform

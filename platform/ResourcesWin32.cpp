#include "platform/ResourcesWin32.h"

#include "common/Errors.h"
#include "common/Utf.h"

#include <windows.h>

#include <string>
#include <utility>

namespace keystrip::platform {

namespace {

// A loaded resource handle, released once. FreeResource does nothing on
// 32- and 64-bit Windows, but pairing it keeps the resource's life that of
// its stream, whatever the platform does.
class LoadedResource {
public:
    explicit LoadedResource(HGLOBAL handle) : handle_(handle) {}
    ~LoadedResource() {
        if (handle_)
            FreeResource(handle_);
    }
    LoadedResource(LoadedResource&& other) noexcept
        : handle_(std::exchange(other.handle_, nullptr)) {}
    LoadedResource& operator=(LoadedResource&&) = delete;
    LoadedResource(const LoadedResource&) = delete;
    LoadedResource& operator=(const LoadedResource&) = delete;

    HGLOBAL Get() const { return handle_; }

private:
    HGLOBAL handle_;
};

// A read-only view over the locked resource data that keeps the resource
// loaded while it lives.
class ResourceStream : public ByteStream {
public:
    ResourceStream(LoadedResource resource, const void* data, size_t size)
        : resource_(std::move(resource)), view_(data, size) {}

    int64_t Size() const override { return view_.Size(); }
    int64_t Position() const override { return view_.Position(); }
    void Seek(int64_t position) override { view_.Seek(position); }
    size_t Read(void* buffer, size_t count) override { return view_.Read(buffer, count); }

private:
    LoadedResource resource_;
    MemoryViewStream view_;
};

} // namespace

std::unique_ptr<ByteStream> Win32Resources::Open(const std::u16string& name) const {
    HMODULE module = module_ ? static_cast<HMODULE>(module_) : GetModuleHandleW(nullptr);
    const std::wstring wide(name.begin(), name.end());
    HRSRC info = FindResourceW(module, wide.c_str(), MAKEINTRESOURCEW(10)); // RT_RCDATA
    if (!info)
        return nullptr;

    LoadedResource loaded(LoadResource(module, info));
    if (!loaded.Get())
        throw EInOutError("Cannot load the resource " + Utf16ToUtf8(name));
    const DWORD size = SizeofResource(module, info);
    const void* data = LockResource(loaded.Get());
    if (!data && size > 0)
        throw EInOutError("Cannot lock the resource " + Utf16ToUtf8(name));
    return std::make_unique<ResourceStream>(std::move(loaded), data, size);
}

} // namespace keystrip::platform

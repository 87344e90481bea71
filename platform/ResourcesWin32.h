// The executable's RT_RCDATA resources read through kernel32.
#pragma once

#include "platform/Resources.h"

namespace keystrip::platform {

class Win32Resources : public IResourceSource {
public:
    // module is the HMODULE searched; null means the running executable.
    explicit Win32Resources(void* module = nullptr) : module_(module) {}

    // Null when the module has no such resource; a resource that is listed
    // but cannot be loaded or locked fails with EInOutError.
    std::unique_ptr<ByteStream> Open(const std::u16string& name) const override;

private:
    void* module_;
};

} // namespace keystrip::platform

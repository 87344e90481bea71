// Move-only owners of GDI objects and image lists.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <utility>

namespace keystrip {

template <typename H, void (*Free)(H)> class TOwnedHandle {
public:
    TOwnedHandle() = default;
    explicit TOwnedHandle(H handle) : FHandle(handle) {}
    ~TOwnedHandle() { Reset(); }
    TOwnedHandle(TOwnedHandle&& other) noexcept : FHandle(std::exchange(other.FHandle, nullptr)) {}
    TOwnedHandle& operator=(TOwnedHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            FHandle = std::exchange(other.FHandle, nullptr);
        }
        return *this;
    }
    TOwnedHandle(const TOwnedHandle&) = delete;
    TOwnedHandle& operator=(const TOwnedHandle&) = delete;

    H Get() const { return FHandle; }
    H Release() { return std::exchange(FHandle, nullptr); }
    void Reset(H handle = nullptr) {
        if (FHandle && FHandle != handle)
            Free(FHandle);
        FHandle = handle;
    }
    explicit operator bool() const { return FHandle != nullptr; }

private:
    H FHandle = nullptr;
};

inline void FreeGdiObject(HGDIOBJ object) {
    DeleteObject(object);
}
inline void FreeFont(HFONT font) {
    DeleteObject(font);
}
inline void FreeBitmap(HBITMAP bitmap) {
    DeleteObject(bitmap);
}
inline void FreeBrush(HBRUSH brush) {
    DeleteObject(brush);
}
inline void FreeImageList(HIMAGELIST list) {
    ImageList_Destroy(list);
}

using TFont = TOwnedHandle<HFONT, FreeFont>;
using TBitmap = TOwnedHandle<HBITMAP, FreeBitmap>;
using TBrush = TOwnedHandle<HBRUSH, FreeBrush>;
using TImageList = TOwnedHandle<HIMAGELIST, FreeImageList>;

} // namespace keystrip

#include "app/Artwork.h"

#include "app/Dpi.h"

#include <string>

namespace keystrip::artwork {

namespace {

HBITMAP LoadRendering(HINSTANCE module, const wchar_t* prefix, int dpi) {
    const std::wstring name = prefix + std::to_wstring(dpi::ArtworkDpi(dpi));
    return static_cast<HBITMAP>(
        LoadImageW(module, name.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

// The bitmap itself when it is a 24-bit picture of the size, else a 24-bit
// copy (the stored renderings use a palette), smoothly scaled when the size
// differs.
HBITMAP Fit(HBITMAP source, int width, int height) {
    BITMAP bm{};
    GetObjectW(source, sizeof(bm), &bm);
    const bool sameSize = bm.bmWidth == width && bm.bmHeight == height;
    if (sameSize && bm.bmBitsPixel == 24)
        return source;
    HBITMAP target = CreateBitmap24(width, height);
    HDC screen = GetDC(nullptr);
    HDC from = CreateCompatibleDC(screen);
    HDC to = CreateCompatibleDC(screen);
    HGDIOBJ oldFrom = SelectObject(from, source);
    HGDIOBJ oldTo = SelectObject(to, target);
    if (sameSize) {
        BitBlt(to, 0, 0, width, height, from, 0, 0, SRCCOPY);
    } else {
        SetStretchBltMode(to, HALFTONE);
        SetBrushOrgEx(to, 0, 0, nullptr);
        StretchBlt(to, 0, 0, width, height, from, 0, 0, bm.bmWidth, bm.bmHeight, SRCCOPY);
    }
    SelectObject(from, oldFrom);
    SelectObject(to, oldTo);
    DeleteDC(from);
    DeleteDC(to);
    ReleaseDC(nullptr, screen);
    DeleteObject(source);
    return target;
}

} // namespace

HBITMAP CreateBitmap24(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap && bits) {
        const int stride = (width * 3 + 3) & ~3;
        memset(bits, 0xFF, static_cast<size_t>(stride) * static_cast<size_t>(height));
    }
    return bitmap;
}

HBITMAP LoadBanner(HINSTANCE module, int dpi, int width, int height) {
    HBITMAP rendering = LoadRendering(module, L"LOGOIMAGE", dpi);
    return rendering ? Fit(rendering, width, height) : nullptr;
}

HIMAGELIST CreateSymbolList(HINSTANCE module, int dpi, int size) {
    HBITMAP strip = LoadRendering(module, L"SYMBOLS", dpi);
    if (!strip)
        return nullptr;
    strip = Fit(strip, size * 3, size);
    HIMAGELIST list = ImageList_Create(size, size, ILC_COLOR24, 3, 0);
    if (list)
        ImageList_Add(list, strip, nullptr);
    DeleteObject(strip);
    return list;
}

} // namespace keystrip::artwork

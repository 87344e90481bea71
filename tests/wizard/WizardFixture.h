// The main window in-process: created over an in-memory registry and a
// resource double, driven through its handlers and window messages, and read
// back through its controls. Needs a display (the suite runs under Xvfb).
#pragma once

#include "app/Application.h"
#include "app/FormControls.h"
#include "app/MainFormUnit.h"
#include "common/Utf.h"
#include "platform/doubles/FakeKeySecurity.h"
#include "platform/doubles/FakeResources.h"
#include "platform/doubles/MemoryRegistry.h"
#include "resources/ShippedResources.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <oleacc.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace keystrip::test {

// A test product: found by the key HKLM\SOFTWARE\ZolvaTest\<Key>, removed
// with that key and the value <Key> of HKCU\...\Run.
struct TestProduct {
    std::string Name;
    std::string Key;
};

inline const std::vector<TestProduct>& TestProducts() {
    static const std::vector<TestProduct> products = {
        {"Zolva Alpha", "Alpha"}, {"Zolva Beta", "Beta"}, {"Zolva Gamma", "Gamma"}};
    return products;
}

inline std::string ProductJson(const TestProduct& p) {
    return R"({"name":")" + p.Name +
           R"(","version":1,"creator":"test",)"
           R"("detection":[{"action":"KeyExist","root":"HKEY_LOCAL_MACHINE",)"
           R"("key":"SOFTWARE\\ZolvaTest\\)" +
           p.Key +
           R"(","name":"","value":""}],)"
           R"("removal":[{"action":"CompleteKey","root":"HKEY_LOCAL_MACHINE",)"
           R"("key":"SOFTWARE\\ZolvaTest\\)" +
           p.Key +
           R"(","name":""},)"
           R"({"action":"NameOnly","root":"HKEY_CURRENT_USER",)"
           R"("key":"Software\\Microsoft\\Windows\\CurrentVersion\\Run","name":")" +
           p.Key + R"("}]})";
}

inline std::u16string RunKey() {
    return u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
}
inline std::u16string ProductKey(const TestProduct& p) {
    return U16("SOFTWARE\\ZolvaTest\\" + p.Key);
}

inline std::vector<uint8_t> ShippedBytes(const std::u16string& name) {
    for (const auto& f : resources::ShippedFiles())
        if (name == f.Name)
            return std::vector<uint8_t>(f.Data, f.Data + f.Size);
    ADD_FAILURE() << "no shipped resource " << Utf16ToUtf8(name);
    return {};
}

inline bool Shown(HWND control) {
    return control && (GetWindowLongPtrW(control, GWL_STYLE) & WS_VISIBLE) != 0;
}

inline std::u16string TextOf(HWND control) {
    const int length = GetWindowTextLengthW(control);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(control, text.data(), length + 1);
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    return std::u16string(text.begin(), text.end());
}

// The name a screen reader reads for a window (asked in-process: Wine answers
// no other process).
inline std::u16string AccessibleName(HWND window) {
    IAccessible* object = nullptr;
    if (AccessibleObjectFromWindow(window, OBJID_CLIENT, __uuidof(IAccessible),
                                   reinterpret_cast<void**>(&object)) != S_OK ||
        !object)
        return u"(no accessible object)";
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    object->get_accName(self, &name);
    std::u16string out = name ? std::u16string(reinterpret_cast<const char16_t*>(name)) : u"";
    SysFreeString(name);
    object->Release();
    return out;
}

inline LRESULT CheckState(HWND box) {
    return SendMessageW(box, BM_GETCHECK, 0, 0);
}

// The pixels of a bitmap as 0xRRGGBB, top row first.
inline std::vector<uint32_t> Pixels(HBITMAP bitmap, int& width, int& height) {
    BITMAP bm{};
    GetObjectW(bitmap, sizeof(bm), &bm);
    width = bm.bmWidth;
    height = bm.bmHeight;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
    HDC dc = GetDC(nullptr);
    GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    for (auto& p : pixels)
        p &= 0xFFFFFF;
    return pixels;
}

// The image list entry as pixels, drawn the way SetSymbol draws it.
inline std::vector<uint32_t> ListEntry(HIMAGELIST list, int index, int& size) {
    int cx = 0, cy = 0;
    ImageList_GetIconSize(list, &cx, &cy);
    size = cx;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = cx;
    info.bmiHeader.biHeight = -cy;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    ImageList_Draw(list, index, dc, 0, 0, ILD_NORMAL);
    SelectObject(dc, old);
    DeleteDC(dc);
    int w = 0, h = 0;
    auto pixels = Pixels(bitmap, w, h);
    DeleteObject(bitmap);
    return pixels;
}

class WizardTest : public testing::Test {
protected:
    void SetUp() override {
        App.Initialize();
        Resources.Add(u"ZOLVASTRINGS", ShippedBytes(u"ZOLVASTRINGS"));
        Resources.Add(u"EULA", ShippedBytes(u"EULA"));
        for (size_t i = 0; i < TestProducts().size(); ++i)
            Resources.Add(U16("ZOLVAPRODUCT" + std::to_string(i + 1)),
                          ProductJson(TestProducts()[i]));
        // Unrelated traces that must survive every run.
        Registry.SetString(platform::kHkeyLocalMachine, u"SOFTWARE\\ZolvaTest\\Keep", u"v",
                           u"stays");
        Registry.SetString(platform::kHkeyCurrentUser, RunKey(), u"SomethingElse", u"x.exe");
    }

    void TearDown() override {
        Form.reset();
        // Leave no WM_QUIT or stray message for the next test.
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    // Plants the traces of a test product.
    void Plant(const TestProduct& p) {
        Registry.SetString(platform::kHkeyLocalMachine, ProductKey(p) + u"\\Settings", u"Path",
                           u"C:\\Zolva");
        Registry.SetString(platform::kHkeyCurrentUser, RunKey(), U16(p.Key), u"run.exe");
    }
    bool Traces(const TestProduct& p) const {
        return Registry.KeyPresent(platform::kHkeyLocalMachine, ProductKey(p)) ||
               Registry.ValuePresent(platform::kHkeyCurrentUser, RunKey(), U16(p.Key));
    }
    bool UnrelatedIntact() const {
        return Registry.ValuePresent(platform::kHkeyLocalMachine, u"SOFTWARE\\ZolvaTest\\Keep",
                                     u"v") &&
               Registry.ValuePresent(platform::kHkeyCurrentUser, RunKey(), u"SomethingElse");
    }

    // The command line after the program's path, e.g. "-product x".
    void Arguments(const std::string& arguments) {
        CommandLine = u"\"C:\\ZolvaKeystrip.exe\" " + U16(arguments);
    }

    TMainForm& Create() {
        TMainFormServices services;
        services.Registry = &Registry;
        services.Resources = &Resources;
        services.CleanBoot = [this] { return CleanBoot; };
        services.CommandLine = CommandLine ? CommandLine : std::u16string(u"ZolvaKeystrip.exe");
        // As the entry point reads them, from the same command line.
        services.Switches = ReadRunSwitches(TCommandLine(*services.CommandLine));
        services.Log = Log;
        services.Unattended = Unattended;
        services.KeySecurity = &Security;
        Form = std::make_unique<TMainForm>(App, services);
        return *Form;
    }

    HWND C(TControlIndex index) const { return Form->Control(index); }

    // The window shown and active, as a user meets it, for the keyboard.
    TMainForm& Open() {
        Create();
        ShowWindow(Form->Handle(), SW_SHOWNORMAL);
        SetForegroundWindow(Form->Handle());
        SetActiveWindow(Form->Handle());
        Pump();
        return *Form;
    }

    void Pump() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                break;
            DispatchForWindow(Form->Handle(), msg);
        }
    }

    // A key as the loop receives it, addressed to the focused control.
    void Key(UINT message, WPARAM key, LPARAM flags = 0) {
        MSG msg{};
        msg.hwnd = GetFocus();
        msg.message = message;
        msg.wParam = key;
        msg.lParam = flags | 1;
        DispatchForWindow(Form->Handle(), msg);
    }
    void Press(WPARAM key) { Key(WM_KEYDOWN, key); }
    void Alt(wchar_t letter) { Key(WM_SYSCHAR, letter, 1 << 29); }

    std::vector<TControlIndex> TabCycle(int steps) {
        std::vector<TControlIndex> seen;
        for (int i = 0; i < steps; ++i) {
            Press(VK_TAB);
            seen.push_back(
                static_cast<TControlIndex>(design::IndexFromId(GetDlgCtrlID(GetFocus()))));
        }
        return seen;
    }
    void Click(TControlIndex index) { SendMessageW(C(index), BM_CLICK, 0, 0); }

    // The user clicking the tick box of a row.
    void ClickBox(int row) {
        const RECT box = Form->ProductsListBox().BoxRect(row);
        const LPARAM at = MAKELPARAM((box.left + box.right) / 2, (box.top + box.bottom) / 2);
        HWND list = C(ciProductsListBox);
        SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(list, WM_LBUTTONUP, 0, at);
    }

    std::vector<bool> Ticks() {
        std::vector<bool> ticks;
        for (int i = 0; i < Form->ProductsListBox().Count(); ++i)
            ticks.push_back(Form->ProductsListBox().Checked(i));
        return ticks;
    }

    int ProgressPosition() {
        return static_cast<int>(SendMessageW(C(ciProgressBar), PBM_GETPOS, 0, 0));
    }
    int ProgressMaximum() {
        return static_cast<int>(SendMessageW(C(ciProgressBar), PBM_GETRANGE, FALSE, 0));
    }

    std::u16string Text(const std::string& key) const {
        TInterfaceTexts texts;
        texts.LoadFromBytes(ShippedBytes(u"ZOLVASTRINGS"));
        return texts.ReadString(u"Texts", U16(key), u"");
    }

    platform::MemoryRegistry Registry;
    platform::FakeKeySecurity Security{Registry};
    platform::FakeResources Resources;
    TApplication App;
    int CleanBoot = 0;
    std::optional<std::u16string> CommandLine;
    TRunLog* Log = nullptr; // the -log file, when a test gives one
    bool Unattended = false;
    std::unique_ptr<TMainForm> Form;
};

} // namespace keystrip::test

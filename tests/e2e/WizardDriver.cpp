// Drives and reads the running wizard from another process, as a test robot:
//
//   WizardDriver wait [seconds]        until the wizard's window shows (exit 1 on timeout)
//   WizardDriver watch seconds         polls until the window is gone or the time is up;
//                                      prints "shown" when it was ever visible, else
//                                      "never shown" (and whether a hidden one was seen)
//   WizardDriver state                 one line per fact: page, client size, default
//                                      button, focused control, and each control's visibility,
//                                      enabled state, check state and caption; list rows and ticks
//   WizardDriver text Name             the control's whole text, UTF-8
//   WizardDriver click Name            BM_CLICK on the control
//   WizardDriver dblclick Name row     a double click with the left button in the middle
//                                      of the list row (posted, as the mouse would)
//   WizardDriver gone [seconds]        until the window no longer exists
//   WizardDriver unplant FILE          deletes, in the 32-bit view, what FILE lists, one
//                                      per line (UTF-8): "K root key" deletes a key with
//                                      its subtree, "V root key name" a value (tab-separated)
//   WizardDriver dialog [seconds]      until a message box titled "Zolva Keystrip" shows;
//                                      prints its text, UTF-8 (exit 1 on timeout)
//   WizardDriver dismiss               presses OK in that message box (exit 1 if none),
//                                      whichever window has the keyboard
//   WizardDriver preview [seconds]     until the preview window shows; prints its title,
//                                      whether the wizard is disabled behind it, its tree's
//                                      class and number of items, the Copy and Close
//                                      buttons' captions, then the report that Copy puts on
//                                      the clipboard (exit 1 on timeout)
//   WizardDriver guard root key on|off in the 32-bit view, "on" gives the key a DACL that
//                                      denies KEY_SET_VALUE to everyone, "off" one that
//                                      allows everything (for a removal rule that fails)
//
// Controls are found by the identifiers the window design gives them.
#include "app/CheckListBox.h"
#include "app/MainFormDesign.h"
#include "app/MainFormUnit.h"
#include "common/Utf.h"
#include "tests/support/NativeKeys.h"

#include <windows.h>

#include <commctrl.h>
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace keystrip;

namespace {

HWND MainWindow() {
    return FindWindowW(TMainForm::kClassName, L"Zolva Keystrip");
}

struct Search {
    int Id;
    HWND Found;
};

BOOL CALLBACK FindById(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    if (GetDlgCtrlID(window) == search->Id) {
        search->Found = window;
        return FALSE;
    }
    return TRUE;
}

HWND ById(HWND main, int id) {
    Search search{id, nullptr};
    EnumChildWindows(main, FindById, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

HWND Control(HWND main, const std::string& name) {
    const int index = design::IndexOf(Utf8ToUtf16(name));
    return index < 0 ? nullptr : ById(main, design::ControlId(index));
}

std::string Text(HWND window) {
    DWORD_PTR length = 0;
    SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, 5000, &got);
    text.resize(static_cast<size_t>(got));
    return Utf16ToUtf8(std::u16string(text.begin(), text.end()));
}

std::string OneLine(std::string text) {
    for (auto& c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    return text;
}

bool StyleVisible(HWND window) {
    return (GetWindowLongPtrW(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

int Wait(double seconds) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    while (GetTickCount() < end) {
        HWND main = MainWindow();
        if (main && IsWindowVisible(main))
            return 0;
        Sleep(50);
    }
    std::fprintf(stderr, "the wizard did not show\n");
    return 1;
}

int Gone(double seconds) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    while (GetTickCount() < end) {
        if (!MainWindow())
            return 0;
        Sleep(50);
    }
    std::fprintf(stderr, "the wizard is still there\n");
    return 1;
}

int Watch(double seconds) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    bool existed = false, shown = false;
    std::printf("watching\n");
    std::fflush(stdout);
    while (GetTickCount() < end) {
        HWND main = MainWindow();
        if (main) {
            existed = true;
            shown = shown || IsWindowVisible(main);
        } else if (existed) {
            break;
        }
        Sleep(5);
    }
    std::printf("%s\n", shown     ? "shown"
                        : existed ? "never shown (hidden window seen)"
                                  : "never shown");
    return 0;
}

int State(HWND main) {
    int page = -1;
    for (int p = 0; p < piCount; ++p) {
        HWND w = ById(main, kFirstPageId + p);
        if (w && StyleVisible(w))
            page = p;
    }
    std::printf("page=%d\n", page);
    RECT client{};
    GetClientRect(main, &client);
    std::printf("client=%ldx%ld\n", client.right, client.bottom);
    const LRESULT def = SendMessageW(main, DM_GETDEFID, 0, 0);
    const int defIndex = HIWORD(def) == DC_HASDEFID ? design::IndexFromId(LOWORD(def)) : -1;
    std::printf("default=%s\n",
                defIndex < 0 ? "" : Utf16ToUtf8(design::Control(defIndex).Name).c_str());
    // The keyboard focus of the wizard's thread, as the next key press meets it.
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    HWND focus =
        GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &gui) ? gui.hwndFocus : nullptr;
    const int focusIndex = focus ? design::IndexFromId(GetDlgCtrlID(focus)) : -1;
    std::printf("focus=%s\n",
                focusIndex < 0 ? "" : Utf16ToUtf8(design::Control(focusIndex).Name).c_str());
    for (int i = 0; i < design::ControlCount(); ++i) {
        const auto& d = design::Control(i);
        HWND w = ById(main, design::ControlId(i));
        if (!w)
            continue;
        const std::string name = Utf16ToUtf8(d.Name);
        std::printf("%s.visible=%d\n", name.c_str(), StyleVisible(w) ? 1 : 0);
        std::printf("%s.enabled=%d\n", name.c_str(), IsWindowEnabled(w) ? 1 : 0);
        if (d.Kind == TControlKind::CheckBox)
            std::printf("%s.check=%d\n", name.c_str(),
                        static_cast<int>(SendMessageW(w, BM_GETCHECK, 0, 0)));
        if (d.Kind == TControlKind::Label || d.Kind == TControlKind::PushButton ||
            d.Kind == TControlKind::CheckBox)
            std::printf("%s.caption=%s\n", name.c_str(), OneLine(Text(w)).c_str());
        if (d.Kind == TControlKind::ProgressBar)
            std::printf("%s.position=%d/%d\n", name.c_str(),
                        static_cast<int>(SendMessageW(w, PBM_GETPOS, 0, 0)),
                        static_cast<int>(SendMessageW(w, PBM_GETRANGE, FALSE, 0)));
        if (d.Kind == TControlKind::CheckListBox) {
            const int rows = static_cast<int>(SendMessageW(w, LB_GETCOUNT, 0, 0));
            for (int r = 0; r < rows; ++r) {
                std::wstring row(static_cast<size_t>(SendMessageW(w, LB_GETTEXTLEN, r, 0)) + 1,
                                 L'\0');
                SendMessageW(w, LB_GETTEXT, r, reinterpret_cast<LPARAM>(row.data()));
                row.resize(wcslen(row.c_str()));
                std::printf(
                    "%s.row%d=%d %s\n", name.c_str(), r,
                    static_cast<int>(SendMessageW(w, TCheckListBox::kGetCheckMessage, r, 0)),
                    Utf16ToUtf8(std::u16string(row.begin(), row.end())).c_str());
            }
        }
    }
    return 0;
}

HKEY RootKey(const std::string& name) {
    if (name == "HKEY_LOCAL_MACHINE")
        return HKEY_LOCAL_MACHINE;
    if (name == "HKEY_CURRENT_USER")
        return HKEY_CURRENT_USER;
    if (name == "HKEY_CLASSES_ROOT")
        return HKEY_CLASSES_ROOT;
    if (name == "HKEY_USERS")
        return HKEY_USERS;
    return nullptr;
}

std::wstring Wide(const std::string& text) {
    const std::u16string wide = Utf8ToUtf16(text);
    return std::wstring(wide.begin(), wide.end());
}

// reg import cannot delete under Wine, and one reg delete per key is slow.
int Unplant(const char* file) {
    std::ifstream in(file);
    std::string line;
    int failures = 0;
    while (std::getline(in, line)) {
        std::vector<std::string> parts;
        std::stringstream fields(line);
        for (std::string part; std::getline(fields, part, '\t');)
            parts.push_back(part);
        if (parts.size() < 3)
            continue;
        HKEY root = RootKey(parts[1]);
        const std::wstring key = Wide(parts[2]);
        LSTATUS rc = ERROR_SUCCESS;
        if (parts[0] == "K") {
            // By counted names and never through a link: an interrupted run may have
            // left NUL names or links below the key.
            HKEY open = nullptr;
            rc = RegOpenKeyExW(root, key.c_str(), REG_OPTION_OPEN_LINK,
                               KEY_ALL_ACCESS | KEY_WOW64_32KEY, &open);
            if (rc == ERROR_SUCCESS) {
                keystrip::test::native::DeleteTree(open);
                RegCloseKey(open);
                HKEY left = nullptr;
                rc = RegOpenKeyExW(root, key.c_str(), REG_OPTION_OPEN_LINK,
                                   KEY_READ | KEY_WOW64_32KEY, &left);
                if (rc == ERROR_SUCCESS) {
                    RegCloseKey(left);
                    rc = ERROR_ACCESS_DENIED; // still there
                }
            }
        } else if (parts[0] == "V" && parts.size() >= 4) {
            HKEY open = nullptr;
            rc = RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE | KEY_WOW64_32KEY, &open);
            if (rc == ERROR_SUCCESS) {
                rc = RegDeleteValueW(open, Wide(parts[3]).c_str());
                RegCloseKey(open);
            }
        }
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
            std::fprintf(stderr, "%s: error %ld\n", line.c_str(), static_cast<long>(rc));
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}

BOOL CALLBACK CollectStatic(HWND window, LPARAM param) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (lstrcmpiW(name, L"Static") == 0) {
        auto* texts = reinterpret_cast<std::string*>(param);
        const std::string text = Text(window);
        if (!text.empty())
            *texts += text + "\n";
    }
    return TRUE;
}

int Dialog(double seconds) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    do {
        HWND box = FindWindowW(L"#32770", L"Zolva Keystrip");
        if (box) {
            std::string texts;
            EnumChildWindows(box, CollectStatic, reinterpret_cast<LPARAM>(&texts));
            std::fwrite(texts.data(), 1, texts.size(), stdout);
            return 0;
        }
        Sleep(100);
    } while (GetTickCount() < end);
    return 1;
}

int Preview(double seconds) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    do {
        HWND window = FindWindowW(L"TPreviewForm", nullptr);
        if (window && IsWindowVisible(window)) {
            HWND tree = GetDlgItem(window, 101);
            HWND copy = GetDlgItem(window, 102);
            HWND close = GetDlgItem(window, IDCANCEL);
            if (!tree || !copy || !close)
                return 1;
            wchar_t treeClass[64] = L"";
            GetClassNameW(tree, treeClass, 64);
            // Copy puts the plain-text report on the clipboard (pressed without
            // taking the focus from the tree).
            SendMessageW(window, WM_COMMAND, MAKEWPARAM(102, BN_CLICKED),
                         reinterpret_cast<LPARAM>(copy));
            std::string report;
            if (OpenClipboard(nullptr)) {
                if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
                    if (const auto* text = static_cast<const char16_t*>(GlobalLock(data))) {
                        report = Utf16ToUtf8(text);
                        GlobalUnlock(data);
                    }
                }
                CloseClipboard();
            }
            HWND owner = GetWindow(window, GW_OWNER);
            const std::string out =
                "title=" + Text(window) +
                "\nowner.enabled=" + (owner && IsWindowEnabled(owner) ? "1" : "0") +
                "\ntree=" + Utf16ToUtf8(std::u16string(treeClass, treeClass + wcslen(treeClass))) +
                "\ntree.items=" + std::to_string(SendMessageW(tree, TVM_GETCOUNT, 0, 0)) +
                "\ncopy=" + Text(copy) + "\nclose=" + Text(close) + "\n\n" + report;
            std::fwrite(out.data(), 1, out.size(), stdout);
            return 0;
        }
        Sleep(100);
    } while (GetTickCount() < end);
    return 1;
}

int Guard(const char* root, const char* key, const std::string& mode) {
    // 0x2 is KEY_SET_VALUE; KA is every key right.
    const wchar_t* sddl = mode == "on" ? L"D:(D;;0x2;;;WD)(A;;KA;;;WD)" : L"D:(A;;KA;;;WD)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr))
        return 1;
    HKEY open = nullptr;
    LSTATUS rc =
        RegCreateKeyExW(RootKey(root), Wide(key).c_str(), 0, nullptr, 0,
                        READ_CONTROL | WRITE_DAC | KEY_WOW64_32KEY, nullptr, &open, nullptr);
    if (rc == ERROR_SUCCESS) {
        rc = RegSetKeySecurity(open, DACL_SECURITY_INFORMATION, descriptor);
        RegCloseKey(open);
    }
    LocalFree(descriptor);
    if (rc != ERROR_SUCCESS)
        std::fprintf(stderr, "guard %s: error %ld\n", key, static_cast<long>(rc));
    return rc == ERROR_SUCCESS ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: WizardDriver wait|watch|gone|state|text|click ...\n");
        return 2;
    }
    const std::string command = argv[1];
    const double seconds = argc > 2 ? std::atof(argv[2]) : 20.0;
    if (command == "wait")
        return Wait(seconds);
    if (command == "watch")
        return Watch(seconds);
    if (command == "gone")
        return Gone(seconds);
    if (command == "unplant" && argc > 2)
        return Unplant(argv[2]);
    if (command == "dialog")
        return Dialog(seconds);
    if (command == "dismiss") {
        HWND box = FindWindowW(L"#32770", L"Zolva Keystrip");
        if (!box)
            return 1;
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return 0;
    }
    if (command == "preview")
        return Preview(seconds);
    if (command == "guard" && argc > 4)
        return Guard(argv[2], argv[3], argv[4]);
    HWND main = MainWindow();
    if (!main) {
        std::fprintf(stderr, "no wizard window\n");
        return 1;
    }
    if (command == "state")
        return State(main);
    if (argc < 3)
        return 2;
    HWND control = Control(main, argv[2]);
    if (!control) {
        std::fprintf(stderr, "no control %s\n", argv[2]);
        return 1;
    }
    if (command == "text") {
        const std::string text = Text(control);
        std::fwrite(text.data(), 1, text.size(), stdout);
        return 0;
    }
    if (command == "click") {
        // Posted: the run a click starts is synchronous, and a click that
        // closes the window must not leave the driver waiting on it.
        PostMessageW(control, BM_CLICK, 0, 0);
        return 0;
    }
    if (command == "dblclick" && argc > 3) {
        RECT row{};
        if (SendMessageW(control, LB_GETITEMRECT, std::atoi(argv[3]),
                         reinterpret_cast<LPARAM>(&row)) == LB_ERR)
            return 1;
        const LPARAM at = MAKELPARAM((row.left + row.right) / 2, (row.top + row.bottom) / 2);
        PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageW(control, WM_LBUTTONUP, 0, at);
        PostMessageW(control, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
        PostMessageW(control, WM_LBUTTONUP, 0, at);
        return 0;
    }
    std::fprintf(stderr, "unknown command %s\n", command.c_str());
    return 2;
}

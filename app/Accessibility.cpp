#include "app/Accessibility.h"

#include "app/CheckListBox.h"
#include "app/Win32Text.h"
#include "platform/SystemLibraryWin32.h"

#include <commctrl.h>
#include <oleacc.h>

#include <memory>
#include <utility>

namespace keystrip::accessibility {

namespace {

constexpr UINT_PTR kNameSubclass = 0x4B41;
// The window property that leads from a named control to its naming.
constexpr wchar_t kNameProperty[] = L"KeystripAccessibleName";

// The entry points, looked up once.
struct TApi {
    decltype(&LresultFromObject) Lresult = nullptr;
    decltype(&CreateStdAccessibleObject) CreateStd = nullptr;
    BSTR(WINAPI* AllocString)(const OLECHAR*) = nullptr;

    explicit operator bool() const { return Lresult && CreateStd && AllocString; }
};

template <typename Fn> void Bind(HMODULE module, const char* name, Fn& fn) {
    fn = module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                : nullptr;
}

const TApi& Api() {
    static const TApi api = [] {
        TApi loaded;
        HMODULE oleacc = platform::LoadSystemLibrary(L"oleacc.dll");
        HMODULE oleaut = platform::LoadSystemLibrary(L"oleaut32.dll");
        Bind(oleacc, "LresultFromObject", loaded.Lresult);
        Bind(oleacc, "CreateStdAccessibleObject", loaded.CreateStd);
        Bind(oleaut, "SysAllocString", loaded.AllocString);
        return loaded;
    }();
    return api;
}

HRESULT Text(const std::u16string& text, BSTR* out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (text.empty())
        return S_FALSE;
    *out = Api().AllocString(AsWide(text).c_str());
    return *out ? S_OK : E_OUTOFMEMORY;
}

void SetI4(VARIANT* out, LONG value) {
    out->vt = VT_I4;
    out->lVal = value;
}

// Everything an object does not answer itself goes to the standard object
// of the window (which knows the window's place, parent and neighbours);
// without one the answers are the plain defaults.
class TForwarding : public IAccessible {
public:
    TForwarding(HWND Window, IAccessible* Inner) : FWindow(Window), FInner(Inner) {}
    virtual ~TForwarding() {
        if (FInner)
            FInner->Release();
    }
    TForwarding(const TForwarding&) = delete;
    TForwarding& operator=(const TForwarding&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out)
            return E_POINTER;
        if (riid == __uuidof(IUnknown) || riid == __uuidof(IDispatch) ||
            riid == __uuidof(IAccessible)) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++FReferences); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long left = --FReferences;
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    // IDispatch: clients of these objects call the interface directly.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

    // IAccessible, forwarded.
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        return FInner ? FInner->get_accParent(parent) : Nothing(parent);
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
        if (FInner)
            return FInner->get_accChildCount(count);
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
        return FInner ? FInner->get_accChild(child, out) : Nothing(out);
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* out) override {
        return FInner ? FInner->get_accName(child, out) : Text(u"", out);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* out) override {
        return FInner ? FInner->get_accValue(child, out) : Missing(out);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* out) override {
        return FInner ? FInner->get_accDescription(child, out) : Missing(out);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* out) override {
        if (FInner)
            return FInner->get_accRole(child, out);
        if (!out)
            return E_POINTER;
        SetI4(out, ROLE_SYSTEM_CLIENT);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* out) override {
        if (FInner)
            return FInner->get_accState(child, out);
        if (!out)
            return E_POINTER;
        SetI4(out, IsWindowVisible(FWindow) ? 0 : STATE_SYSTEM_INVISIBLE);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* out) override {
        return FInner ? FInner->get_accHelp(child, out) : Missing(out);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override {
        return FInner ? FInner->get_accHelpTopic(file, child, topic) : DISP_E_MEMBERNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* out) override {
        return FInner ? FInner->get_accKeyboardShortcut(child, out) : Missing(out);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* out) override {
        if (FInner)
            return FInner->get_accFocus(out);
        return Empty(out);
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* out) override {
        if (FInner)
            return FInner->get_accSelection(out);
        return Empty(out);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* out) override {
        return FInner ? FInner->get_accDefaultAction(child, out) : Missing(out);
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
        return FInner ? FInner->accSelect(flags, child) : DISP_E_MEMBERNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* x, long* y, long* w, long* h,
                                          VARIANT child) override {
        if (FInner)
            return FInner->accLocation(x, y, w, h, child);
        RECT r{};
        GetWindowRect(FWindow, &r);
        return Place(r, x, y, w, h);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* out) override {
        return FInner ? FInner->accNavigate(direction, start, out) : Empty(out, S_FALSE);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* out) override {
        if (FInner)
            return FInner->accHitTest(x, y, out);
        if (!out)
            return E_POINTER;
        SetI4(out, CHILDID_SELF);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        return FInner ? FInner->accDoDefaultAction(child) : DISP_E_MEMBERNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

protected:
    static HRESULT Nothing(IDispatch** out) {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        return S_FALSE;
    }
    static HRESULT Missing(BSTR* out) {
        if (out)
            *out = nullptr;
        return DISP_E_MEMBERNOTFOUND;
    }
    static HRESULT Empty(VARIANT* out, HRESULT result = S_OK) {
        if (!out)
            return E_POINTER;
        out->vt = VT_EMPTY;
        return result;
    }
    static HRESULT Place(const RECT& r, long* x, long* y, long* w, long* h) {
        if (!x || !y || !w || !h)
            return E_POINTER;
        *x = r.left;
        *y = r.top;
        *w = r.right - r.left;
        *h = r.bottom - r.top;
        return S_OK;
    }
    static bool Self(const VARIANT& child) {
        return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
    }

    HWND FWindow;
    IAccessible* FInner;

private:
    long FReferences = 1;
};

IAccessible* StandardObject(HWND window) {
    IAccessible* inner = nullptr;
    if (FAILED(Api().CreateStd(window, OBJID_CLIENT, __uuidof(IAccessible),
                               reinterpret_cast<void**>(&inner))))
        inner = nullptr;
    return inner;
}

LRESULT Answer(IAccessible* object, WPARAM flags) {
    const LRESULT result = Api().Lresult(__uuidof(IAccessible), flags, object);
    object->Release();
    return result;
}

// --- a named control ------------------------------------------------------------

struct TNaming {
    TText Name;
    bool Picture = false;
};

LRESULT CALLBACK NameProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                          DWORD_PTR data);

const TNaming* NamingOf(HWND window) {
    return IsWindow(window) ? static_cast<const TNaming*>(GetPropW(window, kNameProperty))
                            : nullptr;
}

class TNamed final : public TForwarding {
public:
    using TForwarding::TForwarding;

    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* out) override {
        if (!Self(child))
            return TForwarding::get_accName(child, out);
        const TNaming* naming = NamingOf(FWindow);
        if (!naming) {
            if (out)
                *out = nullptr;
            return RPC_E_DISCONNECTED;
        }
        return Text(naming->Name ? naming->Name() : u"", out);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* out) override {
        const TNaming* naming = NamingOf(FWindow);
        if (!Self(child) || !naming || !naming->Picture)
            return TForwarding::get_accRole(child, out);
        if (!out)
            return E_POINTER;
        SetI4(out, ROLE_SYSTEM_GRAPHIC);
        return S_OK;
    }
};

LRESULT CALLBACK NameProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                          DWORD_PTR data) {
    if (msg == WM_GETOBJECT && static_cast<LONG>(lParam) == OBJID_CLIENT && Api())
        return Answer(new TNamed(window, StandardObject(window)), wParam);
    if (msg == WM_NCDESTROY) {
        RemoveWindowSubclass(window, NameProc, kNameSubclass);
        RemovePropW(window, kNameProperty);
        delete reinterpret_cast<TNaming*>(data);
    }
    return DefSubclassProc(window, msg, wParam, lParam);
}

// --- the check list -------------------------------------------------------------

class TCheckListObject final : public TForwarding {
public:
    using TForwarding::TForwarding;

    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
        if (!count)
            return E_POINTER;
        TCheckListBox* list = List();
        if (!list)
            return RPC_E_DISCONNECTED;
        *count = list->Count();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (Self(child))
            return E_INVALIDARG;
        // Rows are simple elements of the list, not objects of their own.
        return Row(child) >= 0 ? S_FALSE : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* out) override {
        TCheckListBox* list = List();
        if (!list)
            return RPC_E_DISCONNECTED;
        if (Self(child)) {
            const auto& name = list->AccessibleTexts().Name;
            return name ? Text(name(), out) : TForwarding::get_accName(child, out);
        }
        const int row = Row(child);
        return row < 0 ? E_INVALIDARG : Text(list->Items(row), out);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* out) override {
        return Self(child) ? TForwarding::get_accValue(child, out) : Missing(out);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* out) override {
        return Self(child) ? TForwarding::get_accDescription(child, out) : Missing(out);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* out) override {
        if (!out)
            return E_POINTER;
        if (!Self(child) && Row(child) < 0)
            return E_INVALIDARG;
        SetI4(out, Self(child) ? ROLE_SYSTEM_LIST : ROLE_SYSTEM_CHECKBUTTON);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* out) override {
        if (Self(child))
            return TForwarding::get_accState(child, out);
        if (!out)
            return E_POINTER;
        TCheckListBox* list = List();
        if (!list)
            return RPC_E_DISCONNECTED;
        const int row = Row(child);
        if (row < 0)
            return E_INVALIDARG;
        LONG state = STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_SELECTABLE;
        if (list->Checked(row))
            state |= STATE_SYSTEM_CHECKED;
        if (Send(LB_GETCURSEL) == row)
            state |= STATE_SYSTEM_SELECTED;
        if (GetFocus() == FWindow && Send(LB_GETCARETINDEX) == row)
            state |= STATE_SYSTEM_FOCUSED;
        RECT item{}, client{};
        GetClientRect(FWindow, &client);
        if (!IsWindowVisible(FWindow))
            state |= STATE_SYSTEM_INVISIBLE;
        else if (!ItemRect(row, item) || item.bottom <= client.top || item.top >= client.bottom)
            state |= STATE_SYSTEM_OFFSCREEN;
        SetI4(out, state);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* out) override {
        return Self(child) ? TForwarding::get_accHelp(child, out) : Missing(out);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* out) override {
        return Self(child) ? TForwarding::get_accKeyboardShortcut(child, out) : Missing(out);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* out) override {
        if (!out)
            return E_POINTER;
        if (GetFocus() != FWindow)
            return Empty(out, S_FALSE);
        const long caret = Send(LB_GETCARETINDEX);
        SetI4(out, caret >= 0 && Row(caret + 1) >= 0 ? caret + 1 : CHILDID_SELF);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* out) override {
        if (!out)
            return E_POINTER;
        const long selected = Send(LB_GETCURSEL);
        if (selected < 0)
            return Empty(out, S_FALSE);
        SetI4(out, selected + 1);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* out) override {
        if (Self(child))
            return Missing(out);
        TCheckListBox* list = List();
        if (!list)
            return RPC_E_DISCONNECTED;
        const int row = Row(child);
        if (row < 0)
            return E_INVALIDARG;
        const auto& texts = list->AccessibleTexts();
        const TText& action = list->Checked(row) ? texts.Uncheck : texts.Check;
        return Text(action ? action() : u"", out);
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
        if (Self(child))
            return TForwarding::accSelect(flags, child);
        const int row = Row(child);
        if (row < 0)
            return E_INVALIDARG;
        if (flags & SELFLAG_TAKEFOCUS) {
            SetFocus(FWindow);
            Send(LB_SETCARETINDEX, row);
        }
        if (flags & (SELFLAG_TAKESELECTION | SELFLAG_ADDSELECTION | SELFLAG_EXTENDSELECTION))
            Send(LB_SETCURSEL, row);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* x, long* y, long* w, long* h,
                                          VARIANT child) override {
        if (Self(child))
            return TForwarding::accLocation(x, y, w, h, child);
        RECT item{};
        const int row = Row(child);
        if (row < 0 || !ItemRect(row, item))
            return E_INVALIDARG;
        MapWindowPoints(FWindow, nullptr, reinterpret_cast<POINT*>(&item), 2);
        return Place(item, x, y, w, h);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* out) override {
        if (!out)
            return E_POINTER;
        TCheckListBox* list = List();
        if (!list)
            return RPC_E_DISCONNECTED;
        const long count = list->Count();
        long target = 0;
        if (Self(start)) {
            if (direction == NAVDIR_FIRSTCHILD)
                target = 1;
            else if (direction == NAVDIR_LASTCHILD)
                target = count;
            else
                return TForwarding::accNavigate(direction, start, out);
        } else {
            const int row = Row(start);
            if (row < 0)
                return E_INVALIDARG;
            if (direction == NAVDIR_NEXT || direction == NAVDIR_DOWN)
                target = row + 2;
            else if (direction == NAVDIR_PREVIOUS || direction == NAVDIR_UP)
                target = row;
            else if (direction == NAVDIR_FIRSTCHILD || direction == NAVDIR_LASTCHILD)
                return E_INVALIDARG;
        }
        if (target < 1 || target > count)
            return Empty(out, S_FALSE);
        SetI4(out, target);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* out) override {
        if (!out)
            return E_POINTER;
        POINT at{x, y};
        ScreenToClient(FWindow, &at);
        RECT client{};
        GetClientRect(FWindow, &client);
        if (!PtInRect(&client, at))
            return TForwarding::accHitTest(x, y, out);
        const LRESULT hit = Send(LB_ITEMFROMPOINT, 0, MAKELPARAM(at.x, at.y));
        const long row = LOWORD(hit);
        SetI4(out, HIWORD(hit) == 0 && Row(row + 1) >= 0 ? row + 1 : CHILDID_SELF);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        if (Self(child))
            return DISP_E_MEMBERNOTFOUND;
        TCheckListBox* list = List();
        if (!list)
            return RPC_E_DISCONNECTED;
        const int row = Row(child);
        if (row < 0)
            return E_INVALIDARG;
        list->ToggleByUser(row);
        return S_OK;
    }

private:
    TCheckListBox* List() const { return TCheckListBox::FromHandle(FWindow); }
    // The row of a child identifier, -1 for none.
    int Row(long id) const {
        TCheckListBox* list = List();
        return list && id >= 1 && id <= list->Count() ? static_cast<int>(id - 1) : -1;
    }
    int Row(const VARIANT& child) const { return child.vt == VT_I4 ? Row(child.lVal) : -1; }
    long Send(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return static_cast<long>(SendMessageW(FWindow, msg, wParam, lParam));
    }
    bool ItemRect(int row, RECT& item) const {
        return SendMessageW(FWindow, LB_GETITEMRECT, static_cast<WPARAM>(row),
                            reinterpret_cast<LPARAM>(&item)) != LB_ERR;
    }
};

} // namespace

void SetName(HWND Control, TText Name, bool Picture) {
    if (!Control)
        return;
    const TNaming* before = NamingOf(Control);
    auto naming = std::make_unique<TNaming>(TNaming{std::move(Name), Picture});
    if (!SetWindowSubclass(Control, NameProc, kNameSubclass,
                           reinterpret_cast<DWORD_PTR>(naming.get())))
        return;
    if (SetPropW(Control, kNameProperty, naming.get()))
        (void)naming.release(); // freed with the control (NameProc, WM_NCDESTROY)
    else
        RemoveWindowSubclass(Control, NameProc, kNameSubclass);
    delete before;
}

LRESULT CheckListObject(HWND List, WPARAM Flags) {
    if (!Api())
        return 0;
    return Answer(new TCheckListObject(List, StandardObject(List)), Flags);
}

std::u16string WithoutAccessKey(const std::u16string& Caption) {
    std::u16string name;
    name.reserve(Caption.size());
    for (size_t i = 0; i < Caption.size(); ++i) {
        if (Caption[i] == u'&' && i + 1 < Caption.size())
            ++i;
        name += Caption[i];
    }
    return name;
}

} // namespace keystrip::accessibility

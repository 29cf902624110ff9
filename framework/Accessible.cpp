#include "framework/Accessible.h"

#include "runtime/SystemLibrary.h"

#include <string>

namespace {

bool IsSelf(const VARIANT& child) {
    return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
}

bool IsRectEmpty(const RECT& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

} // namespace

const TAccessibilityCalls* AccessibilityCalls() {
    static const TAccessibilityCalls* calls = []() -> const TAccessibilityCalls* {
        static TAccessibilityCalls c;
        c.LresultFromObject =
            SystemFunction<decltype(c.LresultFromObject)>("oleacc.dll", "LresultFromObject");
        c.CreateStdAccessibleObject = SystemFunction<decltype(c.CreateStdAccessibleObject)>(
            "oleacc.dll", "CreateStdAccessibleObject");
        c.AccessibleObjectFromWindow = SystemFunction<decltype(c.AccessibleObjectFromWindow)>(
            "oleacc.dll", "AccessibleObjectFromWindow");
        c.SysAllocString =
            SystemFunction<decltype(c.SysAllocString)>("oleaut32.dll", "SysAllocString");
        const bool complete = c.LresultFromObject && c.CreateStdAccessibleObject &&
                              c.AccessibleObjectFromWindow && c.SysAllocString;
        return complete ? &c : nullptr;
    }();
    return calls;
}

bool EnsureComApartment() {
    static thread_local const bool available = [] {
        const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        // Already set up on this thread, in whichever model, is as good.
        return SUCCEEDED(hr) || hr == RPC_E_CHANGED_MODE;
    }();
    return available;
}

TAccessibleObject::TAccessibleObject(HWND window) : FWindow(window) {
    if (const TAccessibilityCalls* calls = AccessibilityCalls())
        calls->CreateStdAccessibleObject(window, OBJID_CLIENT, __uuidof(IAccessible),
                                         reinterpret_cast<void**>(&FStandard));
}

TAccessibleObject::~TAccessibleObject() {
    if (FStandard) FStandard->Release();
}

LRESULT TAccessibleObject::Answer(WPARAM wparam) {
    const TAccessibilityCalls* calls = AccessibilityCalls();
    if (!calls || !FWindow || !EnsureComApartment()) return 0;
    const LRESULT result =
        calls->LresultFromObject(__uuidof(IAccessible), wparam, static_cast<IAccessible*>(this));
    return result > 0 ? result : 0;
}

void TAccessibleObject::Detach() {
    FWindow = nullptr;
    if (FStandard) FStandard->Release();
    FStandard = nullptr;
}

HRESULT STDMETHODCALLTYPE TAccessibleObject::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible)) {
        *out = static_cast<IAccessible*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE TAccessibleObject::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&FReferences));
}

ULONG STDMETHODCALLTYPE TAccessibleObject::Release() {
    const LONG left = InterlockedDecrement(&FReferences);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE TAccessibleObject::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TAccessibleObject::GetTypeInfo(UINT, LCID, ITypeInfo**) {
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE TAccessibleObject::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE TAccessibleObject::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*,
                                                    VARIANT*, EXCEPINFO*, UINT*) {
    return E_NOTIMPL;
}

bool TAccessibleObject::Element(const VARIANT& child, TAccessibleElement& element) {
    if (!FWindow || child.vt != VT_I4 || ChildWindow(child.lVal)) return false;
    return Describe(child.lVal, element);
}

IAccessible* TAccessibleObject::ChildObject(const VARIANT& child) {
    if (!FWindow || child.vt != VT_I4) return nullptr;
    const HWND window = ChildWindow(child.lVal);
    IAccessible* object = nullptr;
    if (window)
        AccessibilityCalls()->AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_WINDOW),
                                                         __uuidof(IAccessible),
                                                         reinterpret_cast<void**>(&object));
    return object;
}

BSTR TAccessibleObject::Text(const std::wstring& text) const {
    return AccessibilityCalls()->SysAllocString(text.c_str());
}

// A question about a windowed child goes to that child's object; the child's own answer.
#define ASK_WINDOWED_CHILD(child, call)                                                            \
    if (IAccessible* object = ChildObject(child)) {                                                \
        VARIANT self;                                                                              \
        self.vt = VT_I4;                                                                           \
        self.lVal = CHILDID_SELF;                                                                  \
        (void)self;                                                                                \
        const HRESULT hr = object->call;                                                           \
        object->Release();                                                                         \
        return hr;                                                                                 \
    }

// What the object leaves the standard object to say of itself.
#define ASK_STANDARD_FOR_SELF(child, call)                                                         \
    if (IsSelf(child) && !DescribesItself()) return FStandard ? FStandard->call : E_FAIL;

HRESULT STDMETHODCALLTYPE TAccessibleObject::get_accParent(IDispatch** parent) {
    if (!FStandard) return E_FAIL;
    return FStandard->get_accParent(parent);
}

HRESULT STDMETHODCALLTYPE TAccessibleObject::get_accChildCount(LONG* count) {
    if (!count) return E_POINTER;
    if (!FWindow) return E_FAIL;
    *count = ChildCount();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TAccessibleObject::get_accChild(VARIANT child, IDispatch** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!FWindow || child.vt != VT_I4 || child.lVal < 1 || child.lVal > ChildCount())
        return E_INVALIDARG;
    if (IAccessible* windowed = ChildObject(child)) {
        *object = windowed;
        return S_OK;
    }
    return S_FALSE; // a simple child: the reader asks this object about it
}

HRESULT STDMETHODCALLTYPE TAccessibleObject::get_accName(VARIANT child, BSTR* name) {
    if (!name) return E_POINTER;
    *name = nullptr;
    ASK_STANDARD_FOR_SELF(child, get_accName(child, name))
    ASK_WINDOWED_CHILD(child, get_accName(self, name))
    TAccessibleElement element;
    if (!Element(child, element)) return E_INVALIDARG;
    if (element.Name.empty() && IsSelf(child) && FStandard)
        return FStandard->get_accName(child, name);
    *name = Text(element.Name);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TAccessibleObject::get_accValue(VARIANT child, BSTR* value) {
    if (!value) return E_POINTER;
    *value = nullptr;
    ASK_WINDOWED_CHILD(child, get_accValue(self, value))
    TAccessibleElement element;
    if (IsSelf(child) && DescribesItself() && Element(child, element) && !element.Value.empty()) {
        *value = Text(element.Value);
        return S_OK;
    }
    if (IsSelf(child) && FStandard) return FStandard->get_accValue(child, value);
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT STDMETHODCALLTYPE TAccessibleObject::get_accDescription(VARIANT, BSTR* description) {
    if (!description) return E_POINTER;
    *description = nullptr;
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT STDMETHODCALLTYPE TAccessibleObject::get_accRole(VARIANT child, VARIANT* role) {
    if (!role) return E_POINTER;
    role->vt = VT_EMPTY;
    ASK_STANDARD_FOR_SELF(child, get_accRole(child, role))
    ASK_WINDOWED_CHILD(child, get_accRole(self, role))
    TAccessibleElement element;
    if (!Element(child, element)) return E_INVALIDARG;
    role->vt = VT_I4;
    role->lVal = element.Role;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TAccessibleObject::get_accState(VARIANT child, VARIANT* state) {
    if (!state) return E_POINTER;
    state->vt = VT_EMPTY;
    ASK_STANDARD_FOR_SELF(child, get_accState(child, state))
    ASK_WINDOWED_CHILD(child, get_accState(self, state))
    TAccessibleElement element;
    if (!Element(child, element)) return E_INVALIDARG;
    state->vt = VT_I4;
    state->lVal = element.State;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TAccessibleObject::get_accHelp(VARIANT, BSTR* help) {
    if (!help) return E_POINTER;
    *help = nullptr;
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT STDMETHODCALLTYPE TAccessibleObject::get_accHelpTopic(BSTR* file, VARIANT, LONG* topic) {
    if (file) *file = nullptr;
    if (topic) *topic = 0;
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT STDMETHODCALLTYPE TAccessibleObject::get_accKeyboardShortcut(VARIANT child,
                                                                     BSTR* shortcut) {
    if (!shortcut) return E_POINTER;
    *shortcut = nullptr;
    if (IsSelf(child) && FStandard) return FStandard->get_accKeyboardShortcut(child, shortcut);
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT STDMETHODCALLTYPE TAccessibleObject::get_accFocus(VARIANT* focus) {
    if (!FStandard) return E_FAIL;
    return FStandard->get_accFocus(focus);
}

HRESULT STDMETHODCALLTYPE TAccessibleObject::get_accSelection(VARIANT* selection) {
    if (!selection) return E_POINTER;
    selection->vt = VT_EMPTY;
    return S_FALSE;
}

HRESULT STDMETHODCALLTYPE TAccessibleObject::get_accDefaultAction(VARIANT child, BSTR* action) {
    if (!action) return E_POINTER;
    *action = nullptr;
    ASK_STANDARD_FOR_SELF(child, get_accDefaultAction(child, action))
    ASK_WINDOWED_CHILD(child, get_accDefaultAction(self, action))
    TAccessibleElement element;
    if (!Element(child, element)) return E_INVALIDARG;
    if (element.DefaultAction.empty()) return DISP_E_MEMBERNOTFOUND;
    *action = Text(element.DefaultAction);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TAccessibleObject::accSelect(LONG flags, VARIANT child) {
    if (IsSelf(child) && FStandard) return FStandard->accSelect(flags, child);
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT STDMETHODCALLTYPE TAccessibleObject::accLocation(LONG* left, LONG* top, LONG* width,
                                                         LONG* height, VARIANT child) {
    if (!left || !top || !width || !height) return E_POINTER;
    ASK_STANDARD_FOR_SELF(child, accLocation(left, top, width, height, child))
    ASK_WINDOWED_CHILD(child, accLocation(left, top, width, height, self))
    TAccessibleElement element;
    if (!Element(child, element)) return E_INVALIDARG;
    if (IsRectEmpty(element.Screen))
        return FStandard && IsSelf(child) ? FStandard->accLocation(left, top, width, height, child)
                                          : S_FALSE;
    *left = element.Screen.left;
    *top = element.Screen.top;
    *width = element.Screen.right - element.Screen.left;
    *height = element.Screen.bottom - element.Screen.top;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TAccessibleObject::accNavigate(LONG direction, VARIANT start,
                                                         VARIANT* end) {
    if (!end) return E_POINTER;
    end->vt = VT_EMPTY;
    if (!FWindow || !FStandard) return E_FAIL;
    const LONG count = ChildCount();
    if (IsSelf(start) && (direction == NAVDIR_FIRSTCHILD || direction == NAVDIR_LASTCHILD)) {
        if (count == 0) return S_FALSE;
        start.lVal = direction == NAVDIR_FIRSTCHILD ? 1 : count;
    } else if (start.vt == VT_I4 && start.lVal >= 1 && start.lVal <= count &&
               (direction == NAVDIR_NEXT || direction == NAVDIR_PREVIOUS)) {
        start.lVal += direction == NAVDIR_NEXT ? 1 : -1;
        if (start.lVal < 1 || start.lVal > count) return S_FALSE;
    } else {
        return FStandard->accNavigate(direction, start, end);
    }
    IDispatch* object = nullptr;
    if (get_accChild(start, &object) == S_OK) {
        end->vt = VT_DISPATCH;
        end->pdispVal = object;
    } else {
        *end = start;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TAccessibleObject::accHitTest(LONG x, LONG y, VARIANT* child) {
    if (!child) return E_POINTER;
    child->vt = VT_EMPTY;
    if (!FWindow || !FStandard) return E_FAIL;
    if (const LONG simple = ChildAt({x, y})) {
        child->vt = VT_I4;
        child->lVal = simple;
        return S_OK;
    }
    return FStandard->accHitTest(x, y, child);
}

HRESULT STDMETHODCALLTYPE TAccessibleObject::accDoDefaultAction(VARIANT child) {
    ASK_WINDOWED_CHILD(child, accDoDefaultAction(self))
    if (!FWindow || child.vt != VT_I4) return E_INVALIDARG;
    return DoDefaultAction(child.lVal) ? S_OK : DISP_E_MEMBERNOTFOUND;
}

HRESULT STDMETHODCALLTYPE TAccessibleObject::put_accName(VARIANT, BSTR) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE TAccessibleObject::put_accValue(VARIANT, BSTR) {
    return E_NOTIMPL;
}

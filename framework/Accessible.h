// Accessible objects: what a screen reader (Narrator, NVDA, through Active Accessibility or UI
// Automation's bridge to it) learns of a window the framework draws itself. A window answers
// WM_GETOBJECT with one of these; what it does not say itself (where the window is, its
// parent, keyboard navigation) comes from the system's standard object for the window.
// oleacc.dll and oleaut32.dll are loaded from the system folder when a reader first asks,
// never linked: a program nobody reads pays nothing.
#pragma once

#include <windows.h>

#include <oleacc.h>

#include <functional>
#include <string>

// The calls of oleacc.dll and oleaut32.dll this needs; null when the system lacks them.
struct TAccessibilityCalls {
    decltype(&::LresultFromObject) LresultFromObject = nullptr;
    decltype(&::CreateStdAccessibleObject) CreateStdAccessibleObject = nullptr;
    decltype(&::AccessibleObjectFromWindow) AccessibleObjectFromWindow = nullptr;
    decltype(&::SysAllocString) SysAllocString = nullptr;
};
const TAccessibilityCalls* AccessibilityCalls();

// COM on the calling thread (an apartment of its own), once; false when it cannot be had.
bool EnsureComApartment();

// What one element says of itself: the object's own (child 0) or one of its simple children,
// those without a window (numbered from 1).
struct TAccessibleElement {
    LONG Role = ROLE_SYSTEM_CLIENT;
    std::wstring Name;
    LONG State = 0;
    std::wstring DefaultAction;
    std::wstring Value; // empty: none, or as the standard object says
    // Where it is on the screen; empty: as the standard object says.
    RECT Screen{0, 0, 0, 0};
};

class TAccessibleObject : public IAccessible {
public:
    // The standard object of `window`'s client area answers what this one leaves alone.
    explicit TAccessibleObject(HWND window);
    TAccessibleObject(const TAccessibleObject&) = delete;
    TAccessibleObject& operator=(const TAccessibleObject&) = delete;

    // The window's answer to WM_GETOBJECT for this object (0 when it cannot be given).
    LRESULT Answer(WPARAM wparam);
    // The element is gone: every later call from a reader fails.
    void Detach();

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IDispatch: readers use the interface itself, not type information.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override;
    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override;
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override;
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override;
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override;
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override;
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override;
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override;
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override;
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override;
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override;
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override;
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override;
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override;
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override;
    HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override;
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                          VARIANT child) override;
    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override;
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* child) override;
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override;
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override;
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override;

protected:
    virtual ~TAccessibleObject();

    // Fills `element` for child `child` (0: the object itself); false: no such child.
    virtual bool Describe(LONG child, TAccessibleElement& element) = 0;
    // Whether Describe speaks for the object itself; else the standard object does.
    virtual bool DescribesItself() const { return true; }
    // The number of children, simple or with windows of their own.
    virtual LONG ChildCount() { return 0; }
    // A child with a window of its own, as the reader should ask it; null for a simple one.
    virtual HWND ChildWindow(LONG child) {
        (void)child;
        return nullptr;
    }
    // The simple child at `screen`, else 0.
    virtual LONG ChildAt(POINT screen) {
        (void)screen;
        return 0;
    }
    // Carries out the default action of `child`; false when it has none now.
    virtual bool DoDefaultAction(LONG child) {
        (void)child;
        return false;
    }
    HWND Window() const { return FWindow; }

private:
    // The element `child` names; false when it names none, or the object is detached.
    bool Element(const VARIANT& child, TAccessibleElement& element);
    // The reader's question about a windowed child, put to that child's own object.
    IAccessible* ChildObject(const VARIANT& child);
    BSTR Text(const std::wstring& text) const;

    LONG FReferences = 1;
    HWND FWindow;
    IAccessible* FStandard = nullptr;
};

// An element without children, described by its control whenever a reader asks (for the
// system's controls the framework puts in front of its own class, which the system's
// standard objects do not always recognise).
class TDescribedAccessible : public TAccessibleObject {
public:
    using TDescribe = std::function<void(TAccessibleElement&)>;
    // `action`: the default action (posted, so that it runs from the message loop).
    TDescribedAccessible(HWND window, TDescribe describe, UINT actionMessage = 0)
        : TAccessibleObject(window), FDescribe(std::move(describe)), FAction(actionMessage) {}

protected:
    bool Describe(LONG child, TAccessibleElement& element) override {
        if (child != CHILDID_SELF) return false;
        FDescribe(element);
        return true;
    }
    bool DoDefaultAction(LONG child) override {
        return child == CHILDID_SELF && FAction && PostMessageW(Window(), FAction, 0, 0);
    }

private:
    TDescribe FDescribe;
    UINT FAction;
};

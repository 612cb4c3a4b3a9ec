#include "skin/Accessible.h"
#include "base/DllSafety.h"
#include "base/Format.h"
#include "skin/WindowTable.h"
#include <oleacc.h>

namespace {

// IID_IAccessible, which mingw's import library gives as a code thunk rather than the GUID.
const GUID kIidAccessible = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

typedef LRESULT(WINAPI *LresultFromObjectFn)(REFIID, WPARAM, LPUNKNOWN);
typedef HRESULT(WINAPI *CreateStdAccessibleObjectFn)(HWND, LONG, REFIID, void **);

// oleacc.dll from the system folder, at run time: it is no DLL that Windows always takes from
// there.
struct OleaccApi {
    LresultFromObjectFn lresultFromObject;
    CreateStdAccessibleObjectFn createStdAccessibleObject;
};

const OleaccApi *Oleacc()
{
    static OleaccApi api;
    static bool loaded = false;
    if (!loaded) {
        loaded = true;
        HMODULE module = LoadSystemLibrary(L"oleacc.dll");
        if (module) {
            api.lresultFromObject = (LresultFromObjectFn)(void *)GetProcAddress(module, "LresultFromObject");
            api.createStdAccessibleObject =
                (CreateStdAccessibleObjectFn)(void *)GetProcAddress(module, "CreateStdAccessibleObject");
        }
    }
    return api.lresultFromObject && api.createStdAccessibleObject ? &api : NULL;
}

bool IsSelf(const VARIANT &child)
{
    return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
}

// The controls' sources, by window, touched only on the thread of the pages (every control's),
// as their accessible objects are.
CWindowTable g_sources;

CAccessibleSource *SourceOf(HWND window)
{
    if (!window || GetWindowThreadProcessId(window, NULL) != GetCurrentThreadId())
        return NULL;
    return (CAccessibleSource *)g_sources.Find(window);
}

// The system's object for a control's client area, with what the control says of itself over
// it; everything else (place, parent, children, focus, navigation) is the system's.
class CAccessibleControl : public IAccessible {
public:
    CAccessibleControl(HWND window, IAccessible *system) : m_refs(1), m_window(window), m_system(system) {}

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void **object) override
    {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, kIidAccessible)) {
            *object = static_cast<IAccessible *>(this);
            AddRef();
            return S_OK;
        }
        *object = NULL;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return (ULONG)InterlockedIncrement(&m_refs); }
    STDMETHODIMP_(ULONG) Release() override
    {
        LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0) {
            m_system->Release();
            delete this;
        }
        return (ULONG)refs;
    }

    // IDispatch: the system object's.
    STDMETHODIMP GetTypeInfoCount(UINT *count) override { return m_system->GetTypeInfoCount(count); }
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo **info) override
    {
        return m_system->GetTypeInfo(index, locale, info);
    }
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR *names, UINT count, LCID locale, DISPID *ids) override
    {
        return m_system->GetIDsOfNames(iid, names, count, locale, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS *params, VARIANT *result,
                        EXCEPINFO *exception, UINT *argument) override
    {
        return m_system->Invoke(id, iid, locale, flags, params, result, exception, argument);
    }

    // IAccessible: what the control says of itself.
    STDMETHODIMP get_accName(VARIANT child, BSTR *name) override
    {
        AccessibleFacts facts;
        if (!IsSelf(child) || !Facts(facts))
            return m_system->get_accName(child, name);
        return Text(facts.name, name);
    }
    STDMETHODIMP get_accValue(VARIANT child, BSTR *value) override
    {
        AccessibleFacts facts;
        if (!IsSelf(child) || !Facts(facts))
            return m_system->get_accValue(child, value);
        return Text(facts.value, value);
    }
    STDMETHODIMP get_accRole(VARIANT child, VARIANT *role) override
    {
        AccessibleFacts facts;
        if (!IsSelf(child) || !Facts(facts) || !role)
            return m_system->get_accRole(child, role);
        role->vt = VT_I4;
        role->lVal = facts.role;
        return S_OK;
    }
    STDMETHODIMP get_accState(VARIANT child, VARIANT *state) override
    {
        HRESULT result = m_system->get_accState(child, state);
        AccessibleFacts facts;
        if (SUCCEEDED(result) && state && state->vt == VT_I4 && IsSelf(child) && Facts(facts))
            state->lVal |= facts.state;
        return result;
    }
    STDMETHODIMP get_accDefaultAction(VARIANT child, BSTR *action) override
    {
        AccessibleFacts facts;
        if (!IsSelf(child) || !Facts(facts))
            return m_system->get_accDefaultAction(child, action);
        return Text(facts.action, action);
    }
    STDMETHODIMP accDoDefaultAction(VARIANT child) override
    {
        if (!IsSelf(child))
            return m_system->accDoDefaultAction(child);
        CAccessibleSource *source = SourceOf(m_window);
        return source && source->DoDefaultAction() ? S_OK : DISP_E_MEMBERNOTFOUND;
    }

    // IAccessible: the system's.
    STDMETHODIMP get_accParent(IDispatch **parent) override { return m_system->get_accParent(parent); }
    STDMETHODIMP get_accChildCount(long *count) override { return m_system->get_accChildCount(count); }
    STDMETHODIMP get_accChild(VARIANT child, IDispatch **object) override
    {
        return m_system->get_accChild(child, object);
    }
    STDMETHODIMP get_accDescription(VARIANT child, BSTR *text) override
    {
        return m_system->get_accDescription(child, text);
    }
    STDMETHODIMP get_accHelp(VARIANT child, BSTR *text) override { return m_system->get_accHelp(child, text); }
    STDMETHODIMP get_accHelpTopic(BSTR *file, VARIANT child, long *topic) override
    {
        return m_system->get_accHelpTopic(file, child, topic);
    }
    STDMETHODIMP get_accKeyboardShortcut(VARIANT child, BSTR *text) override
    {
        return m_system->get_accKeyboardShortcut(child, text);
    }
    STDMETHODIMP get_accFocus(VARIANT *child) override { return m_system->get_accFocus(child); }
    STDMETHODIMP get_accSelection(VARIANT *children) override { return m_system->get_accSelection(children); }
    STDMETHODIMP accSelect(long flags, VARIANT child) override { return m_system->accSelect(flags, child); }
    STDMETHODIMP accLocation(long *left, long *top, long *width, long *height, VARIANT child) override
    {
        return m_system->accLocation(left, top, width, height, child);
    }
    STDMETHODIMP accNavigate(long direction, VARIANT start, VARIANT *end) override
    {
        return m_system->accNavigate(direction, start, end);
    }
    STDMETHODIMP accHitTest(long x, long y, VARIANT *child) override { return m_system->accHitTest(x, y, child); }
    STDMETHODIMP put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
    virtual ~CAccessibleControl() {}

    // Asked anew each time: the control's text and state change while a reader holds the object.
    bool Facts(AccessibleFacts &facts) const
    {
        ZeroMemory(&facts, sizeof(facts));
        CAccessibleSource *source = SourceOf(m_window);
        if (!source)
            return false;
        source->DescribeForReaders(facts);
        return true;
    }
    static HRESULT Text(const WCHAR *text, BSTR *result)
    {
        if (!result)
            return E_POINTER;
        *result = text[0] ? AllocateBstr(text) : NULL;
        return !text[0] ? S_FALSE : *result ? S_OK : E_OUTOFMEMORY;
    }

    LONG m_refs;
    HWND m_window;
    IAccessible *m_system;
};

}

void RegisterAccessibleSource(HWND window, CAccessibleSource *source)
{
    g_sources.Set(window, source);
}

LRESULT AnswerAccessibleObject(HWND window, WPARAM wParam, LPARAM lParam)
{
    const OleaccApi *oleacc = Oleacc();
    if ((LONG)lParam != OBJID_CLIENT || !oleacc || !SourceOf(window))
        return 0;
    IAccessible *system = NULL;
    if (FAILED(oleacc->createStdAccessibleObject(window, OBJID_CLIENT, kIidAccessible, (void **)&system)) || !system)
        return 0;
    CAccessibleControl *control = new CAccessibleControl(window, system);
    // LresultFromObject holds its own reference while the answer travels.
    LRESULT answer = oleacc->lresultFromObject(kIidAccessible, wParam, static_cast<IAccessible *>(control));
    control->Release();
    return answer > 0 ? answer : 0;
}

void AnnounceFocus(HWND window)
{
    NotifyWinEvent(EVENT_OBJECT_FOCUS, window, OBJID_CLIENT, CHILDID_SELF);
}

void AnnounceStateChange(HWND window)
{
    NotifyWinEvent(EVENT_OBJECT_STATECHANGE, window, OBJID_CLIENT, CHILDID_SELF);
}

void AnnounceValueChange(HWND window)
{
    NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, window, OBJID_CLIENT, CHILDID_SELF);
}

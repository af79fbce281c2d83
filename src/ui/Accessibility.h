#pragma once

#include <windows.h>

#include <oleacc.h>

#include <string>
#include <vector>

#include "base/Handles.h"
#include "flow/DetectionRows.h"

namespace Orvane {

// One thing a screen reader finds in the window, as drawn now.
struct AccessibleItem {
    LONG role = ROLE_SYSTEM_STATICTEXT;
    std::wstring name;
    LONG state = STATE_SYSTEM_READONLY;
    RECT rect{};                 // client coordinates
    std::wstring defaultAction;  // empty: none
};

// What the window's accessible object asks of the window, on the UI thread.
class AccessibleSource {
public:
    virtual ~AccessibleSource() = default;
    // The children in reading order; child id N is item N - 1.
    virtual std::vector<AccessibleItem> AccessibleItems() const = 0;
    // A client asked for an item's default action. Must not run it inside the
    // call: the client waits for the answer.
    virtual void RequestDefaultAction(size_t index) = 0;
};

// The IAccessible answering WM_GETOBJECT(OBJID_CLIENT) for a custom-drawn
// window: the system's client object for the window itself, and the source's
// items as its simple children. Clients may keep it after the window is gone,
// so the window disconnects it when it is destroyed.
class WindowAccessible : public IAccessible {
public:
    // A new object with one reference, or null when the system's client
    // object cannot be made.
    static WindowAccessible* Create(HWND window, AccessibleSource& source);

    // From now on every call fails as disconnected.
    void Disconnect();

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch: not offered (clients use the IAccessible methods directly).
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override;

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override;
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override;
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** dispatch) override;
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override;
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override;
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override;
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override;
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override;
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override;
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override;
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override;
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override;
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override;
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override;
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override;
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height,
                                          VARIANT child) override;
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override;
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* child) override;
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override;
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override;
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override;

private:
    WindowAccessible(HWND window, AccessibleSource& source, IAccessible* system);
    virtual ~WindowAccessible();

    // The item a child id names, after checking that the object is connected:
    // S_OK with `item` set, S_FALSE for the window itself, or the error to return.
    HRESULT Find(const VARIANT& child, AccessibleItem& item) const;

    // A query about the window itself goes to the system's object, one about
    // a child to `fromItem` with the child's item.
    template <typename Out, typename SystemAnswer, typename ItemAnswer>
    HRESULT Answer(const VARIANT& child, Out* out, SystemAnswer fromSystem, ItemAnswer fromItem) const
    {
        if (out == nullptr) {
            return E_POINTER;
        }
        AccessibleItem item;
        const HRESULT found = Find(child, item);
        if (found == S_FALSE) {
            return fromSystem(*system_.Get());
        }
        return found == S_OK ? fromItem(item) : found;
    }

    LONG references_ = 1;
    HWND window_;
    AccessibleSource* source_;
    ComReference<IAccessible> system_;  // the system's client object: the window's own answers
};

// COM on the calling thread for this object's lifetime, as handing an
// accessible object to a client (LresultFromObject) needs.
class ComApartment {
public:
    ComApartment();
    ~ComApartment();
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool initialized_;
};

// What a result row says: its drawn texts in reading order, with the status
// dot put in words.
std::wstring RowSpokenText(const CheckRow& row);

}  // namespace Orvane

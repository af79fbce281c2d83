#include "ui/Accessibility.h"

namespace Orvane {

namespace {

// A child id as a client passes it: VT_I4, 0 for the window itself.
bool ChildId(const VARIANT& child, long& id)
{
    if (child.vt != VT_I4) {
        return false;
    }
    id = child.lVal;
    return true;
}

HRESULT SetChild(VARIANT* out, long id)
{
    out->vt = VT_I4;
    out->lVal = id;
    return S_OK;
}

HRESULT ReturnText(const std::wstring& text, BSTR* out)
{
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (text.empty()) {
        return S_FALSE;
    }
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

const wchar_t* StatusWord(RowStatus status)
{
    switch (status) {
    case RowStatus::Ok:
        return L"通过";
    case RowStatus::Warning:
        return L"警告";
    case RowStatus::Failed:
        return L"失败";
    case RowStatus::NotChecked:
        break;
    }
    return L"未检测";
}

}  // namespace

std::wstring RowSpokenText(const CheckRow& row)
{
    std::wstring text;
    for (const std::wstring& part :
         {row.name, row.result, row.recommended, std::wstring(StatusWord(row.status)), row.advice}) {
        if (part.empty()) {
            continue;
        }
        if (!text.empty()) {
            text += L"，";
        }
        text += part;
    }
    return text;
}

ComApartment::ComApartment()
    : initialized_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)))
{
}

ComApartment::~ComApartment()
{
    if (initialized_) {
        CoUninitialize();
    }
}

WindowAccessible* WindowAccessible::Create(HWND window, AccessibleSource& source)
{
    void* system = nullptr;
    if (FAILED(CreateStdAccessibleObject(window, OBJID_CLIENT, __uuidof(IAccessible), &system)) ||
        system == nullptr) {
        return nullptr;
    }
    return new WindowAccessible(window, source, static_cast<IAccessible*>(system));
}

WindowAccessible::WindowAccessible(HWND window, AccessibleSource& source, IAccessible* system)
    : window_(window), source_(&source), system_(system)
{
}

WindowAccessible::~WindowAccessible() = default;

void WindowAccessible::Disconnect()
{
    source_ = nullptr;
    system_.Reset();
}

HRESULT WindowAccessible::Find(const VARIANT& child, AccessibleItem& item) const
{
    if (source_ == nullptr) {
        return RPC_E_DISCONNECTED;
    }
    long id = 0;
    if (!ChildId(child, id)) {
        return E_INVALIDARG;
    }
    if (id == CHILDID_SELF) {
        return S_FALSE;
    }
    const std::vector<AccessibleItem> items = source_->AccessibleItems();
    if (id < 1 || static_cast<size_t>(id) > items.size()) {
        return E_INVALIDARG;
    }
    item = items[static_cast<size_t>(id) - 1];
    return S_OK;
}

// ---- IUnknown and IDispatch ---------------------------------------------------

HRESULT WindowAccessible::QueryInterface(REFIID riid, void** object)
{
    if (object == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, __uuidof(IUnknown)) || IsEqualIID(riid, __uuidof(IDispatch)) ||
        IsEqualIID(riid, __uuidof(IAccessible))) {
        *object = static_cast<IAccessible*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG WindowAccessible::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&references_));
}

ULONG WindowAccessible::Release()
{
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) {
        delete this;
    }
    return static_cast<ULONG>(left);
}

HRESULT WindowAccessible::GetTypeInfoCount(UINT* count)
{
    if (count == nullptr) {
        return E_POINTER;
    }
    *count = 0;
    return S_OK;
}

HRESULT WindowAccessible::GetTypeInfo(UINT, LCID, ITypeInfo**)
{
    return E_NOTIMPL;
}

HRESULT WindowAccessible::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*)
{
    return E_NOTIMPL;
}

HRESULT WindowAccessible::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                 UINT*)
{
    return E_NOTIMPL;
}

// ---- IAccessible ----------------------------------------------------------------

HRESULT WindowAccessible::get_accParent(IDispatch** parent)
{
    if (source_ == nullptr) {
        return RPC_E_DISCONNECTED;
    }
    return system_.Get()->get_accParent(parent);
}

HRESULT WindowAccessible::get_accChildCount(long* count)
{
    if (count == nullptr) {
        return E_POINTER;
    }
    if (source_ == nullptr) {
        return RPC_E_DISCONNECTED;
    }
    *count = static_cast<long>(source_->AccessibleItems().size());
    return S_OK;
}

HRESULT WindowAccessible::get_accChild(VARIANT child, IDispatch** dispatch)
{
    if (dispatch == nullptr) {
        return E_POINTER;
    }
    *dispatch = nullptr;
    AccessibleItem item;
    const HRESULT found = Find(child, item);
    // Every child is a simple element, answered by this object.
    return found == S_OK ? S_FALSE : (found == S_FALSE ? E_INVALIDARG : found);
}

HRESULT WindowAccessible::get_accName(VARIANT child, BSTR* name)
{
    return Answer(
        child, name, [&](IAccessible& system) { return system.get_accName(child, name); },
        [name](const AccessibleItem& item) { return ReturnText(item.name, name); });
}

HRESULT WindowAccessible::get_accValue(VARIANT child, BSTR* value)
{
    return Answer(
        child, value, [&](IAccessible& system) { return system.get_accValue(child, value); },
        [value](const AccessibleItem&) { return ReturnText({}, value); });
}

HRESULT WindowAccessible::get_accDescription(VARIANT child, BSTR* description)
{
    return Answer(
        child, description,
        [&](IAccessible& system) { return system.get_accDescription(child, description); },
        [description](const AccessibleItem&) { return ReturnText({}, description); });
}

HRESULT WindowAccessible::get_accRole(VARIANT child, VARIANT* role)
{
    return Answer(
        child, role, [&](IAccessible& system) { return system.get_accRole(child, role); },
        [role](const AccessibleItem& item) { return SetChild(role, item.role); });
}

HRESULT WindowAccessible::get_accState(VARIANT child, VARIANT* state)
{
    return Answer(
        child, state, [&](IAccessible& system) { return system.get_accState(child, state); },
        [state](const AccessibleItem& item) { return SetChild(state, item.state); });
}

HRESULT WindowAccessible::get_accHelp(VARIANT child, BSTR* help)
{
    AccessibleItem item;
    const HRESULT found = Find(child, item);
    return found == S_OK || found == S_FALSE ? ReturnText({}, help) : found;
}

HRESULT WindowAccessible::get_accHelpTopic(BSTR* file, VARIANT, long* topic)
{
    if (file != nullptr) {
        *file = nullptr;
    }
    if (topic != nullptr) {
        *topic = 0;
    }
    return S_FALSE;
}

HRESULT WindowAccessible::get_accKeyboardShortcut(VARIANT child, BSTR* shortcut)
{
    return Answer(
        child, shortcut,
        [&](IAccessible& system) { return system.get_accKeyboardShortcut(child, shortcut); },
        [shortcut](const AccessibleItem&) { return ReturnText({}, shortcut); });
}

HRESULT WindowAccessible::get_accFocus(VARIANT* child)
{
    if (child == nullptr) {
        return E_POINTER;
    }
    VariantInit(child);
    if (source_ == nullptr) {
        return RPC_E_DISCONNECTED;
    }
    if (GetFocus() != window_) {
        return S_FALSE;
    }
    const std::vector<AccessibleItem> items = source_->AccessibleItems();
    for (size_t i = 0; i < items.size(); ++i) {
        if ((items[i].state & STATE_SYSTEM_FOCUSED) != 0) {
            SetChild(child, static_cast<long>(i + 1));
            return S_OK;
        }
    }
    SetChild(child, CHILDID_SELF);
    return S_OK;
}

HRESULT WindowAccessible::get_accSelection(VARIANT* children)
{
    if (children == nullptr) {
        return E_POINTER;
    }
    VariantInit(children);
    return source_ == nullptr ? RPC_E_DISCONNECTED : S_FALSE;
}

HRESULT WindowAccessible::get_accDefaultAction(VARIANT child, BSTR* action)
{
    return Answer(
        child, action, [&](IAccessible& system) { return system.get_accDefaultAction(child, action); },
        [action](const AccessibleItem& item) { return ReturnText(item.defaultAction, action); });
}

HRESULT WindowAccessible::accSelect(long flags, VARIANT child)
{
    AccessibleItem item;
    const HRESULT found = Find(child, item);
    if (found == S_FALSE) {
        return system_.Get()->accSelect(flags, child);
    }
    return found == S_OK ? DISP_E_MEMBERNOTFOUND : found;
}

HRESULT WindowAccessible::accLocation(long* left, long* top, long* width, long* height,
                                      VARIANT child)
{
    if (left == nullptr || top == nullptr || width == nullptr || height == nullptr) {
        return E_POINTER;
    }
    AccessibleItem item;
    const HRESULT found = Find(child, item);
    if (found == S_FALSE) {
        return system_.Get()->accLocation(left, top, width, height, child);
    }
    if (found != S_OK) {
        return found;
    }
    POINT corner{item.rect.left, item.rect.top};
    ClientToScreen(window_, &corner);
    *left = corner.x;
    *top = corner.y;
    *width = item.rect.right - item.rect.left;
    *height = item.rect.bottom - item.rect.top;
    return S_OK;
}

HRESULT WindowAccessible::accNavigate(long direction, VARIANT start, VARIANT* end)
{
    if (end == nullptr) {
        return E_POINTER;
    }
    VariantInit(end);
    AccessibleItem item;
    const HRESULT found = Find(start, item);
    if (found != S_OK && found != S_FALSE) {
        return found;
    }
    const long count = static_cast<long>(source_->AccessibleItems().size());
    long next = 0;
    if (found == S_FALSE) {
        if (direction == NAVDIR_FIRSTCHILD) {
            next = 1;
        } else if (direction == NAVDIR_LASTCHILD) {
            next = count;
        } else {
            // Siblings of the window are the system's to name.
            return system_.Get()->accNavigate(direction, start, end);
        }
    } else if (direction == NAVDIR_NEXT) {
        next = start.lVal + 1;
    } else if (direction == NAVDIR_PREVIOUS) {
        next = start.lVal - 1;
    }
    if (next < 1 || next > count) {
        return S_FALSE;
    }
    SetChild(end, next);
    return S_OK;
}

HRESULT WindowAccessible::accHitTest(long x, long y, VARIANT* child)
{
    if (child == nullptr) {
        return E_POINTER;
    }
    VariantInit(child);
    if (source_ == nullptr) {
        return RPC_E_DISCONNECTED;
    }
    POINT point{x, y};
    ScreenToClient(window_, &point);
    RECT client{};
    GetClientRect(window_, &client);
    if (!PtInRect(&client, point)) {
        return S_FALSE;
    }
    const std::vector<AccessibleItem> items = source_->AccessibleItems();
    for (size_t i = 0; i < items.size(); ++i) {
        if (PtInRect(&items[i].rect, point)) {
            SetChild(child, static_cast<long>(i + 1));
            return S_OK;
        }
    }
    SetChild(child, CHILDID_SELF);
    return S_OK;
}

HRESULT WindowAccessible::accDoDefaultAction(VARIANT child)
{
    AccessibleItem item;
    const HRESULT found = Find(child, item);
    if (found == S_FALSE) {
        return system_.Get()->accDoDefaultAction(child);
    }
    if (found != S_OK) {
        return found;
    }
    if (item.defaultAction.empty() || (item.state & STATE_SYSTEM_UNAVAILABLE) != 0) {
        return DISP_E_MEMBERNOTFOUND;
    }
    source_->RequestDefaultAction(static_cast<size_t>(child.lVal) - 1);
    return S_OK;
}

HRESULT WindowAccessible::put_accName(VARIANT, BSTR)
{
    return E_NOTIMPL;
}

HRESULT WindowAccessible::put_accValue(VARIANT, BSTR)
{
    return E_NOTIMPL;
}

}  // namespace Orvane

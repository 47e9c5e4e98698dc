// The UI Automation providers of the window (see access_win32.h).
#include "launcher/shell/access_win32.h"

#include <ole2.h>
#include <oleauto.h>
#include <uiautomationcore.h>
#include <uiautomationclient.h>

#include <atomic>
#include <mutex>
#include <utility>

#include "base/paths.h"

// The control patterns' provider interfaces (mingw's uiautomationcore.h
// declares none of them), in the order of their vtables.
struct InvokePattern : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke() = 0;
};
struct TogglePattern : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Toggle() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ToggleState(int* state) = 0;
};
struct SelectionItemPattern : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Select() = 0;
    virtual HRESULT STDMETHODCALLTYPE AddToSelection() = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveFromSelection() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsSelected(BOOL* selected) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SelectionContainer(IRawElementProviderSimple** container) = 0;
};
struct ValuePattern : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetValue(LPCWSTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Value(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsReadOnly(BOOL* readOnly) = 0;
};
__CRT_UUID_DECL(InvokePattern, 0x54fcb24b, 0xe18e, 0x47a2, 0xb4, 0xd3, 0xec, 0xcb, 0xe7, 0x75, 0x99, 0xa2)
__CRT_UUID_DECL(TogglePattern, 0x56d00bd0, 0xc4f4, 0x433c, 0xa8, 0x36, 0x1a, 0x52, 0xa5, 0x7e, 0x08, 0x92)
__CRT_UUID_DECL(SelectionItemPattern, 0x2acad808, 0xb2d4, 0x452d, 0xa4, 0x07, 0x91, 0xff, 0x1a, 0xd1, 0x67, 0xb2)
__CRT_UUID_DECL(ValuePattern, 0xc7935180, 0x6fb3, 0x4201, 0xb1, 0x74, 0x7d, 0xf7, 0x3a, 0xdb, 0xf6, 0x4a)

namespace ember::launcher {

namespace {

constexpr PATTERNID kInvokePattern = 10000, kValuePattern = 10002, kSelectionItemPattern = 10010,
                    kTogglePattern = 10015;
constexpr HRESULT kNotEnabled = static_cast<HRESULT>(0x80040200);
constexpr HRESULT kInvalidOperation = static_cast<HRESULT>(0x80131509);
constexpr UINT kPressMessage = WM_APP + 2;
constexpr UINT kValueMessage = WM_APP + 3;

// Control types, the focus event and an error mingw's headers leave out.
constexpr long kButtonType = 50000, kCheckBoxType = 50002, kEditType = 50004, kHyperlinkType = 50005,
               kListItemType = 50007, kListType = 50008, kRadioButtonType = 50013, kTabItemType = 50019,
               kTextType = 50020, kWindowType = 50032;
constexpr EVENTID kFocusChangedEvent = 20005;
constexpr HRESULT kElementNotAvailable = static_cast<HRESULT>(0x80040201);
constexpr HRESULT kNotSupported = static_cast<HRESULT>(0x80040204);
constexpr int kAppendRuntimeId = 3;
// WM_GETOBJECT's object id for UI Automation (uiautomationcoreapi.h, which
// does not compile as C++).
constexpr long kUiaRootObjectId = -25;

// Functions of uiautomationcore.dll, found at run time: mingw has no import
// library for it.
using ReturnProviderCall = LRESULT(WINAPI*)(HWND, WPARAM, LPARAM, IRawElementProviderSimple*);
using HostProviderCall = HRESULT(WINAPI*)(HWND, IRawElementProviderSimple**);
using RaiseEventCall = HRESULT(WINAPI*)(IRawElementProviderSimple*, EVENTID);
using ListeningCall = BOOL(WINAPI*)();

template <typename Call>
Call procedure(HMODULE module, const char* name) {
    return reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

long controlType(view::AccessRole role) {
    switch (role) {
        case view::AccessRole::button: return kButtonType;
        case view::AccessRole::hyperlink: return kHyperlinkType;
        case view::AccessRole::edit: return kEditType;
        case view::AccessRole::checkBox: return kCheckBoxType;
        case view::AccessRole::radioButton: return kRadioButtonType;
        case view::AccessRole::list: return kListType;
        case view::AccessRole::listItem: return kListItemType;
        case view::AccessRole::tabItem: return kTabItemType;
        case view::AccessRole::text: return kTextType;
        case view::AccessRole::dialog: return kWindowType;
    }
    return kTextType;
}


std::wstring idText(uint64_t id) {
    wchar_t text[24];
    swprintf(text, 24, L"%016llx", static_cast<unsigned long long>(id));
    return text;
}

void setText(VARIANT* v, const std::wstring& text) {
    v->vt = VT_BSTR;
    v->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}
void setBool(VARIANT* v, bool on) {
    v->vt = VT_BOOL;
    v->boolVal = on ? VARIANT_TRUE : VARIANT_FALSE;
}
void setInt(VARIANT* v, long value) {
    v->vt = VT_I4;
    v->lVal = value;
}

}  // namespace

struct UiaCalls {
    ReturnProviderCall returnProvider = nullptr;
    HostProviderCall hostProvider = nullptr;
    RaiseEventCall raiseEvent = nullptr;
    ListeningCall clientsListening = nullptr;
};

struct AccessShared {
    std::mutex lock;
    HWND window = nullptr;
    bool connected = true;
    bool wanted = false;
    POINT origin{};
    SIZE client{};
    std::wstring title;
    std::vector<view::AccessNode> nodes;
    std::vector<AccessTree::NewValue> values;  // set by clients, not yet taken by the window
    UiaCalls uia;
    HMODULE module = nullptr;

    // Index of the node with this id; -1: the root (id 0); -2: gone.
    int find(uint64_t id) const {
        if (id == 0) return -1;
        for (size_t i = 0; i < nodes.size(); ++i)
            if (nodes[i].id == id) return static_cast<int>(i);
        return -2;
    }
};

namespace {

// One provider: the root (id 0) or an element of the tree, by id.
class Element final : public IRawElementProviderSimple,
                      public IRawElementProviderFragment,
                      public IRawElementProviderFragmentRoot,
                      public InvokePattern,
                      public TogglePattern,
                      public SelectionItemPattern,
                      public ValuePattern {
public:
    Element(std::shared_ptr<AccessShared> shared, uint64_t id) : shared_(std::move(shared)), id_(id) {}

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (riid == __uuidof(IUnknown) || riid == __uuidof(IRawElementProviderSimple)) {
            *out = static_cast<IRawElementProviderSimple*>(this);
        } else if (riid == __uuidof(IRawElementProviderFragment)) {
            *out = static_cast<IRawElementProviderFragment*>(this);
        } else if (riid == __uuidof(IRawElementProviderFragmentRoot) && id_ == 0) {
            *out = static_cast<IRawElementProviderFragmentRoot*>(this);
        } else if (riid == __uuidof(InvokePattern) && supports(kInvokePattern)) {
            *out = static_cast<InvokePattern*>(this);
        } else if (riid == __uuidof(TogglePattern) && supports(kTogglePattern)) {
            *out = static_cast<TogglePattern*>(this);
        } else if (riid == __uuidof(SelectionItemPattern) && supports(kSelectionItemPattern)) {
            *out = static_cast<SelectionItemPattern*>(this);
        } else if (riid == __uuidof(ValuePattern) && supports(kValuePattern)) {
            *out = static_cast<ValuePattern*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    // IRawElementProviderSimple
    HRESULT STDMETHODCALLTYPE get_ProviderOptions(ProviderOptions* out) override {
        if (out == nullptr) return E_POINTER;
        *out = ProviderOptions_ServerSideProvider;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPatternProvider(PATTERNID pattern, IUnknown** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (!supports(pattern)) return S_OK;
        switch (pattern) {
            case kInvokePattern: *out = static_cast<InvokePattern*>(this); break;
            case kTogglePattern: *out = static_cast<TogglePattern*>(this); break;
            case kSelectionItemPattern: *out = static_cast<SelectionItemPattern*>(this); break;
            case kValuePattern: *out = static_cast<ValuePattern*>(this); break;
            default: return S_OK;
        }
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPropertyValue(PROPERTYID property, VARIANT* out) override {
        if (out == nullptr) return E_POINTER;
        VariantInit(out);
        std::lock_guard<std::mutex> hold(shared_->lock);
        if (!shared_->connected) return kElementNotAvailable;
        const int at = shared_->find(id_);
        if (at == -2) return kElementNotAvailable;
        if (at == -1) {
            // The window itself (Wine has no default provider to say this).
            switch (property) {
                case UIA_NamePropertyId: setText(out, shared_->title); break;
                case UIA_ControlTypePropertyId: setInt(out, kWindowType); break;
                case UIA_IsEnabledPropertyId: setBool(out, true); break;
                case UIA_FrameworkIdPropertyId: setText(out, L"KilnUI"); break;
                case UIA_ProviderDescriptionPropertyId: setText(out, L"Emberlane window"); break;
                default: break;
            }
            return S_OK;
        }
        const view::AccessNode& n = shared_->nodes[size_t(at)];
        switch (property) {
            case UIA_NamePropertyId: setText(out, toWide(n.name)); break;
            case UIA_ControlTypePropertyId: setInt(out, controlType(n.role)); break;
            case UIA_AutomationIdPropertyId: setText(out, idText(n.id)); break;
            case UIA_IsEnabledPropertyId: setBool(out, n.enabled); break;
            case UIA_HasKeyboardFocusPropertyId: setBool(out, n.focused); break;
            case UIA_IsKeyboardFocusablePropertyId: setBool(out, n.role != view::AccessRole::text); break;
            case UIA_IsPasswordPropertyId: setBool(out, n.secret); break;
            case UIA_IsDialogPropertyId: setBool(out, n.role == view::AccessRole::dialog); break;
            case UIA_IsControlElementPropertyId:
            case UIA_IsContentElementPropertyId: setBool(out, true); break;
            case UIA_FrameworkIdPropertyId: setText(out, L"KilnUI"); break;
            default: break;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_HostRawElementProvider(IRawElementProviderSimple** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (id_ != 0) return S_OK;
        HWND window = nullptr;
        HostProviderCall host = nullptr;
        {
            std::lock_guard<std::mutex> hold(shared_->lock);
            if (!shared_->connected) return kElementNotAvailable;
            window = shared_->window;
            host = shared_->uia.hostProvider;
        }
        return host != nullptr ? host(window, out) : S_OK;
    }

    // IRawElementProviderFragment
    HRESULT STDMETHODCALLTYPE Navigate(NavigateDirection direction, IRawElementProviderFragment** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        uint64_t to = 0;
        {
            std::lock_guard<std::mutex> hold(shared_->lock);
            if (!shared_->connected) return kElementNotAvailable;
            const std::vector<view::AccessNode>& nodes = shared_->nodes;
            const int at = shared_->find(id_);
            if (at == -2) return kElementNotAvailable;
            const int parent = at == -1 ? -2 : nodes[size_t(at)].parent;
            int found = -3;  // -3: nothing there
            switch (direction) {
                case NavigateDirection_Parent:
                    if (at >= 0) found = parent;  // -1: the root
                    break;
                case NavigateDirection_NextSibling:
                    for (int i = at + 1; at >= 0 && i < int(nodes.size()) && found == -3; ++i)
                        if (nodes[size_t(i)].parent == parent) found = i;
                    break;
                case NavigateDirection_PreviousSibling:
                    for (int i = at - 1; at >= 0 && i >= 0 && found == -3; --i)
                        if (nodes[size_t(i)].parent == parent) found = i;
                    break;
                case NavigateDirection_FirstChild:
                    for (int i = 0; i < int(nodes.size()) && found == -3; ++i)
                        if (nodes[size_t(i)].parent == at) found = i;
                    break;
                case NavigateDirection_LastChild:
                    for (int i = int(nodes.size()) - 1; i >= 0 && found == -3; --i)
                        if (nodes[size_t(i)].parent == at) found = i;
                    break;
            }
            if (found == -3) return S_OK;
            to = found == -1 ? 0 : nodes[size_t(found)].id;
        }
        *out = new Element(shared_, to);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRuntimeId(SAFEARRAY** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (id_ == 0) return S_OK;  // the window's own id comes from its host
        {
            std::lock_guard<std::mutex> hold(shared_->lock);
            if (!shared_->connected || shared_->find(id_) < 0) return kElementNotAvailable;
        }
        const int parts[3] = {kAppendRuntimeId, static_cast<int>(id_ & 0xFFFFFFFFu), static_cast<int>(id_ >> 32)};
        SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 0, 3);
        if (array == nullptr) return E_OUTOFMEMORY;
        for (LONG i = 0; i < 3; ++i) SafeArrayPutElement(array, &i, const_cast<int*>(&parts[i]));
        *out = array;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_BoundingRectangle(UiaRect* out) override {
        if (out == nullptr) return E_POINTER;
        *out = UiaRect{0, 0, 0, 0};
        std::lock_guard<std::mutex> hold(shared_->lock);
        if (!shared_->connected) return kElementNotAvailable;
        const int at = shared_->find(id_);
        if (at == -2) return kElementNotAvailable;
        const POINT o = shared_->origin;
        if (at == -1) {
            *out = UiaRect{double(o.x), double(o.y), double(shared_->client.cx), double(shared_->client.cy)};
        } else {
            const view::AccessNode& n = shared_->nodes[size_t(at)];
            *out = UiaRect{double(o.x + n.x), double(o.y + n.y), double(n.w), double(n.h)};
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetEmbeddedFragmentRoots(SAFEARRAY** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetFocus() override { return kNotSupported; }
    HRESULT STDMETHODCALLTYPE get_FragmentRoot(IRawElementProviderFragmentRoot** out) override {
        if (out == nullptr) return E_POINTER;
        *out = new Element(shared_, 0);
        return S_OK;
    }

    // IRawElementProviderFragmentRoot (the root only)
    HRESULT STDMETHODCALLTYPE ElementProviderFromPoint(double x, double y, IRawElementProviderFragment** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        uint64_t hit = 0;
        {
            std::lock_guard<std::mutex> hold(shared_->lock);
            if (!shared_->connected) return kElementNotAvailable;
            const double cx = x - shared_->origin.x, cy = y - shared_->origin.y;
            // The last one drawn there: an item before its list, a dialog over the page.
            for (const view::AccessNode& n : shared_->nodes)
                if (cx >= n.x && cy >= n.y && cx < n.x + n.w && cy < n.y + n.h) hit = n.id;
        }
        if (hit != 0) *out = new Element(shared_, hit);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFocus(IRawElementProviderFragment** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        uint64_t focused = 0;
        {
            std::lock_guard<std::mutex> hold(shared_->lock);
            if (!shared_->connected) return kElementNotAvailable;
            for (const view::AccessNode& n : shared_->nodes)
                if (n.focused) focused = n.id;
        }
        if (focused != 0) *out = new Element(shared_, focused);
        return S_OK;
    }

    // Invoke, Toggle, SelectionItem: the press a click makes, on the window's thread.
    HRESULT STDMETHODCALLTYPE Invoke() override { return press(); }
    HRESULT STDMETHODCALLTYPE Toggle() override { return press(); }
    HRESULT STDMETHODCALLTYPE Select() override {
        bool on = false;
        const HRESULT read = state(on);
        if (FAILED(read)) return read;
        return on ? S_OK : press();
    }
    HRESULT STDMETHODCALLTYPE AddToSelection() override {
        bool on = false;
        const HRESULT read = state(on);
        return FAILED(read) ? read : on ? S_OK : kInvalidOperation;  // one chosen at a time
    }
    HRESULT STDMETHODCALLTYPE RemoveFromSelection() override {
        bool on = false;
        const HRESULT read = state(on);
        return FAILED(read) ? read : on ? kInvalidOperation : S_OK;  // a choice is only replaced
    }
    HRESULT STDMETHODCALLTYPE get_ToggleState(int* out) override {
        if (out == nullptr) return E_POINTER;
        bool on = false;
        const HRESULT read = state(on);
        *out = on ? 1 : 0;
        return read;
    }
    HRESULT STDMETHODCALLTYPE get_IsSelected(BOOL* out) override {
        if (out == nullptr) return E_POINTER;
        bool on = false;
        const HRESULT read = state(on);
        *out = on ? TRUE : FALSE;
        return read;
    }
    HRESULT STDMETHODCALLTYPE get_SelectionContainer(IRawElementProviderSimple** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        uint64_t list = 0;
        {
            std::lock_guard<std::mutex> hold(shared_->lock);
            const int at = shared_->find(id_);
            if (!shared_->connected || at < 0) return kElementNotAvailable;
            const int parent = shared_->nodes[size_t(at)].parent;
            if (parent >= 0) list = shared_->nodes[size_t(parent)].id;
        }
        if (list != 0) *out = static_cast<IRawElementProviderSimple*>(new Element(shared_, list));
        return S_OK;
    }
    // Value: what the field holds, never a secret one's. A new value goes
    // to the window's thread like a press; a secret, read-only or disabled
    // field takes none.
    HRESULT STDMETHODCALLTYPE SetValue(LPCWSTR value) override {
        if (value == nullptr) return E_POINTER;
        HWND window = nullptr;
        {
            std::lock_guard<std::mutex> hold(shared_->lock);
            const int at = shared_->find(id_);
            if (!shared_->connected || at < 0) return kElementNotAvailable;
            const view::AccessNode& node = shared_->nodes[size_t(at)];
            if (!node.enabled) return kNotEnabled;
            if (node.secret || node.readOnly) return kInvalidOperation;
            shared_->values.push_back({id_, toUtf8(value)});
            window = shared_->window;
        }
        return PostMessageW(window, kValueMessage, static_cast<WPARAM>(id_), 0) ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE get_Value(BSTR* out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        std::wstring value;
        {
            std::lock_guard<std::mutex> hold(shared_->lock);
            const int at = shared_->find(id_);
            if (!shared_->connected || at < 0) return kElementNotAvailable;
            value = toWide(shared_->nodes[size_t(at)].value);
        }
        *out = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IsReadOnly(BOOL* out) override {
        if (out == nullptr) return E_POINTER;
        std::lock_guard<std::mutex> hold(shared_->lock);
        const int at = shared_->find(id_);
        if (!shared_->connected || at < 0) return kElementNotAvailable;
        const view::AccessNode& node = shared_->nodes[size_t(at)];
        *out = node.secret || node.readOnly || !node.enabled;
        return S_OK;
    }

private:
    ~Element() = default;

    // Whether the element offers the pattern (by its role; the root none).
    bool supports(PATTERNID pattern) const {
        std::lock_guard<std::mutex> hold(shared_->lock);
        const int at = shared_->find(id_);
        if (at < 0) return false;
        const view::AccessRole role = shared_->nodes[size_t(at)].role;
        switch (pattern) {
            case kInvokePattern: return role == view::AccessRole::button || role == view::AccessRole::hyperlink;
            case kTogglePattern: return role == view::AccessRole::checkBox;
            case kSelectionItemPattern:
                return role == view::AccessRole::radioButton || role == view::AccessRole::listItem ||
                       role == view::AccessRole::tabItem;
            case kValuePattern: return role == view::AccessRole::edit;
            default: return false;
        }
    }
    HRESULT state(bool& on) const {
        std::lock_guard<std::mutex> hold(shared_->lock);
        const int at = shared_->find(id_);
        if (!shared_->connected || at < 0) return kElementNotAvailable;
        on = shared_->nodes[size_t(at)].on;
        return S_OK;
    }
    // A press goes to the window's thread, which presses the element in its
    // next frame as a click would.
    HRESULT press() const {
        HWND window = nullptr;
        {
            std::lock_guard<std::mutex> hold(shared_->lock);
            const int at = shared_->find(id_);
            if (!shared_->connected || at < 0) return kElementNotAvailable;
            if (!shared_->nodes[size_t(at)].enabled) return kNotEnabled;
            window = shared_->window;
        }
        return PostMessageW(window, kPressMessage, static_cast<WPARAM>(id_), 0) ? S_OK : E_FAIL;
    }
    std::shared_ptr<AccessShared> shared_;
    uint64_t id_;
    std::atomic<ULONG> refs_{1};
};

}  // namespace

AccessTree::AccessTree() : shared_(std::make_shared<AccessShared>()) {
    HMODULE module = LoadLibraryW(L"uiautomationcore.dll");
    shared_->module = module;
    if (module == nullptr) return;
    UiaCalls& uia = shared_->uia;
    uia.returnProvider = procedure<ReturnProviderCall>(module, "UiaReturnRawElementProvider");
    uia.hostProvider = procedure<HostProviderCall>(module, "UiaHostProviderFromHwnd");
    uia.raiseEvent = procedure<RaiseEventCall>(module, "UiaRaiseAutomationEvent");
    uia.clientsListening = procedure<ListeningCall>(module, "UiaClientsAreListening");
}

// The library stays loaded: providers handed out may outlive the window.
AccessTree::~AccessTree() = default;

bool AccessTree::isRootRequest(LPARAM lParam) { return static_cast<long>(lParam) == kUiaRootObjectId; }

std::vector<AccessTree::NewValue> AccessTree::takeValues() {
    std::lock_guard<std::mutex> hold(shared_->lock);
    return std::exchange(shared_->values, {});
}

bool AccessTree::wanted() const {
    std::lock_guard<std::mutex> hold(shared_->lock);
    return shared_->wanted;
}

bool AccessTree::answer(HWND window, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    ReturnProviderCall give = nullptr;
    {
        std::lock_guard<std::mutex> hold(shared_->lock);
        if (!shared_->connected || !isRootRequest(lParam)) return false;
        shared_->wanted = true;
        shared_->window = window;
        give = shared_->uia.returnProvider;
    }
    if (give == nullptr) return false;
    IRawElementProviderSimple* root = rootProvider();
    result = give(window, wParam, lParam, root);
    root->Release();
    return true;
}

IRawElementProviderSimple* AccessTree::rootProvider() {
    return static_cast<IRawElementProviderSimple*>(new Element(shared_, 0));
}

void AccessTree::update(HWND window, std::vector<view::AccessNode> nodes, const std::wstring& title) {
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    RECT client{};
    GetClientRect(window, &client);
    uint64_t focused = 0;
    for (const view::AccessNode& n : nodes)
        if (n.focused) focused = n.id;
    UiaCalls uia;
    {
        std::lock_guard<std::mutex> hold(shared_->lock);
        if (!shared_->connected) return;
        shared_->wanted = true;
        shared_->window = window;
        shared_->origin = origin;
        shared_->client = SIZE{client.right - client.left, client.bottom - client.top};
        shared_->title = title;
        shared_->nodes = std::move(nodes);
        uia = shared_->uia;
    }
    if (focused == focused_) return;
    focused_ = focused;
    if (focused == 0 || uia.raiseEvent == nullptr || uia.clientsListening == nullptr || !uia.clientsListening()) return;
    Element* element = new Element(shared_, focused);
    uia.raiseEvent(static_cast<IRawElementProviderSimple*>(element), kFocusChangedEvent);
    element->Release();
}

void AccessTree::disconnect(HWND window) {
    ReturnProviderCall give = nullptr;
    {
        std::lock_guard<std::mutex> hold(shared_->lock);
        if (!shared_->connected) return;
        shared_->connected = false;
        shared_->nodes.clear();
        give = shared_->wanted ? shared_->uia.returnProvider : nullptr;
    }
    // Tells UI Automation the providers of this window are gone.
    if (give != nullptr) give(window, 0, 0, nullptr);
}

}  // namespace ember::launcher

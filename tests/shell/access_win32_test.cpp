// The window's UI Automation providers called in process, as a screen
// reader's requests reach them: the tree's shape and properties, the
// patterns (a press arrives at the window as WM_APP + 2 with the element's
// identity), and an element gone from the frame answering "not available".
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>
#include <uiautomationcore.h>
#include <uiautomationclient.h>

#include <string>

#include "launcher/shell/access_win32.h"

namespace ember::launcher {
namespace {

constexpr HRESULT kElementNotAvailable = static_cast<HRESULT>(0x80040201);
constexpr HRESULT kNotEnabled = static_cast<HRESULT>(0x80040200);
constexpr HRESULT kInvalidOperation = static_cast<HRESULT>(0x80131509);

// The pattern interfaces, as the providers lay them out.
struct Invoke : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE invoke() = 0;
};
struct Toggle : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE toggle() = 0;
    virtual HRESULT STDMETHODCALLTYPE state(int*) = 0;
};
struct SelectionItem : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE select() = 0;
    virtual HRESULT STDMETHODCALLTYPE add() = 0;
    virtual HRESULT STDMETHODCALLTYPE remove() = 0;
    virtual HRESULT STDMETHODCALLTYPE selected(BOOL*) = 0;
    virtual HRESULT STDMETHODCALLTYPE container(IRawElementProviderSimple**) = 0;
};
struct Value : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE set(LPCWSTR) = 0;
    virtual HRESULT STDMETHODCALLTYPE value(BSTR*) = 0;
    virtual HRESULT STDMETHODCALLTYPE readOnly(BOOL*) = 0;
};

view::AccessNode node(uint64_t id, view::AccessRole role, const char* name, int parent = -1) {
    view::AccessNode n;
    n.id = id;
    n.role = role;
    n.name = name;
    n.parent = parent;
    n.x = 10;
    n.y = 20 + int(id % 100);
    n.w = 50;
    n.h = 10;
    return n;
}

std::wstring text(IRawElementProviderSimple* e, PROPERTYID property) {
    VARIANT v;
    VariantInit(&v);
    std::wstring out = L"?";
    if (SUCCEEDED(e->GetPropertyValue(property, &v)) && v.vt == VT_BSTR) out = v.bstrVal;
    VariantClear(&v);
    return out;
}
long number(IRawElementProviderSimple* e, PROPERTYID property) {
    VARIANT v;
    VariantInit(&v);
    long out = -1;
    if (SUCCEEDED(e->GetPropertyValue(property, &v)) && v.vt == VT_I4) out = v.lVal;
    if (SUCCEEDED(e->GetPropertyValue(property, &v)) && v.vt == VT_BOOL) out = v.boolVal ? 1 : 0;
    VariantClear(&v);
    return out;
}

// The children of the root, by navigation, as simple providers (owned).
std::vector<IRawElementProviderSimple*> children(IRawElementProviderFragment* of) {
    std::vector<IRawElementProviderSimple*> out;
    IRawElementProviderFragment* child = nullptr;
    of->Navigate(NavigateDirection_FirstChild, &child);
    while (child != nullptr) {
        IRawElementProviderSimple* simple = nullptr;
        child->QueryInterface(__uuidof(IRawElementProviderSimple), reinterpret_cast<void**>(&simple));
        out.push_back(simple);
        IRawElementProviderFragment* next = nullptr;
        child->Navigate(NavigateDirection_NextSibling, &next);
        child->Release();
        child = next;
    }
    return out;
}

template <typename Pattern>
Pattern* pattern(IRawElementProviderSimple* e, PATTERNID id) {
    IUnknown* unknown = nullptr;
    if (FAILED(e->GetPatternProvider(id, &unknown)) || unknown == nullptr) return nullptr;
    return static_cast<Pattern*>(unknown);
}

// The press the window received, if any (its identity), within a moment.
uint64_t posted(HWND window, UINT message) {
    MSG msg;
    if (PeekMessageW(&msg, window, message, message, PM_REMOVE)) return msg.wParam;
    return 0;
}
uint64_t pressed(HWND window) { return posted(window, WM_APP + 2); }

TEST(AccessProviders, TreePropertiesPatternsAndAnElementThatWent) {
    HWND window = CreateWindowExW(0, L"STATIC", L"Emberlane", WS_POPUP, 100, 200, 400, 300, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    AccessTree tree;
    std::vector<view::AccessNode> nodes;
    nodes.push_back(node(11, view::AccessRole::button, "Log in"));
    nodes.push_back(node(12, view::AccessRole::checkBox, "Remember me"));
    nodes.back().on = true;
    nodes.push_back(node(13 | (uint64_t(1) << 63), view::AccessRole::list, "Realms"));
    nodes.push_back(node(13, view::AccessRole::listItem, "Anvil", 2));
    nodes.back().on = true;
    nodes.push_back(node(14, view::AccessRole::listItem, "Bravil", 2));
    nodes.push_back(node(15, view::AccessRole::edit, "Email"));
    nodes.back().value = "ada@example.com";
    nodes.back().focused = true;
    nodes.push_back(node(16, view::AccessRole::edit, "Password"));
    nodes.back().secret = true;
    nodes.push_back(node(17, view::AccessRole::button, "Create"));
    nodes.back().enabled = false;
    tree.update(window, nodes, L"Emberlane");

    IRawElementProviderSimple* root = tree.rootProvider();
    EXPECT_EQ(text(root, UIA_NamePropertyId), L"Emberlane");
    EXPECT_EQ(number(root, UIA_ControlTypePropertyId), 50032);
    IRawElementProviderFragment* rootFragment = nullptr;
    ASSERT_EQ(root->QueryInterface(__uuidof(IRawElementProviderFragment), reinterpret_cast<void**>(&rootFragment)),
              S_OK);
    std::vector<IRawElementProviderSimple*> top = children(rootFragment);
    ASSERT_EQ(top.size(), 6u) << "the list's items are under it";
    EXPECT_EQ(text(top[0], UIA_NamePropertyId), L"Log in");
    EXPECT_EQ(number(top[0], UIA_ControlTypePropertyId), 50000);
    EXPECT_EQ(text(top[0], UIA_AutomationIdPropertyId), L"000000000000000b");
    EXPECT_EQ(number(top[2], UIA_ControlTypePropertyId), 50008);
    EXPECT_EQ(number(top[3], UIA_HasKeyboardFocusPropertyId), 1);
    EXPECT_EQ(number(top[4], UIA_IsPasswordPropertyId), 1);
    EXPECT_EQ(number(top[5], UIA_IsEnabledPropertyId), 0);

    // Bounds in screen pixels: the window's client origin plus the element's place.
    IRawElementProviderFragment* first = nullptr;
    top[0]->QueryInterface(__uuidof(IRawElementProviderFragment), reinterpret_cast<void**>(&first));
    UiaRect r{};
    ASSERT_EQ(first->get_BoundingRectangle(&r), S_OK);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    EXPECT_EQ(r.left, origin.x + 10);
    EXPECT_EQ(r.top, origin.y + 31);
    EXPECT_EQ(r.width, 50);
    first->Release();

    // The focused element, and the root's focus query.
    IRawElementProviderFragmentRoot* rootOfAll = nullptr;
    rootFragment->QueryInterface(__uuidof(IRawElementProviderFragmentRoot), reinterpret_cast<void**>(&rootOfAll));
    ASSERT_NE(rootOfAll, nullptr);
    IRawElementProviderFragment* focus = nullptr;
    ASSERT_EQ(rootOfAll->GetFocus(&focus), S_OK);
    ASSERT_NE(focus, nullptr);
    IRawElementProviderSimple* focusSimple = nullptr;
    focus->QueryInterface(__uuidof(IRawElementProviderSimple), reinterpret_cast<void**>(&focusSimple));
    EXPECT_EQ(text(focusSimple, UIA_NamePropertyId), L"Email");
    focusSimple->Release();
    focus->Release();
    rootOfAll->Release();

    // Invoke presses; a disabled button refuses and nothing is pressed.
    Invoke* invoke = pattern<Invoke>(top[0], 10000);
    ASSERT_NE(invoke, nullptr);
    EXPECT_EQ(invoke->invoke(), S_OK);
    EXPECT_EQ(pressed(window), 11u);
    invoke->Release();
    Invoke* disabled = pattern<Invoke>(top[5], 10000);
    ASSERT_NE(disabled, nullptr);
    EXPECT_EQ(disabled->invoke(), kNotEnabled);
    EXPECT_EQ(pressed(window), 0u);
    disabled->Release();
    EXPECT_EQ(pattern<Toggle>(top[0], 10015), nullptr) << "a button has no toggle";

    // Toggle reads the box and presses it.
    Toggle* toggle = pattern<Toggle>(top[1], 10015);
    ASSERT_NE(toggle, nullptr);
    int state = -1;
    EXPECT_EQ(toggle->state(&state), S_OK);
    EXPECT_EQ(state, 1);
    EXPECT_EQ(toggle->toggle(), S_OK);
    EXPECT_EQ(pressed(window), 12u);
    toggle->Release();

    // The list's items: selected or not, Select presses only what is not
    // chosen yet, the container is the list.
    IRawElementProviderFragment* list = nullptr;
    top[2]->QueryInterface(__uuidof(IRawElementProviderFragment), reinterpret_cast<void**>(&list));
    std::vector<IRawElementProviderSimple*> items = children(list);
    ASSERT_EQ(items.size(), 2u);
    SelectionItem* anvil = pattern<SelectionItem>(items[0], 10010);
    SelectionItem* bravil = pattern<SelectionItem>(items[1], 10010);
    ASSERT_TRUE(anvil != nullptr && bravil != nullptr);
    BOOL selected = FALSE;
    EXPECT_EQ(anvil->selected(&selected), S_OK);
    EXPECT_TRUE(selected);
    EXPECT_EQ(anvil->select(), S_OK);
    EXPECT_EQ(pressed(window), 0u) << "the chosen realm is not pressed again";
    EXPECT_EQ(bravil->select(), S_OK);
    EXPECT_EQ(pressed(window), 14u);
    IRawElementProviderSimple* container = nullptr;
    EXPECT_EQ(bravil->container(&container), S_OK);
    ASSERT_NE(container, nullptr);
    EXPECT_EQ(text(container, UIA_NamePropertyId), L"Realms");
    container->Release();
    anvil->Release();
    bravil->Release();
    list->Release();

    // Value: the field's text; a password's is never given nor set.
    Value* email = pattern<Value>(top[3], 10002);
    Value* password = pattern<Value>(top[4], 10002);
    ASSERT_TRUE(email != nullptr && password != nullptr);
    BSTR value = nullptr;
    EXPECT_EQ(email->value(&value), S_OK);
    EXPECT_EQ(std::wstring(value), L"ada@example.com");
    SysFreeString(value);
    EXPECT_EQ(password->value(&value), S_OK);
    EXPECT_EQ(SysStringLen(value), 0u);
    SysFreeString(value);
    BOOL readOnly = FALSE;
    EXPECT_EQ(password->readOnly(&readOnly), S_OK);
    EXPECT_TRUE(readOnly);
    EXPECT_EQ(email->readOnly(&readOnly), S_OK);
    EXPECT_FALSE(readOnly);
    EXPECT_EQ(email->set(L"gr\u00E2ce@example.com"), S_OK);
    EXPECT_EQ(password->set(L"hunter2"), kInvalidOperation);
    EXPECT_EQ(posted(window, WM_APP + 3), 15u);
    EXPECT_EQ(posted(window, WM_APP + 3), 0u) << "the refused password posts nothing";
    const std::vector<AccessTree::NewValue> values = tree.takeValues();
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].id, 15u);
    EXPECT_EQ(values[0].text, "gr\xC3\xA2" "ce@example.com");
    EXPECT_TRUE(tree.takeValues().empty());
    email->Release();
    password->Release();

    // The next frame has no Log in button: its provider says so.
    nodes.erase(nodes.begin());
    tree.update(window, nodes, L"Emberlane");
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(top[0]->GetPropertyValue(UIA_NamePropertyId, &v), kElementNotAvailable);
    // The window goes: every provider says so.
    tree.disconnect(window);
    EXPECT_EQ(top[1]->GetPropertyValue(UIA_NamePropertyId, &v), kElementNotAvailable);

    for (IRawElementProviderSimple* e : items) e->Release();
    for (IRawElementProviderSimple* e : top) e->Release();
    rootFragment->Release();
    root->Release();
    DestroyWindow(window);
}

}  // namespace
}  // namespace ember::launcher

// The window for screen readers: a UI Automation fragment root answered
// from WM_GETOBJECT, whose children are the frame's targets (kit/access.h).
// The window updates the tree after each frame it draws once a client has
// asked for it; providers hold only an element id and read the latest tree
// when asked, so one whose element has gone answers "element not
// available". Providers may be called on threads other than the window's:
// the tree is kept behind a lock.
#pragma once

#include <windows.h>
#include <uiautomationcore.h>

#include <memory>
#include <string>
#include <vector>

#include "launcher/kit/access.h"

namespace ember::launcher {

struct AccessShared;

class AccessTree {
public:
    AccessTree();
    ~AccessTree();
    AccessTree(const AccessTree&) = delete;
    AccessTree& operator=(const AccessTree&) = delete;

    // Whether WM_GETOBJECT asks for the window's UI Automation root.
    static bool isRootRequest(LPARAM lParam);
    // Whether a client has asked: only then is the tree kept each frame.
    bool wanted() const;
    // WM_GETOBJECT for the root: true with the message's result; false
    // when it is not that (or UI Automation is missing): DefWindowProc's.
    bool answer(HWND window, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // The frame's tree, with the window's client origin on the screen and
    // its title; raises a focus-changed event when the focused element is
    // another than before and a client listens.
    void update(HWND window, std::vector<view::AccessNode> nodes, const std::wstring& title);
    // The window is going: providers answer "element not available" from now on.
    void disconnect(HWND window);
    // The root provider (one reference, the caller's). A pressed element
    // (Invoke, Toggle, Select) arrives at the window as WM_APP + 2 with its
    // identity in wParam; a field's new value (Value) as WM_APP + 3, the
    // value itself kept here for takeValues().
    IRawElementProviderSimple* rootProvider();

    struct NewValue {
        uint64_t id = 0;    // the field's input element
        std::string text;   // UTF-8
    };
    // The values clients set since the last call, oldest first.
    std::vector<NewValue> takeValues();

private:
    std::shared_ptr<AccessShared> shared_;
    uint64_t focused_ = 0;
};

}  // namespace ember::launcher

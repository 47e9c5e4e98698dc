// uia_walk [--exe NAME] [close | time N | press ID]: reads the launcher's window (class "EmberlaneLauncher") from
// another process the way a screen reader does, through UI Automation's
// flat client API, and prints its tree depth first, one element a line:
//   <depth> <control type> <automation id> <focus> <enabled> <password> <name>
// separated by tabs (the flags 0 or 1, the name in UTF-8). Exit code 1 when
// there is no window or no tree. mingw declares none of the client calls:
// they are found in uiautomationcore.dll at run time. With "close", asks
// the window to close instead; with "time N", walks N times without
// printing and reports the requests answered per second (bench/access-figures);
// with "press ID", posts the press a screen reader's Invoke makes on the
// element of that automation id (Wine's client has no patterns to call).
// With "--exe NAME", only a window of a process whose program file is
// called NAME counts: another launcher running in the same Wine server (a
// test beside this one, or one still closing) is never the one read.
#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using Node = void*;  // HUIANODE
enum Direction { kParent = 0, kNextSibling = 1, kPreviousSibling = 2, kFirstChild = 3, kLastChild = 4 };
struct Condition {
    int type;  // 0: true
};
struct CacheRequest {
    Condition* viewCondition;
    int scope;  // TreeScope_Element = 1
    int* properties;
    int propertyCount;
    int* patterns;
    int patternCount;
    int elementMode;  // AutomationElementMode_Full = 1
};

using NodeFromHandleCall = HRESULT(WINAPI*)(HWND, Node*);
using GetPropertyCall = HRESULT(WINAPI*)(Node, int, VARIANT*);
using NavigateCall = HRESULT(WINAPI*)(Node, int, Condition*, CacheRequest*, SAFEARRAY**, BSTR*);
using NodeFromVariantCall = HRESULT(WINAPI*)(VARIANT*, Node*);
using NodeReleaseCall = BOOL(WINAPI*)(Node);

template <typename Call>
Call procedure(HMODULE module, const char* name) {
    return reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

struct Client {
    NodeFromHandleCall fromHandle = nullptr;
    GetPropertyCall property = nullptr;
    NavigateCall navigate = nullptr;
    NodeFromVariantCall fromVariant = nullptr;
    NodeReleaseCall release = nullptr;
    bool quiet = false;
    long requests = 0, elements = 0;

    std::string text(Node node, int id) {
        VARIANT v;
        VariantInit(&v);
        std::string out;
        ++requests;
        if (SUCCEEDED(property(node, id, &v)) && v.vt == VT_BSTR && v.bstrVal != nullptr) {
            const int n = WideCharToMultiByte(CP_UTF8, 0, v.bstrVal, -1, nullptr, 0, nullptr, nullptr);
            out.resize(static_cast<size_t>(n > 0 ? n - 1 : 0));
            if (n > 1) WideCharToMultiByte(CP_UTF8, 0, v.bstrVal, -1, out.data(), n, nullptr, nullptr);
        }
        VariantClear(&v);
        return out;
    }
    long number(Node node, int id) {
        VARIANT v;
        VariantInit(&v);
        long out = -1;
        ++requests;
        if (SUCCEEDED(property(node, id, &v)) && v.vt == VT_I4) out = v.lVal;
        VariantClear(&v);
        return out;
    }
    int flag(Node node, int id) {
        VARIANT v;
        VariantInit(&v);
        int out = -1;
        ++requests;
        if (SUCCEEDED(property(node, id, &v)) && v.vt == VT_BOOL) out = v.boolVal != VARIANT_FALSE ? 1 : 0;
        VariantClear(&v);
        return out;
    }
    // The node in that direction, or nullptr.
    Node step(Node from, Direction direction) {
        Condition always{0};
        CacheRequest request{&always, 1, nullptr, 0, nullptr, 0, 1};
        SAFEARRAY* data = nullptr;
        BSTR structure = nullptr;
        Node found = nullptr;
        ++requests;
        if (SUCCEEDED(navigate(from, direction, &always, &request, &data, &structure)) && data != nullptr) {
            LONG at[2] = {0, 0};
            VARIANT v;
            VariantInit(&v);
            if (SUCCEEDED(SafeArrayGetElement(data, at, &v))) fromVariant(&v, &found);
            VariantClear(&v);
        }
        if (data != nullptr) SafeArrayDestroy(data);
        if (structure != nullptr) SysFreeString(structure);
        return found;
    }
    void print(Node node, int depth) {
        ++elements;
        const long type = number(node, 30003);
        const std::string id = text(node, 30011), name = text(node, 30005);
        const int focus = flag(node, 30008), enabled = flag(node, 30010), secret = flag(node, 30019);
        if (!quiet) {
            std::printf("%d\t%ld\t%s\t%d\t%d\t%d\t%s\n", depth, type, id.c_str(), focus, enabled, secret,
                        name.c_str());
        }
        for (Node child = step(node, kFirstChild); child != nullptr;) {
            print(child, depth + 1);
            Node next = step(child, kNextSibling);
            release(child);
            child = next;
        }
    }
};

// The file name of the program that owns a window ("" when unknown).
std::wstring programOf(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) return L"";
    wchar_t path[MAX_PATH];
    DWORD size = MAX_PATH;
    const bool ok = QueryFullProcessImageNameW(process, 0, path, &size) != 0;
    CloseHandle(process);
    if (!ok) return L"";
    const std::wstring full(path, size);
    const size_t slash = full.find_last_of(L"\\/");
    return slash == std::wstring::npos ? full : full.substr(slash + 1);
}

struct Search {
    std::wstring program;  // empty: any launcher window
    HWND found = nullptr;
};

BOOL CALLBACK visit(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<Search*>(data);
    wchar_t name[64];
    if (GetClassNameW(window, name, 64) == 0 || std::wstring(name) != L"EmberlaneLauncher") return TRUE;
    if (!search->program.empty() && lstrcmpiW(programOf(window).c_str(), search->program.c_str()) != 0) return TRUE;
    search->found = window;
    return FALSE;
}

}  // namespace

int main(int argc, char** argv) {
    Search search;
    if (argc > 2 && std::string(argv[1]) == "--exe") {
        const std::string program = argv[2];
        search.program.assign(program.begin(), program.end());
        argc -= 2;
        argv += 2;
    }
    EnumWindows(visit, reinterpret_cast<LPARAM>(&search));
    HWND window = search.found;
    if (window == nullptr) {
        std::fprintf(stderr, "uia_walk: no launcher window\n");
        return 1;
    }
    if (argc > 1 && std::string(argv[1]) == "close") {
        PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
    }
    if (argc > 2 && std::string(argv[1]) == "press") {
        PostMessageW(window, WM_APP + 2, static_cast<WPARAM>(std::strtoull(argv[2], nullptr, 16)), 0);
        return 0;
    }
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HMODULE module = LoadLibraryW(L"uiautomationcore.dll");
    Client c;
    if (module != nullptr) {
        c.fromHandle = procedure<NodeFromHandleCall>(module, "UiaNodeFromHandle");
        c.property = procedure<GetPropertyCall>(module, "UiaGetPropertyValue");
        c.navigate = procedure<NavigateCall>(module, "UiaNavigate");
        c.fromVariant = procedure<NodeFromVariantCall>(module, "UiaHUiaNodeFromVariant");
        c.release = procedure<NodeReleaseCall>(module, "UiaNodeRelease");
    }
    if (!c.fromHandle || !c.property || !c.navigate || !c.fromVariant || !c.release) {
        std::fprintf(stderr, "uia_walk: uiautomationcore.dll lacks the client calls\n");
        return 1;
    }
    Node root = nullptr;
    if (FAILED(c.fromHandle(window, &root)) || root == nullptr) {
        std::fprintf(stderr, "uia_walk: no tree for the window\n");
        return 1;
    }
    if (argc > 2 && std::string(argv[1]) == "time") {
        const int walks = std::max(1, std::atoi(argv[2]));
        c.quiet = true;
        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        for (int i = 0; i < walks; ++i) c.print(root, 0);
        QueryPerformanceCounter(&end);
        const double ms = double(end.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart);
        std::printf("%d walks of %ld elements, %ld requests in %.0f ms: %.0f requests/s, %.1f ms a walk\n", walks,
                    c.elements / walks, c.requests, ms, double(c.requests) * 1000.0 / ms, ms / walks);
    } else {
        c.print(root, 0);
    }
    c.release(root);
    std::fflush(stdout);
    return 0;
}

// The Direct3D 11 device and swap chain of the main window (see device_win32.h).
#include "launcher/shell/device_win32.h"

#include <cstdio>
#include <cstring>

namespace ember::launcher {

namespace {

template <class T>
void release(T*& p) {
    if (p != nullptr) p->Release();
    p = nullptr;
}

std::string hresultText(const char* what, HRESULT hr) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%s: 0x%08lX", what, static_cast<unsigned long>(hr));
    return buffer;
}

HRESULT makeDevice(D3D_DRIVER_TYPE type, Device& out) {
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1, D3D_FEATURE_LEVEL_10_0};
    return D3D11CreateDevice(nullptr, type, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, levels, 3,
                             D3D11_SDK_VERSION, &out.device, nullptr, &out.context);
}

bool makeTarget(Device& d) {
    ID3D11Texture2D* buffer = nullptr;
    if (FAILED(d.swapChain->GetBuffer(0, __uuidof(ID3D11Texture2D), reinterpret_cast<void**>(&buffer)))) return false;
    HRESULT hr = d.device->CreateRenderTargetView(buffer, nullptr, &d.target);
    buffer->Release();
    return SUCCEEDED(hr);
}

}  // namespace

bool createDevice(HWND window, bool warp, Device& out, std::string& error) {
    releaseDevice(out);
    // The device: hardware, then WARP.
    HRESULT hr = E_FAIL;
    if (!warp) hr = makeDevice(D3D_DRIVER_TYPE_HARDWARE, out);
    if (warp || FAILED(hr)) {
        hr = makeDevice(D3D_DRIVER_TYPE_WARP, out);
        out.warp = SUCCEEDED(hr);
    }
    if (FAILED(hr)) {
        error = hresultText("D3D11CreateDevice", hr);
        releaseDevice(out);
        return false;
    }

    // DXGI device -> adapter -> factory (1.2).
    IDXGIDevice* dxgiDevice = nullptr;
    IDXGIAdapter* adapter = nullptr;
    IDXGIFactory2* factory = nullptr;
    if (SUCCEEDED(out.device->QueryInterface(__uuidof(IDXGIDevice), reinterpret_cast<void**>(&dxgiDevice))) &&
        SUCCEEDED(dxgiDevice->GetAdapter(&adapter))) {
        adapter->GetParent(__uuidof(IDXGIFactory2), reinterpret_cast<void**>(&factory));
    }
    release(adapter);
    release(dxgiDevice);
    if (factory == nullptr) {
        error = "no DXGI 1.2 factory";
        releaseDevice(out);
        return false;
    }

    // The swap chain: flip-discard with two buffers, else one blt buffer.
    RECT client{};
    GetClientRect(window, &client);
    out.width = client.right - client.left > 0 ? client.right - client.left : 1;
    out.height = client.bottom - client.top > 0 ? client.bottom - client.top : 1;
    DXGI_SWAP_CHAIN_DESC1 desc{};
    desc.Width = static_cast<UINT>(out.width);
    desc.Height = static_cast<UINT>(out.height);
    desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    desc.SampleDesc.Count = 1;
    desc.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
    desc.BufferCount = 2;
    desc.SwapEffect = DXGI_SWAP_EFFECT_FLIP_DISCARD;
    desc.AlphaMode = DXGI_ALPHA_MODE_IGNORE;
    hr = factory->CreateSwapChainForHwnd(out.device, window, &desc, nullptr, nullptr, &out.swapChain);
    if (FAILED(hr)) {
        desc.BufferCount = 1;
        desc.SwapEffect = DXGI_SWAP_EFFECT_DISCARD;
        hr = factory->CreateSwapChainForHwnd(out.device, window, &desc, nullptr, nullptr, &out.swapChain);
    }
    if (SUCCEEDED(hr)) factory->MakeWindowAssociation(window, DXGI_MWA_NO_ALT_ENTER);
    release(factory);
    if (FAILED(hr)) {
        error = hresultText("CreateSwapChainForHwnd", hr);
        releaseDevice(out);
        return false;
    }

    // The render target on buffer 0.
    if (!makeTarget(out)) {
        error = "the swap chain's buffer has no render target";
        releaseDevice(out);
        return false;
    }
    return true;
}

void releaseDevice(Device& d) {
    if (d.context != nullptr) {
        d.context->ClearState();
        d.context->Flush();
    }
    release(d.target);
    release(d.swapChain);
    release(d.context);
    release(d.device);
}

bool resizeDevice(Device& d, int width, int height) {
    if (d.swapChain == nullptr || width < 1 || height < 1) return false;
    if (width == d.width && height == d.height) return true;
    release(d.target);
    d.context->OMSetRenderTargets(0, nullptr, nullptr);
    d.context->ClearState();
    bool ok = SUCCEEDED(d.swapChain->ResizeBuffers(0, static_cast<UINT>(width), static_cast<UINT>(height),
                                                    DXGI_FORMAT_UNKNOWN, 0));
    if (ok) {
        d.width = width;
        d.height = height;
    }
    makeTarget(d);
    return ok;
}

bool captureBackBuffer(Device& d, std::vector<uint8_t>& rgba, int& width, int& height) {
    if (d.swapChain == nullptr) return false;
    ID3D11Texture2D* buffer = nullptr;
    if (FAILED(d.swapChain->GetBuffer(0, __uuidof(ID3D11Texture2D), reinterpret_cast<void**>(&buffer)))) return false;
    D3D11_TEXTURE2D_DESC desc{};
    buffer->GetDesc(&desc);
    desc.Usage = D3D11_USAGE_STAGING;
    desc.BindFlags = 0;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    desc.MiscFlags = 0;
    ID3D11Texture2D* staging = nullptr;
    bool ok = SUCCEEDED(d.device->CreateTexture2D(&desc, nullptr, &staging));
    if (ok) {
        d.context->CopyResource(staging, buffer);
        D3D11_MAPPED_SUBRESOURCE mapped{};
        ok = SUCCEEDED(d.context->Map(staging, 0, D3D11_MAP_READ, 0, &mapped));
        if (ok) {
            width = static_cast<int>(desc.Width);
            height = static_cast<int>(desc.Height);
            rgba.resize(static_cast<size_t>(width) * height * 4);
            for (int y = 0; y < height; ++y) {
                const uint8_t* src = static_cast<const uint8_t*>(mapped.pData) + static_cast<size_t>(y) * mapped.RowPitch;
                uint8_t* dst = rgba.data() + static_cast<size_t>(y) * width * 4;
                for (int x = 0; x < width; ++x) {  // BGRA to RGBA, opaque
                    dst[x * 4 + 0] = src[x * 4 + 2];
                    dst[x * 4 + 1] = src[x * 4 + 1];
                    dst[x * 4 + 2] = src[x * 4 + 0];
                    dst[x * 4 + 3] = 255;
                }
            }
            d.context->Unmap(staging, 0);
        }
    }
    release(staging);
    buffer->Release();
    return ok;
}

}  // namespace ember::launcher

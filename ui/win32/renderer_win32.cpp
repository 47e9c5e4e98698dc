// KilnUI's Direct3D 11 renderer: the pipeline objects (compiled from HLSL at
// start with D3DCompile), the two coverage atlases and the picture textures,
// and the per-frame upload and draw of the draw list.
//
// Sections:
//   - Shader sources
//   - Pipeline (initRenderer, shutdownRenderer)
//   - Textures: atlas rows, pictures
//   - Frame (renderFrame)
//   - Input from window messages
#include <d3d11.h>
#include <d3dcompiler.h>
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>

#include "ui/win32/backend_win32.h"
#include "ui/kiln/draw.h"
#include "ui/kiln/images.h"
#include "ui/kiln/kiln.h"
#include "ui/kiln/registry.h"
#include "ui/kiln/shape_atlas.h"
#include "ui/kiln/text.h"

namespace kiln {

// ---------------------------------------------------------------------------
// Shader sources

const char* const kVertexShaderSource =
    "cbuffer C : register(b0) { row_major float4x4 mvp; };\n"
    "struct VIn { float2 pos : POSITION; float2 uv : TEXCOORD0; float4 col : COLOR0; };\n"
    "struct VOut { float4 pos : SV_POSITION; float4 col : COLOR0; float2 uv : TEXCOORD0; };\n"
    "VOut main(VIn i) {\n"
    "    VOut o;\n"
    "    o.pos = mul(mvp, float4(i.pos.xy, 0.0, 1.0));\n"
    "    o.col = i.col;\n"
    "    o.uv = i.uv;\n"
    "    return o;\n"
    "}\n";

const char* const kColourShaderSource =
    "Texture2D tex : register(t0);\n"
    "SamplerState smp : register(s0);\n"
    "struct VOut { float4 pos : SV_POSITION; float4 col : COLOR0; float2 uv : TEXCOORD0; };\n"
    "float4 main(VOut i) : SV_TARGET { return i.col * tex.Sample(smp, i.uv); }\n";

const char* const kCoverageShaderSource =
    "Texture2D tex : register(t0);\n"
    "SamplerState smp : register(s0);\n"
    "struct VOut { float4 pos : SV_POSITION; float4 col : COLOR0; float2 uv : TEXCOORD0; };\n"
    "float4 main(VOut i) : SV_TARGET { return float4(i.col.rgb, i.col.a * tex.Sample(smp, i.uv).r); }\n";

namespace {

template <class T>
void release(T*& p) {
    if (p != nullptr) p->Release();
    p = nullptr;
}

// One coverage atlas on the GPU.
struct AtlasTexture {
    ID3D11Texture2D* texture = nullptr;
    ID3D11ShaderResourceView* view = nullptr;
};

struct PictureTexture {
    ID3D11Texture2D* texture = nullptr;
    ID3D11ShaderResourceView* view = nullptr;  // null: the picture failed; nothing is drawn
};

struct Renderer {
    ID3D11Device* device = nullptr;
    ID3D11DeviceContext* context = nullptr;
    ID3D11VertexShader* vertexShader = nullptr;
    ID3D11PixelShader* colourShader = nullptr;
    ID3D11PixelShader* coverageShader = nullptr;
    ID3D11InputLayout* layout = nullptr;
    ID3D11Buffer* constants = nullptr;
    ID3D11BlendState* blend = nullptr;
    ID3D11RasterizerState* rasteriser = nullptr;
    ID3D11DepthStencilState* depth = nullptr;
    ID3D11SamplerState* sampler = nullptr;
    ID3D11Buffer* vertices = nullptr;
    ID3D11Buffer* indices = nullptr;
    size_t vertexCapacity = 0, indexCapacity = 0;
    AtlasTexture glyphs, shapes;
    std::unordered_map<int32_t, PictureTexture> pictures;
    bool ready = false;
};

Renderer g_renderer;

// Headroom added when a buffer grows, so that it is rarely recreated.
constexpr size_t kVertexHeadroom = 8192;
constexpr size_t kIndexHeadroom = 16384;

// ---------------------------------------------------------------------------
// Pipeline

bool compile(const char* source, const char* profile, ID3DBlob** code, std::string& error) {
    ID3DBlob* messages = nullptr;
    HRESULT hr = D3DCompile(source, std::strlen(source), nullptr, nullptr, nullptr, "main", profile,
                            D3DCOMPILE_OPTIMIZATION_LEVEL3, 0, code, &messages);
    if (FAILED(hr)) {
        std::string text = "no message";
        if (messages != nullptr && messages->GetBufferSize() > 0)
            text.assign(static_cast<const char*>(messages->GetBufferPointer()), messages->GetBufferSize());
        while (!text.empty() && (text.back() == '\0' || text.back() == '\n')) text.pop_back();
        error = std::string("KilnUI: shader (") + profile + ") failed: " + text;
        release(messages);
        return false;
    }
    release(messages);
    return true;
}

bool makeAtlas(ID3D11Device* device, int size, AtlasTexture& out) {
    D3D11_TEXTURE2D_DESC desc{};
    desc.Width = desc.Height = static_cast<UINT>(size);
    desc.MipLevels = desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_R8_UNORM;
    desc.SampleDesc.Count = 1;
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
    if (FAILED(device->CreateTexture2D(&desc, nullptr, &out.texture))) return false;
    return SUCCEEDED(device->CreateShaderResourceView(out.texture, nullptr, &out.view));
}

bool createPipeline(Renderer& r, std::string& error) {
    ID3DBlob* vs = nullptr;
    if (!compile(kVertexShaderSource, "vs_5_0", &vs, error)) return false;
    HRESULT hr = r.device->CreateVertexShader(vs->GetBufferPointer(), vs->GetBufferSize(), nullptr, &r.vertexShader);
    if (FAILED(hr)) {
        release(vs);
        error = "KilnUI: CreateVertexShader failed";
        return false;
    }
    const D3D11_INPUT_ELEMENT_DESC elements[] = {
        {"POSITION", 0, DXGI_FORMAT_R32G32_FLOAT, 0, 0, D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"TEXCOORD", 0, DXGI_FORMAT_R32G32_FLOAT, 0, 8, D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"COLOR", 0, DXGI_FORMAT_R8G8B8A8_UNORM, 0, 16, D3D11_INPUT_PER_VERTEX_DATA, 0},
    };
    hr = r.device->CreateInputLayout(elements, 3, vs->GetBufferPointer(), vs->GetBufferSize(), &r.layout);
    release(vs);
    if (FAILED(hr)) {
        error = "KilnUI: CreateInputLayout failed";
        return false;
    }

    struct PixelShader {
        const char* source;
        ID3D11PixelShader** out;
        const char* failure;
    };
    const PixelShader pixelShaders[] = {
        {kColourShaderSource, &r.colourShader, "KilnUI: CreatePixelShader (colour) failed"},
        {kCoverageShaderSource, &r.coverageShader, "KilnUI: CreatePixelShader (coverage) failed"},
    };
    for (const PixelShader& ps : pixelShaders) {
        ID3DBlob* code = nullptr;
        if (!compile(ps.source, "ps_5_0", &code, error)) return false;
        hr = r.device->CreatePixelShader(code->GetBufferPointer(), code->GetBufferSize(), nullptr, ps.out);
        release(code);
        if (FAILED(hr)) {
            error = ps.failure;
            return false;
        }
    }

    D3D11_BUFFER_DESC cb{};
    cb.ByteWidth = 64;
    cb.Usage = D3D11_USAGE_DYNAMIC;
    cb.BindFlags = D3D11_BIND_CONSTANT_BUFFER;
    cb.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
    if (FAILED(r.device->CreateBuffer(&cb, nullptr, &r.constants))) {
        error = "KilnUI: constant buffer failed";
        return false;
    }

    D3D11_BLEND_DESC blend{};
    D3D11_RENDER_TARGET_BLEND_DESC& rt = blend.RenderTarget[0];
    rt.BlendEnable = TRUE;
    rt.SrcBlend = D3D11_BLEND_SRC_ALPHA;
    rt.DestBlend = D3D11_BLEND_INV_SRC_ALPHA;
    rt.BlendOp = D3D11_BLEND_OP_ADD;
    rt.SrcBlendAlpha = D3D11_BLEND_ONE;
    rt.DestBlendAlpha = D3D11_BLEND_INV_SRC_ALPHA;
    rt.BlendOpAlpha = D3D11_BLEND_OP_ADD;
    rt.RenderTargetWriteMask = D3D11_COLOR_WRITE_ENABLE_ALL;
    if (FAILED(r.device->CreateBlendState(&blend, &r.blend))) {
        error = "KilnUI: blend state failed";
        return false;
    }

    D3D11_RASTERIZER_DESC raster{};
    raster.FillMode = D3D11_FILL_SOLID;
    raster.CullMode = D3D11_CULL_NONE;
    raster.ScissorEnable = TRUE;
    raster.DepthClipEnable = TRUE;
    if (FAILED(r.device->CreateRasterizerState(&raster, &r.rasteriser))) {
        error = "KilnUI: rasteriser state failed";
        return false;
    }
    D3D11_DEPTH_STENCIL_DESC depth{};
    depth.DepthEnable = FALSE;
    depth.StencilEnable = FALSE;
    if (FAILED(r.device->CreateDepthStencilState(&depth, &r.depth))) {
        error = "KilnUI: depth state failed";
        return false;
    }
    D3D11_SAMPLER_DESC sampler{};
    sampler.Filter = D3D11_FILTER_MIN_MAG_MIP_LINEAR;
    sampler.AddressU = sampler.AddressV = sampler.AddressW = D3D11_TEXTURE_ADDRESS_CLAMP;
    sampler.MaxLOD = D3D11_FLOAT32_MAX;
    if (FAILED(r.device->CreateSamplerState(&sampler, &r.sampler))) {
        error = "KilnUI: sampler failed";
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Textures

// Uploads rows [top, bottom) of a 2048-wide coverage copy.
void uploadRows(Renderer& r, const AtlasTexture& atlas, const std::vector<uint8_t>& pixels, int size, int top,
                int bottom) {
    if (atlas.texture == nullptr || pixels.size() < static_cast<size_t>(size) * size) return;
    top = std::max(0, top);
    bottom = std::min(size, bottom);
    if (bottom <= top) return;
    D3D11_BOX box{0, static_cast<UINT>(top), 0, static_cast<UINT>(size), static_cast<UINT>(bottom), 1};
    r.context->UpdateSubresource(atlas.texture, 0, &box, pixels.data() + static_cast<size_t>(top) * size,
                                 static_cast<UINT>(size), 0);
}

void uploadAtlases(Renderer& r) {
    GlyphAtlas& glyphs = glyphAtlas();
    if (glyphs.dirty()) {
        uploadRows(r, r.glyphs, glyphs.pixels, GlyphAtlas::kSize, glyphs.dirtyTop, glyphs.dirtyBottom);
        glyphs.markClean();
    }
    ShapeAtlas& shapes = shapeAtlas();
    if (shapes.dirty() && !shapes.pixels.empty()) {
        uploadRows(r, r.shapes, shapes.pixels, ShapeAtlas::kSize, shapes.dirtyTop, shapes.dirtyBottom);
        shapes.markClean();
    }
}

// The view of a picture's texture, created the first time it is drawn.
ID3D11ShaderResourceView* pictureView(Renderer& r, int32_t index) {
    auto found = r.pictures.find(index);
    if (found != r.pictures.end()) return found->second.view;
    PictureTexture& entry = r.pictures[index];
    const Picture* picture = pictureFor(index);
    if (picture == nullptr || picture->width <= 0 || picture->height <= 0) return nullptr;
    D3D11_TEXTURE2D_DESC desc{};
    desc.Width = static_cast<UINT>(picture->width);
    desc.Height = static_cast<UINT>(picture->height);
    desc.MipLevels = desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
    desc.SampleDesc.Count = 1;
    desc.Usage = D3D11_USAGE_IMMUTABLE;
    desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
    D3D11_SUBRESOURCE_DATA data{picture->pixels.data(), static_cast<UINT>(picture->width) * 4, 0};
    if (FAILED(r.device->CreateTexture2D(&desc, &data, &entry.texture))) return nullptr;
    if (FAILED(r.device->CreateShaderResourceView(entry.texture, nullptr, &entry.view))) release(entry.texture);
    return entry.view;
}

// Grows a dynamic buffer to hold `needed` elements (plus headroom).
bool ensureBuffer(Renderer& r, ID3D11Buffer*& buffer, size_t& capacity, size_t needed, size_t headroom,
                  size_t elementSize, UINT bind) {
    if (buffer != nullptr && capacity >= needed) return true;
    release(buffer);
    capacity = 0;
    D3D11_BUFFER_DESC desc{};
    desc.ByteWidth = static_cast<UINT>((needed + headroom) * elementSize);
    desc.Usage = D3D11_USAGE_DYNAMIC;
    desc.BindFlags = bind;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
    if (FAILED(r.device->CreateBuffer(&desc, nullptr, &buffer))) return false;
    capacity = needed + headroom;
    return true;
}

bool fill(Renderer& r, ID3D11Buffer* buffer, const void* data, size_t bytes) {
    D3D11_MAPPED_SUBRESOURCE mapped{};
    if (FAILED(r.context->Map(buffer, 0, D3D11_MAP_WRITE_DISCARD, 0, &mapped))) return false;
    std::memcpy(mapped.pData, data, bytes);
    r.context->Unmap(buffer, 0);
    return true;
}

}  // namespace

bool initRenderer(ID3D11Device* device, std::string& error) {
    shutdownRenderer();
    Renderer& r = g_renderer;
    r.device = device;
    r.device->AddRef();
    r.device->GetImmediateContext(&r.context);
    if (!createPipeline(r, error)) {
        shutdownRenderer();
        return false;
    }
    if (!startGdiFonts(error)) {
        shutdownRenderer();
        return false;
    }
    if (!makeAtlas(device, GlyphAtlas::kSize, r.glyphs) || !makeAtlas(device, ShapeAtlas::kSize, r.shapes)) {
        error = "KilnUI: the font atlas texture could not be created";
        shutdownRenderer();
        return false;
    }
    // Everything already in the CPU copies goes up with the first frame.
    glyphAtlas().dirtyTop = 0;
    glyphAtlas().dirtyBottom = GlyphAtlas::kSize;
    startPainter();
    setToolkitStarted(true);
    r.ready = true;
    return true;
}

void shutdownRenderer() {
    Renderer& r = g_renderer;
    const bool wasStarted = r.device != nullptr;
    for (auto& entry : r.pictures) {
        release(entry.second.view);
        release(entry.second.texture);
    }
    r.pictures.clear();
    release(r.glyphs.view);
    release(r.glyphs.texture);
    release(r.shapes.view);
    release(r.shapes.texture);
    release(r.vertices);
    release(r.indices);
    r.vertexCapacity = r.indexCapacity = 0;
    release(r.sampler);
    release(r.depth);
    release(r.rasteriser);
    release(r.blend);
    release(r.constants);
    release(r.layout);
    release(r.coverageShader);
    release(r.colourShader);
    release(r.vertexShader);
    release(r.context);
    release(r.device);
    r.ready = false;
    if (wasStarted) {
        resetContext();
        resetPainter();
        stopGdiFonts();
    }
}

// ---------------------------------------------------------------------------
// Frame

void renderFrame(ID3D11RenderTargetView* target, int width, int height) {
    Renderer& r = g_renderer;
    const DrawList& list = drawList();
    if (!r.ready || target == nullptr || width < 1 || height < 1) return;
    if (list.vertices.empty() || list.indices.empty() || list.batches.empty()) return;

    // Buffers, grown with headroom; then the changed atlas rows.
    if (!ensureBuffer(r, r.vertices, r.vertexCapacity, list.vertices.size(), kVertexHeadroom, sizeof(Vertex),
                      D3D11_BIND_VERTEX_BUFFER) ||
        !ensureBuffer(r, r.indices, r.indexCapacity, list.indices.size(), kIndexHeadroom, sizeof(uint32_t),
                      D3D11_BIND_INDEX_BUFFER))
        return;
    if (!fill(r, r.vertices, list.vertices.data(), list.vertices.size() * sizeof(Vertex)) ||
        !fill(r, r.indices, list.indices.data(), list.indices.size() * sizeof(uint32_t)))
        return;
    uploadAtlases(r);

    // Window pixels to clip space, written in rows.
    const float w = static_cast<float>(width), h = static_cast<float>(height);
    const float mvp[16] = {2.0f / w, 0, 0, -1.0f, 0, -2.0f / h, 0, 1.0f, 0, 0, 0, 0.5f, 0, 0, 0, 1.0f};
    if (!fill(r, r.constants, mvp, sizeof mvp)) return;

    ID3D11DeviceContext* c = r.context;
    c->OMSetRenderTargets(1, &target, nullptr);
    D3D11_VIEWPORT viewport{0, 0, w, h, 0, 1};
    c->RSSetViewports(1, &viewport);
    const float factor[4] = {0, 0, 0, 0};
    c->OMSetBlendState(r.blend, factor, 0xFFFFFFFF);
    c->RSSetState(r.rasteriser);
    c->OMSetDepthStencilState(r.depth, 0);
    c->IASetInputLayout(r.layout);
    c->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
    UINT stride = sizeof(Vertex), offset = 0;
    c->IASetVertexBuffers(0, 1, &r.vertices, &stride, &offset);
    c->IASetIndexBuffer(r.indices, DXGI_FORMAT_R32_UINT, 0);
    c->VSSetShader(r.vertexShader, nullptr, 0);
    c->VSSetConstantBuffers(0, 1, &r.constants);
    c->PSSetSamplers(0, 1, &r.sampler);

    for (const Batch& batch : list.batches) {
        if (batch.indexCount == 0) continue;
        ID3D11ShaderResourceView* view = nullptr;
        switch (batch.texture.kind) {
        case TextureKind::Glyphs:
        case TextureKind::None:
            view = r.glyphs.view;
            break;
        case TextureKind::Shapes:
            view = r.shapes.view;
            break;
        case TextureKind::Picture:
            view = pictureView(r, batch.texture.index);
            break;
        }
        if (view == nullptr) continue;  // a picture that failed draws nothing
        // The scissor: the clip in whole pixels, inside the window.
        LONG left = static_cast<LONG>(std::max(0.0f, std::floor(batch.clip.x)));
        LONG top = static_cast<LONG>(std::max(0.0f, std::floor(batch.clip.y)));
        LONG right = static_cast<LONG>(std::min(w, std::ceil(batch.clip.x + batch.clip.w)));
        LONG bottom = static_cast<LONG>(std::min(h, std::ceil(batch.clip.y + batch.clip.h)));
        if (right <= left || bottom <= top) continue;
        D3D11_RECT scissor{left, top, right, bottom};
        c->RSSetScissorRects(1, &scissor);
        c->PSSetShader(batch.shader == ShaderKind::Colour ? r.colourShader : r.coverageShader, nullptr, 0);
        c->PSSetShaderResources(0, 1, &view);
        c->DrawIndexed(batch.indexCount, batch.firstIndex, 0);
    }
}

// ---------------------------------------------------------------------------
// Input

bool feedWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    const bool ctrl = (GetKeyState(VK_CONTROL) & 0x8000) != 0;
    return feedMessage(message, static_cast<uint64_t>(wParam), static_cast<int64_t>(lParam), ctrl);
}

}  // namespace kiln

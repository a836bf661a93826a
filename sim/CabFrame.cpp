// A frame of the cab: the window's messages, the draws of the windshield, the dashboard and the
// tablet, the Present, and what the checks read back afterwards.
#include <d3d11.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "Cab.h"
#include "CabLayout.h"
#include "Console.h"
#include "GameWindowChecks.h"
#include "RawMouse.h"
#include "TextureQueue.h"

namespace zor::sim {

using namespace cab;

bool Cab::pumpMessages() {
  MSG msg;
  if (rawMouse().mode() == RawMode::Buffer) {
    // Wine turns the X server's input into messages while a message call looks at the queue:
    // look first, so the records are waiting when the buffer is read, before the loop below
    // takes their WM_INPUT messages away.
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    rawMouse().readBuffer();
  }
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_INPUT) rawMouse().onInputMessage(msg);
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return !closed_ && IsWindow(window_);
}

void Cab::draw(std::vector<DrawRecord>* trace, const char* object, const Mesh& mesh, ID3D11PixelShader* ps,
               const char* psName, ID3D11ShaderResourceView* slot6, const D3D11_TEXTURE2D_DESC* slot6Desc) {
  UINT stride = sizeof(Vertex), offset = 0;
  context_->IASetVertexBuffers(0, 1, mesh.vb.GetAddressOf(), &stride, &offset);
  context_->IASetIndexBuffer(mesh.ib.Get(), DXGI_FORMAT_R16_UINT, 0);
  context_->PSSetShader(ps, nullptr, 0);
  if (slot6) context_->PSSetShaderResources(6, 1, &slot6);
  if (keepTabletView_ && slot6 == tablet_.srv.Get() && ps == psScreen_.Get()) {
    tabletView_.Reset();
    context_->PSGetShaderResources(6, 1, tabletView_.GetAddressOf());
  }
  if (trace) {
    DrawRecord r;
    r.object = object;
    r.indexCount = mesh.indexCount;
    r.pixelShader = psName;
    r.indexBuffer = mesh.name;
    if (slot6 && slot6Desc) {
      r.hasSlot6 = true;
      r.slot6 = *slot6Desc;
      ID3D11ShaderResourceView* bound = nullptr;
      context_->PSGetShaderResources(6, 1, &bound);
      r.slot6Replaced = bound != slot6;
      if (bound) bound->Release();
    }
    trace->push_back(r);
  }
  context_->DrawIndexed(mesh.indexCount, 0, 0);
}

bool Cab::renderFrame(FrameCapture* capture, std::vector<DrawRecord>* trace, std::string& error) {
  using namespace std::chrono;
  unsigned long long now = uptimeMs();
  double dt = lastFrameMs_ ? (now - lastFrameMs_) / 1000.0 : 0.0;
  lastFrameMs_ = now;
  distance_ += speedKmh_ / 3.6 * std::min(dt, 0.25);
  FrameConstants fc{{static_cast<float>(now / 1000.0), static_cast<float>(distance_), static_cast<float>(speedKmh_), 0},
                    {0.85f, 0.55f, 0.1f, 1}};
  D3D11_MAPPED_SUBRESOURCE m{};
  if (SUCCEEDED(context_->Map(constants_.Get(), 0, D3D11_MAP_WRITE_DISCARD, 0, &m))) {
    std::memcpy(m.pData, &fc, sizeof fc);
    context_->Unmap(constants_.Get(), 0);
  }
  ID3D11ShaderResourceView* none[7] = {};
  context_->PSSetShaderResources(0, 7, none);
  context_->IASetInputLayout(layout_.Get());
  context_->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
  context_->VSSetShader(vs_.Get(), nullptr, 0);
  context_->VSSetConstantBuffers(0, 1, constants_.GetAddressOf());
  context_->PSSetConstantBuffers(0, 1, constants_.GetAddressOf());
  context_->PSSetSamplers(0, 1, sampler_.GetAddressOf());
  context_->RSSetState(raster_.Get());
  context_->OMSetBlendState(opaque_.Get(), nullptr, 0xFFFFFFFF);

  if (cabLoaded_) {
    // The game's map, into the tablet GPS texture.
    D3D11_VIEWPORT mv{0, 0, 1024, 1024, 0, 1};
    context_->RSSetViewports(1, &mv);
    context_->OMSetRenderTargets(1, tablet_.rtv.GetAddressOf(), nullptr);
    ID3D11ShaderResourceView* mapSlots[4] = {nullptr, nullptr, nullptr, icons_.srv.Get()};
    context_->PSSetShaderResources(0, 4, mapSlots);
    draw(trace, "map", mapQuad_, psMap_.Get(), "psMap", nullptr, nullptr);
    context_->OMSetRenderTargets(0, nullptr, nullptr);
    context_->GenerateMips(tablet_.srv.Get());
  }

  D3D11_VIEWPORT vp{0, 0, static_cast<float>(width_), static_cast<float>(height_), 0, 1};
  context_->RSSetViewports(1, &vp);
  context_->OMSetRenderTargets(1, backBufferRtv_.GetAddressOf(), nullptr);
  float clear[4] = {0.03f, 0.03f, 0.04f, 1};
  context_->ClearRenderTargetView(backBufferRtv_.Get(), clear);

  if (!cabLoaded_) {
    draw(trace, "loading", loadingBar_, psSolid_.Get(), "psSolid", nullptr, nullptr);
  } else {
    ID3D11ShaderResourceView* sky[1] = {sky_.srv.Get()};
    context_->PSSetShaderResources(0, 1, sky);
    draw(trace, "windshield", windshield_, psWindshield_.Get(), "psWindshield", nullptr, nullptr);
    ID3D11ShaderResourceView* body[6] = {panel_.srv.Get(), detail_.srv.Get(), nullptr, nullptr, nullptr,
                                         environment_.srv.Get()};
    context_->PSSetShaderResources(0, 6, body);
    draw(trace, "panel", panelMesh_, psPanel_.Get(), "psPanel", nullptr, nullptr);
    draw(trace, "instrument", instrumentMesh_, psScreen_.Get(), "psScreen", instrument_.srv.Get(), &instrumentDesc_);
    draw(trace, "dashboard-gps", dashboardMesh_, psScreen_.Get(), "psScreen", dashboard_.srv.Get(), &dashboardDesc_);
    context_->PSSetShaderResources(6, 1, none);
    ID3D11ShaderResourceView* bezel[3] = {nullptr, nullptr, bezel_.srv.Get()};
    context_->PSSetShaderResources(0, 3, bezel);
    draw(trace, "bezel", bezelMesh_, psBezel_.Get(), "psBezel", nullptr, nullptr);
    runAction(FramePoint::BeforeTablet);
    draw(trace, "tablet-screen", tabletMesh_, psScreen_.Get(), "psScreen", tablet_.srv.Get(), &tabletDesc_);
    context_->OMSetBlendState(alpha_.Get(), nullptr, 0xFFFFFFFF);
    draw(trace, "tablet-glass", tabletMesh_, psGlass_.Get(), "psGlass", tablet_.srv.Get(), &tabletDesc_);
    context_->OMSetBlendState(opaque_.Get(), nullptr, 0xFFFFFFFF);
    context_->PSSetShaderResources(6, 1, none);
    runAction(FramePoint::AfterTablet);
  }

  if (capture) {
    context_->CopyResource(staging_.Get(), backBuffer_.Get());
    D3D11_MAPPED_SUBRESOURCE r{};
    HRESULT hr = context_->Map(staging_.Get(), 0, D3D11_MAP_READ, 0, &r);
    if (FAILED(hr)) return error = "reading the back buffer failed " + hresult(hr), false;
    capture->width = width_;
    capture->height = height_;
    capture->rgba.resize(static_cast<size_t>(width_) * height_ * 4);
    for (int y = 0; y < height_; ++y)
      std::memcpy(&capture->rgba[static_cast<size_t>(y) * width_ * 4], static_cast<const uint8_t*>(r.pData) + y * r.RowPitch,
                  static_cast<size_t>(width_) * 4);
    context_->Unmap(staging_.Get(), 0);
    for (size_t i = 3; i < capture->rgba.size(); i += 4) capture->rgba[i] = 255;
  }
  // The game presents with its target and depth view bound, and finds them bound afterwards.
  context_->OMSetRenderTargets(1, backBufferRtv_.GetAddressOf(), depthView_.Get());
  HRESULT hr = swapChain_->Present(0, 0);
  ID3D11RenderTargetView* boundTarget = nullptr;
  ID3D11DepthStencilView* boundDepth = nullptr;
  context_->OMGetRenderTargets(1, &boundTarget, &boundDepth);
  if (boundTarget != backBufferRtv_.Get() || boundDepth != depthView_.Get()) ++targetsChanged_;
  if (boundTarget) boundTarget->Release();
  if (boundDepth) boundDepth->Release();
  ++frames_;
  if (FAILED(hr)) return error = "Present failed " + hresult(hr), false;
  return true;
}

bool Cab::readTopMip(ID3D11Texture2D* texture, FrameCapture& out, std::string& error) {
  D3D11_TEXTURE2D_DESC d{};
  texture->GetDesc(&d);
  d.MipLevels = 1;
  d.ArraySize = 1;
  d.Usage = D3D11_USAGE_STAGING;
  d.BindFlags = 0;
  d.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
  d.MiscFlags = 0;
  ComPtr<ID3D11Texture2D> staging;
  HRESULT hr = device_->CreateTexture2D(&d, nullptr, staging.GetAddressOf());
  if (FAILED(hr)) return error = "creating a staging texture failed " + hresult(hr), false;
  context_->CopySubresourceRegion(staging.Get(), 0, 0, 0, 0, texture, 0, nullptr);
  D3D11_MAPPED_SUBRESOURCE m{};
  hr = context_->Map(staging.Get(), 0, D3D11_MAP_READ, 0, &m);
  if (FAILED(hr)) return error = "reading the texture failed " + hresult(hr), false;
  out.width = static_cast<int>(d.Width);
  out.height = static_cast<int>(d.Height);
  out.rgba.resize(static_cast<size_t>(d.Width) * d.Height * 4);
  for (UINT y = 0; y < d.Height; ++y)
    std::memcpy(&out.rgba[static_cast<size_t>(y) * d.Width * 4], static_cast<const uint8_t*>(m.pData) + y * m.RowPitch,
                static_cast<size_t>(d.Width) * 4);
  context_->Unmap(staging.Get(), 0);
  return true;
}

bool Cab::regionRect(const std::string& name, Rect& out) const {
  const NdcRect* r = name == "tablet"       ? &kTabletScreen
                     : name == "dashboard"  ? &kDashboardGps
                     : name == "instrument" ? &kInstrument
                     : name == "windshield" ? &kWindshield
                     : name == "panel"      ? &kPlainPanel
                                            : nullptr;
  if (name == "overlay") {
    // Where the plugin's panel opens (24, 24; 660 x 560), inside its border.
    out = Rect{32, 32, 644, 544};
    return true;
  }
  if (!r) return false;
  int left = static_cast<int>((r->x0 + 1) / 2 * width_), right = static_cast<int>((r->x1 + 1) / 2 * width_);
  int top = static_cast<int>((1 - r->y1) / 2 * height_), bottom = static_cast<int>((1 - r->y0) / 2 * height_);
  int mx = (right - left) / 10, my = (bottom - top) / 10;
  out = Rect{left + mx, top + my, right - left - 2 * mx, bottom - top - 2 * my};
  return true;
}

}  // namespace zor::sim

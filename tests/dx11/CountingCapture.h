// A capture engine for the tests of where the graphics core uploads: a new picture at every
// upload, and what the context looked like then.
#pragma once

#include <d3d11.h>

#include <string>

#include "capture/WindowCapture.h"
#include "core/ComRef.h"
#include "dx11/IdentFixture.h"

namespace zor::test {

// An engine with a new picture at every upload; it notes what the context looked like then.
class CountingCapture final : public WindowCapture {
 public:
  ID3D11DeviceContext* context = nullptr;
  int uploads = 0;
  size_t bindingsBeforeLastUpload = 0;
  bool predicatedAtAnUpload = false;

  ID3D11ShaderResourceView* slot6AtLastUpload = nullptr;  // no reference kept

  bool uploadLatestFrame(ID3D11Texture2D*) override {
    ++uploads;
    bindingsBeforeLastUpload = recordedBindings().size();
    ComRef<ID3D11ShaderResourceView> slot6;
    context->PSGetShaderResources(6, 1, slot6.put());
    slot6AtLastUpload = slot6.get();
    ComRef<ID3D11Predicate> predicate;
    BOOL value = FALSE;
    context->GetPredication(predicate.put(), &value);
    predicatedAtAnUpload = predicatedAtAnUpload || predicate;
    return true;
  }
  void setPaused(bool) override {}
  bool hasWindow() override { return true; }
  bool start(ID3D11Device*, ID3D11DeviceContext*, const std::wstring&, uint32_t, bool, int32_t, int32_t, int32_t,
             int32_t) override {
    return true;
  }
  void deactivate() override {}
  bool isActive() override { return true; }
  void shutdown() override {}
};

}  // namespace zor::test

// When the captured picture goes into the GPS texture: at the first binding of the tablet's
// screen in a frame (on the immediate context, before the game's method gets our view, with the
// game's predicate set aside and put back), once a frame however often the game binds it, and at
// Present in a frame without such a binding.
#include "dx11/CountingCapture.h"
#include "dx11/IdentFixture.h"

using namespace zor;
using namespace zor::test;

namespace {

class UploadAtBind : public IdentTest {
 protected:
  void SetUp() override {
    IdentTest::SetUp();
    PluginConfig playing;
    playing.calibrationMode = false;
    start(playing);
    gps = overlay();
    bindUnderTwoShaders(gps.view.get());
    ASSERT_EQ(confirmations(), 1u);
    Ident::setPlaybackActive(core, true);
    core.gameState().paused.store(false);  // driving
    capture.context = context;
    WindowCapture::install(&capture);
  }
  void TearDown() override {
    WindowCapture::install(nullptr);
    context->SetPredication(nullptr, FALSE);
    IdentTest::TearDown();
  }
  void present() { core.onPresent(window_->swapChain.get(), 0, 0); }

  TextureAndView gps;
  CountingCapture capture;
};

TEST_F(UploadAtBind, TheFirstBindingOfAFrameUploadsOnceBeforeOurViewIsBoundAndPresentCoversFramesWithoutOne) {
  ComRef<ID3D11Predicate> predicate;
  const D3D11_QUERY_DESC q{D3D11_QUERY_OCCLUSION_PREDICATE, 0};
  ASSERT_HRESULT_SUCCEEDED(device->CreatePredicate(&q, predicate.put()));
  context->SetPredication(predicate.get(), TRUE);
  present();  // the frame boundary: what came before belongs to no frame of this test
  const int atStart = capture.uploads;

  const size_t bindingsBefore = recordedBindings().size();
  for (int pass = 0; pass < 3; ++pass) EXPECT_EQ(bind(6, gps.view.get()), replacementView().get());
  EXPECT_EQ(capture.uploads, atStart + 1);
  EXPECT_EQ(capture.bindingsBeforeLastUpload, bindingsBefore);  // before the game's method saw the first one
  EXPECT_FALSE(capture.predicatedAtAnUpload);
  ComRef<ID3D11Predicate> after;
  BOOL value = FALSE;
  context->GetPredication(after.put(), &value);
  EXPECT_EQ(after.get(), predicate.get());
  EXPECT_TRUE(value);

  present();  // uploaded at the binding already
  EXPECT_EQ(capture.uploads, atStart + 1);
  present();  // a frame without the screen in view: at Present
  EXPECT_EQ(capture.uploads, atStart + 2);
  EXPECT_FALSE(capture.predicatedAtAnUpload);

  // A binding on a deferred context is recorded for later: the frame's upload stays at Present.
  ComRef<ID3D11DeviceContext> deferred;
  ASSERT_HRESULT_SUCCEEDED(device->CreateDeferredContext(0, deferred.put()));
  bind(6, gps.view.get(), deferred.get());
  EXPECT_EQ(capture.uploads, atStart + 2);
  present();
  EXPECT_EQ(capture.uploads, atStart + 3);

  // Paused: no upload at the binding.
  core.gameState().paused.store(true);
  bind(6, gps.view.get());
  EXPECT_EQ(capture.uploads, atStart + 3);
}

}  // namespace

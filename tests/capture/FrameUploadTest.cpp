// The render thread's half: what uploadLatestFrame writes into the GPS texture, and when it
// does nothing; and the capture of another process's window (the media program).
#include <atomic>
#include <deque>
#include <string>
#include <thread>

#include "CaptureTestKit.h"
#include "MediaProgram.h"

namespace zor::test {
namespace {

using FrameUpload = CaptureFixture;

TEST_F(FrameUpload, WritesEachNewFrameOnceAndOnlyIntoBgraTexturesOfTheFrameSize) {
  ComRef<ID3D11Texture2D> rgba = texture(64, 64, DXGI_FORMAT_R8G8B8A8_UNORM);
  ComRef<ID3D11Texture2D> target = texture(64, 64);
  EXPECT_FALSE(engine_.uploadLatestFrame(target.get()));  // not active
  ASSERT_TRUE(start(uniqueToken()));
  EXPECT_FALSE(engine_.uploadLatestFrame(nullptr));
  EXPECT_FALSE(engine_.uploadLatestFrame(rgba.get()));
  EXPECT_EQ(engine_.outputWidth(), 0u);  // a texture of another format never sizes the worker

  startCapturing(target.get());
  EXPECT_FALSE(engine_.uploadLatestFrame(rgba.get()));
  for (uint32_t texel : readTexels(device_.get(), rgba.get())) ASSERT_EQ(texel, 0u);

  ASSERT_TRUE(engine_.uploadLatestFrame(target.get()));
  std::vector<uint32_t> texels = readTexels(device_.get(), target.get());
  ASSERT_EQ(texels.size(), frame_.pixels.size() / 4);
  EXPECT_EQ(std::memcmp(texels.data(), frame_.pixels.data(), frame_.pixels.size()), 0);
  // No new frame: nothing is written, so the caller generates no mips.
  const uint64_t uploads = engine_.counters().uploads;
  EXPECT_FALSE(engine_.uploadLatestFrame(target.get()));
  EXPECT_FALSE(engine_.uploadLatestFrame(target.get()));
  EXPECT_EQ(engine_.counters().uploads, uploads);
  advance(34);
  EXPECT_TRUE(engine_.uploadLatestFrame(target.get()));
  EXPECT_EQ(engine_.counters().uploads, uploads + 1);
}

TEST_F(FrameUpload, FirstFrameIsLoggedOncePerEngineNotPerStart) {
  ComRef<ID3D11Texture2D> target = texture(32, 32);
  const char* kFirst = "[WindowCapture] Primer frame del trabajador copiado correctamente a la textura del GPS.";
  for (int round = 0; round < 2; ++round) {
    startCapturing(target.get());
    ASSERT_TRUE(engine_.uploadLatestFrame(target.get()));
    advance(34);
    ASSERT_TRUE(engine_.uploadLatestFrame(target.get()));
    engine_.deactivate();
    EXPECT_FALSE(engine_.latestFrame(frame_));
  }
  EXPECT_EQ(log_.count(kFirst), 1u);
}

// The real context behind a method table of our own: counts the calls the engine makes on it and
// the threads that unmap, and can make one method fault the first time (as a driver might).
struct WrappedContext {
  static constexpr size_t kAddRef = 1, kRelease = 2, kGetDevice = 3, kMap = 14, kUnmap = 15, kCopyRegion = 46,
                          kUpdateSubresource = 48;
  static constexpr size_t kSlots = 144;

  explicit WrappedContext(ID3D11DeviceContext* real, size_t faultOn = 0) : real_(real), faultOn_(faultOn) {
    std::memcpy(table_, *reinterpret_cast<void***>(real), sizeof table_);
    table_[kAddRef] = reinterpret_cast<void*>(&addRef);
    table_[kRelease] = reinterpret_cast<void*>(&release);
    table_[kGetDevice] = reinterpret_cast<void*>(&getDevice);
    table_[kMap] = reinterpret_cast<void*>(&map);
    table_[kUnmap] = reinterpret_cast<void*>(&unmap);
    table_[kCopyRegion] = reinterpret_cast<void*>(&copy);
    table_[kUpdateSubresource] = reinterpret_cast<void*>(&update);
  }
  ID3D11DeviceContext* get() { return reinterpret_cast<ID3D11DeviceContext*>(this); }
  static WrappedContext* me(ID3D11DeviceContext* self) { return reinterpret_cast<WrappedContext*>(self); }
  static void fault(ID3D11DeviceContext* self, size_t method) {
    ++me(self)->calls_;
    if (me(self)->faultOn_ == method && me(self)->faults_++ == 0) *static_cast<volatile int*>(nullptr) = 1;
  }

  static ULONG STDMETHODCALLTYPE addRef(ID3D11DeviceContext* self) { return me(self)->real_->AddRef(); }
  static ULONG STDMETHODCALLTYPE release(ID3D11DeviceContext* self) { return me(self)->real_->Release(); }
  static void STDMETHODCALLTYPE getDevice(ID3D11DeviceContext* self, ID3D11Device** out) {
    ++me(self)->calls_;
    me(self)->real_->GetDevice(out);
  }
  static HRESULT STDMETHODCALLTYPE map(ID3D11DeviceContext* self, ID3D11Resource* r, UINT sub, D3D11_MAP type,
                                       UINT flags, D3D11_MAPPED_SUBRESOURCE* out) {
    fault(self, kMap);
    const HRESULT hr = me(self)->real_->Map(r, sub, type, flags, out);
    if (SUCCEEDED(hr)) ++me(self)->mapped_;
    return hr;
  }
  static void STDMETHODCALLTYPE unmap(ID3D11DeviceContext* self, ID3D11Resource* r, UINT sub) {
    fault(self, kUnmap);
    --me(self)->mapped_;
    me(self)->unmapThread_ = GetCurrentThreadId();
    me(self)->real_->Unmap(r, sub);
  }
  static void STDMETHODCALLTYPE copy(ID3D11DeviceContext* self, ID3D11Resource* dst, UINT dstSub, UINT x, UINT y,
                                     UINT z, ID3D11Resource* src, UINT srcSub, const D3D11_BOX* box) {
    fault(self, kCopyRegion);
    me(self)->real_->CopySubresourceRegion(dst, dstSub, x, y, z, src, srcSub, box);
  }
  static void STDMETHODCALLTYPE update(ID3D11DeviceContext* self, ID3D11Resource* dst, UINT sub, const D3D11_BOX* box,
                                       const void* data, UINT rowPitch, UINT depthPitch) {
    fault(self, kUpdateSubresource);
    me(self)->real_->UpdateSubresource(dst, sub, box, data, rowPitch, depthPitch);
  }

  void** vtable_ = table_;  // first member: the object's method table
  void* table_[kSlots];
  ID3D11DeviceContext* real_;
  size_t faultOn_;
  int faults_ = 0;
  std::atomic<int> calls_{0};
  std::atomic<int> mapped_{0};  // maps not yet unmapped
  std::atomic<DWORD> unmapThread_{0};
};

// A fault inside a driver call of ours (the unmap, the picture's copy, the bars' write) leaves
// the runtime half way through it: capture ends on that device with one ERROR line, nothing of
// capture calls into the context again, and a start on it is refused. It is never retried frame
// after frame.
TEST_F(FrameUpload, AFaultInsideADriverCallEndsCaptureOnThatDevice) {
  const char* kEnded =
      "[WindowCapture] UpdateSubresource protegido detecto una excepcion; la captura se detiene en este dispositivo.";
  std::deque<WrappedContext> contexts;  // each case on a context of its own, alive to the end
  int round = 0;
  for (size_t method : {WrappedContext::kUnmap, WrappedContext::kCopyRegion, WrappedContext::kUpdateSubresource}) {
    SCOPED_TRACE(method);
    WrappedContext& faulting = contexts.emplace_back(context_.get(), method);
    ComRef<ID3D11Texture2D> target = texture(48, 48);
    ASSERT_TRUE(engine_.start(device_.get(), faulting.get(), uniqueToken(), 30, true, 0, 0, 0, 0));
    EXPECT_FALSE(engine_.uploadLatestFrame(target.get()));
    ASSERT_TRUE(settle());
    ASSERT_TRUE(engine_.latestFrame(frame_));
    EXPECT_FALSE(engine_.uploadLatestFrame(target.get()));
    EXPECT_EQ(faulting.faults_, 1);
    EXPECT_FALSE(engine_.isActive());
    EXPECT_EQ(log_.count(kEnded), static_cast<size_t>(++round));
    const int calls = faulting.calls_.load();
    advance(34);
    EXPECT_FALSE(engine_.uploadLatestFrame(target.get()));
    EXPECT_FALSE(engine_.start(device_.get(), faulting.get(), uniqueToken(), 30, true, 0, 0, 0, 0));
    engine_.shutdown();
    EXPECT_EQ(faulting.calls_.load(), calls);
    EXPECT_FALSE(log_.has("Primer frame del trabajador"));
  }
}

// Shut-down runs on the SDK's thread while the game's thread keeps using its context: the
// staging textures are unmapped by the render thread's last turn before the hooks go; a game
// that does not present by then has them dropped with no call into its context.
TEST_F(FrameUpload, ShutDownUnmapsOnTheRenderThreadOrDropsWithoutCallingTheContext) {
  WrappedContext wrapped(context_.get());
  ComRef<ID3D11Texture2D> target = texture(48, 48);
  for (bool presenting : {true, false}) {
    SCOPED_TRACE(presenting);
    ASSERT_TRUE(engine_.start(device_.get(), wrapped.get(), uniqueToken(), 30, true, 0, 0, 0, 0));
    EXPECT_FALSE(engine_.uploadLatestFrame(target.get()));
    ASSERT_TRUE(settle());
    ASSERT_GT(wrapped.mapped_.load(), 0);
    std::atomic<bool> done{false};
    std::thread sdk([&] {
      engine_.releaseBeforeHooksGo(clock::steadyNs() + 2'000'000'000ull, false);
      done.store(true);
    });
    while (!done.load()) {
      if (presenting) {
        engine_.renderThreadTurn();
      } else {
        clock_.advanceMs(50);  // time passes, but no frame comes
      }
      Sleep(1);
    }
    sdk.join();
    const int calls = wrapped.calls_.load();
    engine_.shutdown();
    EXPECT_TRUE(engine_.ringReleased());
    if (presenting) {
      EXPECT_EQ(wrapped.mapped_.load(), 0);
      EXPECT_EQ(wrapped.unmapThread_.load(), GetCurrentThreadId());
    } else {
      EXPECT_EQ(wrapped.calls_.load(), calls);
    }
  }
}

// The ring's slots are retired by the render thread: another thread reads no picture from them.
TEST_F(FrameUpload, LatestFrameIsReadOnTheRenderThreadOnly) {
  ComRef<ID3D11Texture2D> target = texture(32, 32);
  startCapturing(target.get());
  bool elsewhere = true;
  std::thread([&] { elsewhere = engine_.latestFrame(frame_); }).join();
  EXPECT_FALSE(elsewhere);
  EXPECT_TRUE(engine_.latestFrame(frame_));
}

// The letterbox around the picture is made black once per texture; pictures after it write only
// their own box, and the render thread hands the context no picture bytes of its own.
TEST_F(FrameUpload, TheBlackBarsAreWrittenOnceAndNeverAgainWhilePicturesFollow) {
  ComRef<ID3D11Texture2D> target = texture(64, 64);
  const std::vector<uint32_t> grey(64 * 64, 0xFF808080u);
  context_->UpdateSubresource(target.get(), 0, nullptr, grey.data(), 64 * 4, 0);  // the test pattern, say
  startCapturing(target.get());
  ASSERT_TRUE(engine_.uploadLatestFrame(target.get()));
  std::vector<uint32_t> texels = readTexels(device_.get(), target.get());
  // 61 x 61 at (1, 1).
  for (uint32_t i : {0u, 63u, 64u * 63u, 64u * 64u - 1u, 64u * 30u, 64u * 30u + 63u}) EXPECT_EQ(texels[i], 0u) << i;
  EXPECT_NE(texels[64 * 30 + 1] & 0xFFFFFFu, 0u);
  const CaptureCounters first = engine_.counters();
  EXPECT_EQ(first.barWrites, 1u);
  EXPECT_EQ(first.renderThreadBytes, (64u * 3u + 3u * 61u) * 4u);  // the bars, nothing else

  // Whatever lands in the bars afterwards stays: nothing of ours writes there again.
  const std::vector<uint32_t> marker(64, 0xFF00FF00u);
  const D3D11_BOX topRow{0, 0, 0, 64, 1, 1};
  context_->UpdateSubresource(target.get(), 0, &topRow, marker.data(), 64 * 4, 0);
  for (int frame = 0; frame < 3; ++frame) {
    advance(34);
    ASSERT_TRUE(engine_.uploadLatestFrame(target.get()));
  }
  texels = readTexels(device_.get(), target.get());
  for (uint32_t x = 0; x < 64; ++x) ASSERT_EQ(texels[x], 0xFF00FF00u) << x;
  EXPECT_EQ(engine_.counters().barWrites, 1u);
  EXPECT_EQ(engine_.counters().renderThreadBytes, first.renderThreadBytes);
}

// The media program is another process: PrintWindow leaves its picture black under Wine, and the
// worker copies it from the window's device context instead, saying so once, and keeps to the
// copy (PrintWindow is tried again only every few seconds).
TEST(CaptureOfAnotherProcess, CopiesTheMediaProgramFromItsDeviceContext) {
  LogCapture log;
  ComRef<ID3D11DeviceContext> context;
  ComRef<ID3D11Device> device = makeDevice(&context);
  ASSERT_TRUE(device);
  const std::wstring title = L"Lofi " + uniqueToken() + L" - YouTube";
  sim::MediaProgram program("lofi", title, 0);
  std::string error;
  ASSERT_TRUE(program.open(10000, error)) << error;
  // On screen whatever the display's size (the copy reads what the screen shows), in front.
  SetWindowPos(program.hwnd(), HWND_TOPMOST, 20, 20, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);

  GdiWindowCapture engine;
  ComRef<ID3D11Texture2D> target;
  D3D11_TEXTURE2D_DESC d = textureDesc(256, 144, 1, DXGI_FORMAT_B8G8R8A8_UNORM);
  device->CreateTexture2D(&d, nullptr, target.put());
  ASSERT_TRUE(engine.start(device.get(), context.get(), title, 30, true, 0, 0, 0, 0));
  EXPECT_FALSE(engine.uploadLatestFrame(target.get()));
  CaptureFrame first, later;
  for (int i = 0; i < 500 && !engine.latestFrame(first); ++i) Sleep(10);
  ASSERT_EQ(engine.currentWindow(), program.hwnd()) << log.dump();
  ASSERT_GT(first.sequence, 0u);
  // Teal ground and purple bars of the program inside the black border.
  size_t teal = 0, purple = 0;
  for (uint32_t y = 10; y < 134; y += 4) {
    for (uint32_t x = 10; x < 246; x += 4) {
      const uint32_t p = pixelAt(first, x, y);
      teal += p == pixelOf(RGB(0, 140, 130));
      purple += p == pixelOf(RGB(110, 50, 160));
    }
  }
  EXPECT_GT(teal, 200u);
  EXPECT_GT(purple, 50u);
  EXPECT_GT(engine.counters().deviceContextCopies, 0u);
  EXPECT_EQ(log.count("PrintWindow dejo la ventana en negro; se copia desde su contexto de dispositivo"), 1u);
  const uint64_t prints = engine.counters().printWindowCalls;
  // The picture moves, and it reaches the texture.
  bool moved = false;
  for (int i = 0; i < 200 && !moved; ++i) {
    Sleep(10);
    moved = engine.latestFrame(later) && later.sequence != first.sequence &&
            std::memcmp(later.pixels.data(), first.pixels.data(), first.pixels.size()) != 0;
  }
  EXPECT_TRUE(moved) << "first " << first.sequence << " later " << later.sequence << " copies "
                     << engine.counters().deviceContextCopies << " prints " << engine.counters().printWindowCalls
                     << " same " << (std::memcmp(later.pixels.data(), first.pixels.data(), first.pixels.size()) == 0);
  EXPECT_EQ(engine.counters().printWindowCalls, prints);
  EXPECT_TRUE(engine.uploadLatestFrame(target.get()));
  engine.shutdown();
  EXPECT_EQ(log.count("PrintWindow dejo la ventana en negro"), 1u);
  EXPECT_TRUE(program.close(5000));
}

}  // namespace
}  // namespace zor::test

// Core Audio as the media code sees it, for a platform that cannot enumerate audio sessions
// (Wine answers E_NOTIMPL): objects of our own behind the real COM interfaces (device
// enumerator, device, session manager 2, session enumerator, session control 2, simple volume),
// installed where the plugin creates the device enumerator. Every object counts its references;
// the system's owner holds one and checks at the end that every other one was given back.
#pragma once

#include <windows.h>
#include <audioclient.h>
#include <audiopolicy.h>
#include <mmdeviceapi.h>

#include <atomic>
#include <memory>
#include <vector>

#include "media/SmartAudio.h"

namespace zor::test {

// The reference count every fake shares; the owner's reference is the first one.
class RefCount {
 public:
  ULONG add() { return static_cast<ULONG>(++refs_); }
  ULONG release() {
    const long left = --refs_;
    if (left < 1) overReleased_ = true;
    return static_cast<ULONG>(left < 0 ? 0 : left);
  }
  // Only the owner's reference is left and nobody released one too many.
  bool balanced() const { return refs_ == 1 && !overReleased_; }
  long count() const { return refs_; }

 private:
  std::atomic<long> refs_{1};
  std::atomic<bool> overReleased_{false};
};

// One session: control, volume and (when it has one) peak meter are interfaces of one object,
// as in Windows.
class FakeSession final : public IAudioSessionControl2, public ISimpleAudioVolume, public audio::PeakMeter {
 public:
  bool hasMeter = false;  // answers for its peak meter
  float peak = 0.0f;
  DWORD processId = 0;
  float level = 1.0f;
  BOOL mute = FALSE;
  HRESULT processIdResult = S_OK;  // a failure skips the session
  HRESULT getVolumeResult = S_OK;
  HRESULT setVolumeResult = S_OK;
  HRESULT getMuteResult = S_OK;
  HRESULT setMuteResult = S_OK;
  int setVolumeCalls = 0;
  int setMuteCalls = 0;
  RefCount refs;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == __uuidof(IAudioSessionControl) || iid == audio::kIidSessionControl2)
      *out = static_cast<IAudioSessionControl2*>(this);
    else if (iid == audio::kIidSimpleVolume)
      *out = static_cast<ISimpleAudioVolume*>(this);
    else if (iid == audio::kIidMeterInformation && hasMeter)
      *out = static_cast<audio::PeakMeter*>(this);
    else
      return E_NOINTERFACE;
    refs.add();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return refs.add(); }
  ULONG STDMETHODCALLTYPE Release() override { return refs.release(); }

  HRESULT STDMETHODCALLTYPE GetState(AudioSessionState* state) override {
    *state = AudioSessionStateActive;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDisplayName(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetDisplayName(LPCWSTR, LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIconPath(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetIconPath(LPCWSTR, LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetGroupingParam(GUID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetGroupingParam(LPCGUID, LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RegisterAudioSessionNotification(IAudioSessionEvents*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE UnregisterAudioSessionNotification(IAudioSessionEvents*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSessionIdentifier(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSessionInstanceIdentifier(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetProcessId(DWORD* id) override {
    if (FAILED(processIdResult)) return processIdResult;
    *id = processId;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsSystemSoundsSession() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetDuckingPreference(BOOL) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE SetMasterVolume(float value, LPCGUID) override {
    ++setVolumeCalls;
    if (FAILED(setVolumeResult)) return setVolumeResult;
    level = value;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMasterVolume(float* value) override {
    if (FAILED(getVolumeResult)) return getVolumeResult;
    *value = level;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetMute(BOOL value, LPCGUID) override {
    ++setMuteCalls;
    if (FAILED(setMuteResult)) return setMuteResult;
    mute = value;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMute(BOOL* value) override {
    if (FAILED(getMuteResult)) return getMuteResult;
    *value = mute;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPeakValue(float* value) override {
    *value = peak;
    return S_OK;
  }
};

// The default render device with its session manager and the sessions on it. While it lives
// it is the plugin's device enumerator.
class FakeAudioSystem final : public IMMDeviceEnumerator,
                              public IMMDevice,
                              public IAudioSessionManager2,
                              public IAudioSessionEnumerator {
 public:
  HRESULT endpointResult = S_OK;     // GetDefaultAudioEndpoint
  HRESULT enumerateResult = S_OK;    // GetSessionEnumerator
  int enumeratorsCreated = 0;
  RefCount refs;

  FakeAudioSystem() {
    current() = this;
    audio::setEnumeratorFactory(&create);
  }
  ~FakeAudioSystem() {
    audio::setEnumeratorFactory(nullptr);
    current() = nullptr;
  }
  FakeAudioSystem(const FakeAudioSystem&) = delete;
  FakeAudioSystem& operator=(const FakeAudioSystem&) = delete;

  FakeSession& addSession(DWORD processId, float level = 1.0f, bool mute = false) {
    sessions_.push_back(std::make_unique<FakeSession>());
    FakeSession& s = *sessions_.back();
    s.processId = processId;
    s.level = level;
    s.mute = mute ? TRUE : FALSE;
    return s;
  }
  FakeSession& session(size_t i) { return *sessions_.at(i); }
  // Every reference handed out (to the system and to each session) was released.
  bool balanced() const {
    for (const auto& s : sessions_)
      if (!s->refs.balanced()) return false;
    return refs.balanced();
  }

  // IUnknown, shared by the four interfaces of the system.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == audio::kIidDeviceEnumerator)
      *out = static_cast<IMMDeviceEnumerator*>(this);
    else if (iid == __uuidof(IMMDevice))
      *out = static_cast<IMMDevice*>(this);
    else if (iid == audio::kIidSessionManager2 || iid == __uuidof(IAudioSessionManager))
      *out = static_cast<IAudioSessionManager2*>(this);
    else if (iid == __uuidof(IAudioSessionEnumerator))
      *out = static_cast<IAudioSessionEnumerator*>(this);
    else
      return E_NOINTERFACE;
    refs.add();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return refs.add(); }
  ULONG STDMETHODCALLTYPE Release() override { return refs.release(); }

  // IMMDeviceEnumerator
  HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow, DWORD, IMMDeviceCollection**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole role, IMMDevice** out) override {
    if (FAILED(endpointResult)) return endpointResult;
    if (flow != eRender || role != eMultimedia) return E_INVALIDARG;
    refs.add();
    *out = static_cast<IMMDevice*>(this);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR, IMMDevice**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient*) override {
    return E_NOTIMPL;
  }

  // IMMDevice
  HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD, PROPVARIANT*, void** out) override {
    if (iid != audio::kIidSessionManager2) return E_NOINTERFACE;
    refs.add();
    *out = static_cast<IAudioSessionManager2*>(this);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD, IPropertyStore**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetId(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override {
    *state = DEVICE_STATE_ACTIVE;
    return S_OK;
  }

  // IAudioSessionManager2
  HRESULT STDMETHODCALLTYPE GetAudioSessionControl(LPCGUID, DWORD, IAudioSessionControl**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetSimpleAudioVolume(LPCGUID, DWORD, ISimpleAudioVolume**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSessionEnumerator(IAudioSessionEnumerator** out) override {
    if (FAILED(enumerateResult)) return enumerateResult;
    refs.add();
    *out = static_cast<IAudioSessionEnumerator*>(this);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RegisterSessionNotification(IAudioSessionNotification*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE UnregisterSessionNotification(IAudioSessionNotification*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RegisterDuckNotification(LPCWSTR, IAudioVolumeDuckNotification*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE UnregisterDuckNotification(IAudioVolumeDuckNotification*) override { return E_NOTIMPL; }

  // IAudioSessionEnumerator
  HRESULT STDMETHODCALLTYPE GetCount(int* count) override {
    *count = static_cast<int>(sessions_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSession(int index, IAudioSessionControl** out) override {
    if (index < 0 || static_cast<size_t>(index) >= sessions_.size()) return E_INVALIDARG;
    FakeSession& s = *sessions_[static_cast<size_t>(index)];
    s.refs.add();
    *out = static_cast<IAudioSessionControl2*>(&s);
    return S_OK;
  }

 private:
  static FakeAudioSystem*& current() {
    static FakeAudioSystem* system = nullptr;
    return system;
  }
  static HRESULT create(IMMDeviceEnumerator** out) {
    FakeAudioSystem* system = current();
    if (!system) return REGDB_E_CLASSNOTREG;
    ++system->enumeratorsCreated;
    system->refs.add();
    *out = static_cast<IMMDeviceEnumerator*>(system);
    return S_OK;
  }

  std::vector<std::unique_ptr<FakeSession>> sessions_;
};

}  // namespace zor::test

#include <gtest/gtest.h>

#include "FakeCoreAudio.h"
#include "MediaTestSupport.h"
#include "core/IniFile.h"
#include "media/ChosenSource.h"
#include "media/SmartAudio.h"
#include "support/ManualClock.h"

using namespace zor;
using namespace zor::test;

namespace {

// A process that stays alive (suspended) until the holder goes.
class SuspendedProcess {
 public:
  explicit SuspendedProcess(const std::wstring& exe) {
    STARTUPINFOW si{sizeof si};
    std::wstring command = L"\"" + exe + L"\" --gtest_list_tests";
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED | DETACHED_PROCESS,
                        nullptr, nullptr, &si, &pi_))
      pi_ = {};
  }
  ~SuspendedProcess() { end(); }
  void end() {
    if (!pi_.hProcess) return;
    TerminateProcess(pi_.hProcess, 0);
    WaitForSingleObject(pi_.hProcess, 10000);
    CloseHandle(pi_.hThread);
    CloseHandle(pi_.hProcess);
    pi_.hProcess = nullptr;
    // Wine lets go of an ended process a moment after its last handle closed.
    for (int i = 0; i < 100; ++i) {
      HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pi_.dwProcessId);
      if (!h) break;
      CloseHandle(h);
      Sleep(50);
    }
  }
  DWORD pid() const { return pi_.dwProcessId; }

 private:
  PROCESS_INFORMATION pi_{};
};

std::wstring ownExe() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

const std::wstring kCmd = L"C:\\windows\\system32\\cmd.exe";

class SmartAudioTest : public MediaTest {
 protected:
  SmartAudioTest() {
    TestWindows::clearAll();
    TestWindows::setTitle(0, L"Lofi Radio - YouTube");
  }
  ~SmartAudioTest() override { TestWindows::clearAll(); }
  std::wstring audioFile() const { return file(media::kAudioFile); }
  const DWORD self = GetCurrentProcessId();
};

TEST(SmartAudioNames, SectionNamesFollowTheApplicationTableThenTheTitleItself) {
  const std::pair<const char*, std::wstring> cases[] = {
      {"Lofi Radio - YouTube", L"youtube"},
      {"youtube music | Spotify", L"youtube"},  // the table's order decides
      {"Spotify Premium", L"spotify"},
      {"VLC media player", L"vlc"},
      {"Amazon Prime Video: Serie", L"prime_video"},
      {"Twitch", L"twitch"},
      {"OBS 30.1", L"obs"},
      {"Radio Nacional (en vivo)", L"radio_nacional__en_vivo_"},
      {"", L"default"},
      // towlower of the C run-time lowers A-Z only; other letters count as letters and stay.
      {"\xD0\xA0\xD0\xB0\xD0\xB4\xD0\xB8\xD0\xBE 1", L"\u0420\u0430\u0434\u0438\u043E_1"},
  };
  for (const auto& [title, key] : cases) EXPECT_EQ(appAudioKey(title), key) << title;
  EXPECT_EQ(appAudioKey(std::string(100, 'a')), std::wstring(80, L'a'));
}

TEST(SmartAudioNames, ProcessNamesAreLowerCaseFileNamesOrEmpty) {
  EXPECT_EQ(processImageName(GetCurrentProcessId()), L"test_media.exe");
  EXPECT_EQ(processImageName(0), L"");
  SuspendedProcess gone(kCmd);
  const DWORD pid = gone.pid();
  ASSERT_NE(pid, 0u);
  EXPECT_EQ(processImageName(pid), L"cmd.exe");
  gone.end();
  EXPECT_EQ(processImageName(pid), L"");
}

TEST(SmartAudioIds, TheInterfaceIdentifiersAreThePublishedOnes) {
  EXPECT_EQ(audio::kIidDeviceEnumerator, __uuidof(IMMDeviceEnumerator));
  EXPECT_EQ(audio::kIidSessionManager2, __uuidof(IAudioSessionManager2));
  EXPECT_EQ(audio::kIidSessionControl2, __uuidof(IAudioSessionControl2));
  EXPECT_EQ(audio::kIidSimpleVolume, __uuidof(ISimpleAudioVolume));
  EXPECT_EQ(audio::kClsidDeviceEnumerator, __uuidof(MMDeviceEnumerator));
}

TEST_F(SmartAudioTest, EverySessionOfTheSameProgramChangesTogetherAndOthersStayAndEveryReferenceIsReturned) {
  SuspendedProcess sameProgram(ownExe());
  SuspendedProcess otherProgram(kCmd);
  SuspendedProcess exited(kCmd);
  const DWORD exitedPid = exited.pid();
  exited.end();  // a process that ended between the window search and the session lookup
  {
    FakeAudioSystem system;
    system.addSession(self, 0.5f);
    system.addSession(sameProgram.pid(), 0.3f);
    system.addSession(otherProgram.pid(), 0.9f);
    system.addSession(exitedPid, 0.2f);
    system.addSession(self, 0.4f).processIdResult = E_FAIL;  // a call failing on one session

    EXPECT_TRUE(setAppVolume(findSourceByTitle("lofi radio - youtube"), 150, true));
    EXPECT_FLOAT_EQ(system.session(0).level, 1.0f);
    EXPECT_FLOAT_EQ(system.session(1).level, 1.0f);
    EXPECT_FLOAT_EQ(system.session(2).level, 0.9f);
    EXPECT_FLOAT_EQ(system.session(3).level, 0.2f);
    EXPECT_FLOAT_EQ(system.session(4).level, 0.4f);
    EXPECT_EQ(ini::readString(audioFile(), L"youtube", L"volume"), L"100");
    EXPECT_EQ(ini::readString(audioFile(), L"youtube", L"muted"), L"0");

    const AudioState state = readAudioState(findSourceByTitle("Lofi Radio - YouTube"));
    EXPECT_TRUE(state.connected);
    EXPECT_EQ(state.sessionCount, 2u);
    EXPECT_EQ(state.processName, "test_media.exe");
    EXPECT_TRUE(system.balanced());
  }
}

TEST_F(SmartAudioTest, TheReportedVolumeIsTheRoundedAverageOfTheReadableSessions) {
  const struct {
    std::vector<float> levels;
    int failing;  // index of a session whose volume cannot be read, or -1
    bool connected;
    uint32_t volume;
    const char* message;
  } cases[] = {
      {{0.555f}, -1, true, 56, "Sesion de audio conectada."},
      {{0.554f}, -1, true, 55, "Sesion de audio conectada."},
      {{0.5f, 0.6f}, -1, true, 55, "Sesion de audio conectada."},
      {{0.2f, 0.9f, 0.4f}, 1, true, 30, "Sesion de audio conectada."},
      {{0.7f}, 0, false, 100, "No fue posible leer el volumen."},
  };
  for (const auto& c : cases) {
    FakeAudioSystem system;
    for (size_t i = 0; i < c.levels.size(); ++i) {
      FakeSession& s = system.addSession(self, c.levels[i], i == 1);
      if (static_cast<int>(i) == c.failing) s.getVolumeResult = E_FAIL;
    }
    const AudioState state = readAudioState(findSourceByTitle("Lofi Radio - YouTube"));
    EXPECT_EQ(state.connected, c.connected) << c.levels.size();
    EXPECT_EQ(state.volume, c.volume) << c.levels[0];
    EXPECT_EQ(state.muted, c.levels.size() > 1) << c.levels.size();
    EXPECT_EQ(state.message, c.message);
    EXPECT_TRUE(system.balanced());
  }
}

TEST_F(SmartAudioTest, WithoutWindowSessionOrDeviceNothingIsFoundAndNothingSaved) {
  FakeAudioSystem system;
  system.addSession(self + 100000, 0.5f);  // no session of this program
  EXPECT_EQ(readAudioState(findSourceByTitle("Lofi Radio - YouTube")).message, "La aplicacion no tiene una sesion de audio activa.");
  EXPECT_EQ(readAudioState(findSourceByTitle("Ventana inexistente")).message, "La aplicacion no tiene una sesion de audio activa.");
  EXPECT_EQ(readAudioState(findSourceByTitle("")).message, "Seleccione una ventana.");
  EXPECT_EQ(system.enumeratorsCreated, 1);  // only the title with a window reached Core Audio
  system.addSession(self, 0.5f);
  system.endpointResult = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  EXPECT_FALSE(setAppVolume(findSourceByTitle("Lofi Radio - YouTube"), 20, true));
  EXPECT_FALSE(setAppMute(findSourceByTitle("Lofi Radio - YouTube"), true, true));
  system.endpointResult = S_OK;
  system.enumerateResult = E_NOTIMPL;
  EXPECT_FALSE(readAudioState(findSourceByTitle("Lofi Radio - YouTube")).connected);
  EXPECT_FALSE(exists(audioFile()));
  EXPECT_TRUE(system.balanced());
}

TEST_F(SmartAudioTest, MuteSavesTheLastReadableVolumeAndAPartialFailureStillCounts) {
  FakeAudioSystem system;
  system.addSession(self, 0.25f).setMuteResult = E_FAIL;
  system.addSession(self, 0.6f);
  EXPECT_TRUE(setAppMute(findSourceByTitle("Lofi Radio - YouTube"), true, true));
  EXPECT_FALSE(system.session(0).mute);
  EXPECT_TRUE(system.session(1).mute);
  EXPECT_EQ(ini::readString(audioFile(), L"youtube", L"volume"), L"60");
  EXPECT_EQ(ini::readString(audioFile(), L"youtube", L"muted"), L"1");
  EXPECT_TRUE(setAppVolume(findSourceByTitle("Lofi Radio - YouTube"), 35, false));  // not saved
  EXPECT_EQ(ini::readString(audioFile(), L"youtube", L"volume"), L"60");
  EXPECT_TRUE(system.balanced());
}

TEST_F(SmartAudioTest, APlaybackStartRestoresTheSavedVolumeAndMuteOrKeepsTheSessionsOwn) {
  FakeAudioSystem system;
  FakeSession& session = system.addSession(self, 0.8f);
  restoreAppAudio(findSourceByTitle("Lofi Radio - YouTube"));  // nothing saved: the session's own values
  EXPECT_FLOAT_EQ(session.level, 0.8f);
  EXPECT_FALSE(session.mute);
  EXPECT_EQ(log.count("Audio restaurado | volumen=80% | mute=no."), 1u);

  ASSERT_TRUE(writeFile(audioFile(), "[youtube]\r\nvolume=140\r\nmuted=1\r\n"));
  restoreAppAudio(findSourceByTitle("Lofi Radio - YouTube"));
  EXPECT_FLOAT_EQ(session.level, 1.0f);
  EXPECT_TRUE(session.mute);
  EXPECT_EQ(log.count("Audio restaurado | volumen=100% | mute=si."), 1u);
  EXPECT_EQ(ini::readString(audioFile(), L"youtube", L"volume"), L"140");  // a restore saves nothing
  EXPECT_EQ(system.enumeratorsCreated, 2);  // the sessions are looked up once per start
  EXPECT_TRUE(system.balanced());
}

// Whether the application makes sound, from its sessions' peak meters where they answer: a still
// picture of a silent application (a paused video) is not warned about.
TEST_F(SmartAudioTest, TheSoundOfAWindowsProgramComesFromItsSessionsPeakMeters) {
  TestWindows::setTitle(0, L"Lofi Radio - YouTube");
  const struct {
    const char* name;
    std::vector<std::pair<bool, float>> sessions;  // (has a meter, peak)
    SourceSound sound;
  } cases[] = {
      {"no session", {}, SourceSound::Unknown},
      {"no meter", {{false, 0.0f}}, SourceSound::Unknown},
      {"silent meters", {{true, 0.0f}, {false, 0.0f}, {true, 0.0f}}, SourceSound::Silent},
      {"one session sounding", {{true, 0.0f}, {true, 0.3f}}, SourceSound::Sounding},
  };
  for (const auto& c : cases) {
    FakeAudioSystem system;
    for (const auto& [meter, peak] : c.sessions) {
      FakeSession& session = system.addSession(self, 0.5f);
      session.hasMeter = meter;
      session.peak = peak;
    }
    EXPECT_EQ(soundOfWindow(TestWindows::get(0)), c.sound) << c.name;
    EXPECT_EQ(readAudioState(findSourceByTitle("Lofi Radio - YouTube")).sound, c.sound) << c.name;
    EXPECT_TRUE(system.balanced()) << c.name;
  }
}

// A radio whose title is the song: one section for the application, and a section written per
// title by an older version is still read.
TEST_F(SmartAudioTest, AnApplicationKeepsOneSectionWhateverItsTitleAndOldTitleSectionsStillRestore) {
  AppLibrary::instance().initialize();
  ASSERT_TRUE(AppLibrary::instance().addCustomApp("Radio", "Radio Nacional"));
  FakeAudioSystem system;
  FakeSession& session = system.addSession(self, 0.8f);
  for (const wchar_t* song : {L"Radio Nacional - Cancion 1", L"Radio Nacional - Cancion 2"}) {
    TestWindows::setTitle(0, song);
    EXPECT_TRUE(setAppVolume(findSourceByTitle(narrow(song)), song[25] == L'1' ? 40 : 50, true));
  }
  EXPECT_EQ(readFile(audioFile()), "[radio_nacional]\r\nvolume=50\r\nmuted=0\r\n");

  ASSERT_TRUE(writeFile(audioFile(), "[radio_nacional___cancion_3]\r\nvolume=20\r\n"));
  TestWindows::setTitle(0, L"Radio Nacional - Cancion 3");
  restoreAppAudio(findSourceByTitle("Radio Nacional - Cancion 3"));
  EXPECT_FLOAT_EQ(session.level, 0.2f);
  EXPECT_TRUE(system.balanced());
}

TEST_F(SmartAudioTest, ThePanelQueriesAtMostEveryTwoSecondsUnlessForced) {
  ManualClock clock;
  FakeAudioSystem system;
  system.addSession(self, 0.42f, true);
  PanelState& panel = PanelState::instance();
  panel.setSourceWindowTitle("Lofi Radio - YouTube");
  refreshAudioState(false);
  EXPECT_EQ(system.enumeratorsCreated, 1);
  EXPECT_TRUE(panel.audioFound.load());
  EXPECT_EQ(panel.volume.load(), 42);
  EXPECT_TRUE(panel.muted.load());
  EXPECT_EQ(panel.text(PanelText::AudioProcessName), "test_media.exe");
  EXPECT_EQ(panel.text(PanelText::AudioStatus), "Sesion de audio conectada.");
  clock.advanceMs(1999);
  refreshAudioState(false);
  EXPECT_EQ(system.enumeratorsCreated, 1);
  refreshAudioState(true);
  EXPECT_EQ(system.enumeratorsCreated, 2);
  clock.advanceMs(2000);
  refreshAudioState(false);
  EXPECT_EQ(system.enumeratorsCreated, 3);
  panel.audioRefreshTime.store(0);  // another source window was chosen
  refreshAudioState(false);
  EXPECT_EQ(system.enumeratorsCreated, 4);
}

TEST_F(SmartAudioTest, OnWineTheRealCoreAudioPathFindsNoSessionAndReportsIt) {
  // No fake: the system's device enumerator. Wine has no default device here or answers the
  // session enumeration with E_NOTIMPL; either way the result is "no session".
  const AudioState state = readAudioState(findSourceByTitle("Lofi Radio - YouTube"));
  EXPECT_FALSE(state.connected);
  EXPECT_EQ(state.sessionCount, 0u);
  EXPECT_EQ(state.message, "La aplicacion no tiene una sesion de audio activa.");
  EXPECT_FALSE(setAppVolume(findSourceByTitle("Lofi Radio - YouTube"), 50, true));
  EXPECT_FALSE(exists(audioFile()));
}

}  // namespace

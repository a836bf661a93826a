// The scenario language in one table: every command the simulator runs, one row each, in the
// order --help, --commands and sim/README.md list them. A row holds
//   the command's name,
//   the kinds of its arguments (checked by the parser before anything runs; after "|" the
//   optional ones; a trailing "*" repeats the last kind),
//   its usage and its help (--help prints them; "\n" starts another line of help),
//   and the Simulator member that runs it: bool HANDLER(const Command& c, Failure& f), false with
//   f set stops the scenario. Each command has a handler of its own (one declaration each).
// Argument kinds: i number >= 0, n number, s text, r region, g signature, b 0/1/on/off,
// c channel, e event, m media action, M media command name, p playback action, k key
// combination, w window state, x raw-input mode, v moving/still, u moved/kept, y add/remove,
// E panel item state, z "kept", f point of a frame.
// The handlers live in a file by concern: Simulator.cpp (the run itself), PluginCommands.cpp,
// FrameCommands.cpp, InputCommands.cpp, MediaCommands.cpp, PanelCommands.cpp, Chaos.cpp,
// ForeignHookCommands.cpp.
#pragma once

// clang-format off
#define ZOR_SIM_COMMANDS(X) \
  /* the run itself */ \
  X("timeout", "i", "MS", "whole-run limit (default 60000); exceeded: exit 5", cmdTimeout) \
  X("print", "s*", "TEXT...", "print a line", cmdPrint) \
  /* the plugin's lifecycle and what it tells the game */ \
  X("plugin", "s", "PATH", "plugin DLL to use (the command line's --plugin wins)", cmdPlugin) \
  X("ini", "ssss", "FILE SECTION KEY VALUE", "write a setting into the plugin's ZOR folder (use before load)", cmdIni) \
  X("settings", "s", "read-only|writable", "every file of the plugin's ZOR folder read-only and held open without\nwrite sharing (a sync client, a virus scanner), or writable again", cmdSettings) \
  X("load", "", "", "LoadLibrary + init", cmdLoad) \
  X("init", "", "", "scs_telemetry_init again", cmdInit) \
  X("shutdown", "", "", "scs_telemetry_shutdown", cmdShutdown) \
  X("unload", "|z", "[kept]", "shutdown + FreeLibrary (with 'kept' the plugin is expected to keep its module loaded)", cmdUnload) \
  X("reload", "", "", "unload, then load", cmdReload) \
  X("unload-in-wndproc", "", "", "the game's own window procedure calls shutdown + FreeLibrary while\n" \
    "handling a message (the plugin's procedure beneath it on the stack);\nthe plugin must keep its module loaded", cmdUnloadInWndproc) \
  X("load-at", "f|i", "before-tablet|after-tablet [MS]", "load in the middle of the next frame (before the tablet screen\n" \
    "is drawn, or after it, before Present) and hold that frame until\nthe plugin has hooked Present and PSSetShaderResources (at most\n" \
    "MS, default 10000): its hooks land at that point of the frame", cmdLoadAt) \
  X("cycle-init", "i|i", "N [FRAMES]", "N x (shutdown, FRAMES frames, init, FRAMES frames)", cmdCycleInit) \
  X("cycle-reload", "i|i", "N [FRAMES]", "N x (unload, FRAMES frames, load, FRAMES frames)", cmdCycleReload) \
  X("registrations", "", "", "print what the plugin registered", cmdRegistrations) \
  X("expect-registrations", "s*", "ITEM...", "exact order, items like channel:truck.engine.enabled event:paused", cmdExpectRegistrations) \
  X("channel", "cb", "engine|electric 0|1", "set a telemetry channel (delivered at the next frame)", cmdChannel) \
  X("event", "e", "paused|started", "send a game event", cmdEvent) \
  X("truck", "s|ss", "VEHICLE_ID [BRAND NAME]", "put the player in a truck (configuration event + dashboard)", cmdTruck) \
  X("hold-queue", "i", "MS", "a loader thread of the game goes into the engine's texture-queue\n" \
    "function (hooked by the plugin) and stays there MS ms", cmdHoldQueue) \
  X("wait-queue", "i", "MS", "render until that thread has come back out", cmdWaitQueue) \
  X("wait-hooked", "i", "MS", "render until a plugin has hooked the swap chain's Present and the\n" \
    "context's IASetIndexBuffer (the last of its start-up hooks), then\ntwo frames more (the first hooked Present adopts the device)", cmdWaitHooked) \
  X("expect-patched", "sb", "Present|DrawIndexed 0|1", "the game's method is patched by a hook (1) or as it was made (0)", cmdExpectPatched) \
  X("expect-log", "s", "TEXT", "the plugin has logged TEXT (through the game's log callback)", cmdExpectLog) \
  X("expect-no-log", "s", "TEXT", "the plugin has not logged TEXT", cmdExpectNoLog) \
  X("wait-log", "si", "TEXT MS", "render until the plugin has logged TEXT", cmdWaitLog) \
  X("wait-new-log", "si", "TEXT MS", "render until the plugin logs TEXT anew (not counting earlier lines)", cmdWaitNewLog) \
  X("expect-log-file", "s", "TEXT", "the plugin's own log file has TEXT among the lines of this run", cmdExpectLogFile) \
  /* frames and probes */ \
  X("fps", "i", "N", "frame pacing (0 = as fast as possible; default 60)", cmdFps) \
  X("frames", "i", "N", "render N frames", cmdFrames) \
  X("run", "i", "MS", "render for MS", cmdRun) \
  X("cab", "|s", "[reload]", "load the cab (its textures go through the engine's texture queue)", cmdCab) \
  X("resize", "ii", "W H", "the game window's client area and its swap chain's buffers to W x H (ResizeBuffers)", cmdResize) \
  X("device", "s|i", "recreate|new-window|released [MS]", "recreate: the game makes its device and swap chain anew on the same\n" \
    "window at the current size (graphics settings changed, the device was\nlost): everything made on the old device is released (its swap chain\nonly with the old device itself), a loaded cab is\n" \
    "loaded again through the engine's texture queue;\nnew-window: the same on a new window, the old one destroyed;\nreleased: render until nothing but the simulator holds the old device\n" \
    "(at most MS, default 5000), then let go of it: its last Release must\nreturn 0", cmdDevice) \
  X("speed", "i", "KMH", "driving speed of the scenery (0 = parked)", cmdSpeed) \
  X("screenshot", "s|s", "FILE.png [screen]", "the next frame, read back before Present; with 'screen', the\n" \
    "window as it is on the screen after Present (overlays included)", cmdScreenshot) \
  X("probe", "r|g", "REGION [SIG]", "print what a region shows; with SIG it must show that", cmdProbe) \
  X("wait-probe", "rgi", "REGION SIG MS", "render until the region shows SIG", cmdWaitProbe) \
  X("probe-screen", "r|g", "REGION [SIG]", "the same, read from the screen after Present (overlays included)", cmdProbeScreen) \
  X("wait-probe-screen", "rgi", "REGION SIG MS", "render until the screen's region shows SIG", cmdWaitProbeScreen) \
  X("wait-change", "ri", "REGION MS", "render until at least 5% of the region's samples changed colour", cmdWaitChange) \
  X("expect-still", "ri", "REGION MS", "render for MS; the region's picture must not move meanwhile", cmdExpectStill) \
  X("expect-targets-kept", "i", "N", "render N frames; the render target and depth view the game binds\n" \
    "before each Present must be bound after it", cmdExpectTargetsKept) \
  X("scene-check", "", "", "check the scene against what the plugin looks for", cmdSceneCheck) \
  /* real input */ \
  X("key", "k", "COMBO", "real X key press through xdotool, e.g. ctrl+F8", cmdKey) \
  X("click", "ii", "X Y", "real X click at client coordinates", cmdClick) \
  X("wheel", "iin", "X Y N", "real X mouse wheel at client coordinates, N notches (< 0: down)", cmdWheel) \
  X("mouse-down", "ii", "X Y", "real X left button held down at client coordinates", cmdMouseDown) \
  X("mouse-up", "", "", "real X left button released", cmdMouseUp) \
  X("mouse-move", "nn", "DX DY", "real X mouse movement, relative", cmdMouseMove) \
  X("raw-input", "x", "data|buffer|off", "read the mouse's raw input: GetRawInputData for each WM_INPUT\n" \
    "the loop takes, or GetRawInputBuffer once a frame", cmdRawInput) \
  X("expect-raw-mouse", "v", "moving|still", "what the raw mouse records read since the last check report:\n" \
    "movement or buttons, or records without either", cmdExpectRawMouse) \
  X("cursor-warp", "iiu", "X Y moved|kept", "SetCursorPos to client coordinates; expect the cursor there or not", cmdCursorWarp) \
  X("foreign-hook", "s|i", "install|take-away|write-again|frames N", "another overlay's inline hook on the swap chain's Present (a frame-rate\n" \
    "counter's): install puts its jmp over the bytes there now (on top of the\nplugin's hook, or before the plugin loads); take-away writes back the\n" \
    "bytes it saved, whatever is there by then; write-again writes its jmp\nagain with the trampoline it made first; frames: render N frames, the\n" \
    "other overlay must see every one", cmdForeignHook) \
  X("wndproc-chain", "y", "add|add-swallowing|remove", "another module's window procedure on top of the game window's;\n" \
    "add-swallowing: a mod menu's, which passes private messages it does not\nknow to DefWindowProc and takes the top back at every frame", cmdWndProcChain) \
  X("hold-wndproc", "i", "MS", "a thread of the game stays inside the game window's procedure chain\n" \
    "for MS ms (a window thread in a modal loop)", cmdHoldWndproc) \
  X("expect-window-input", "", "", "move the pointer over the game window and press a key; both must\n" \
    "reach the game's own window procedure", cmdExpectWindowInput) \
  /* the media program and the desktop's windows */ \
  X("media", "ms|ss", "open|title ID \"TITLE\" [EXE] | hide|show|minimize|restore|close|reopen|cover|uncover ID | hang ID MS", \
    "the media program zor_media.exe, a process of its own per ID;\nreopen starts it again with its last title; hang: its window answers\nno message for MS; cover: it stops painting (as a browser does with a\nwindow it thinks covered), its title kept; uncover: it paints again", cmdMedia) \
  X("wait-media-command", "sMii", "ID NAME N MS", "render until program ID has received N media commands (WM_APPCOMMAND),\n" \
    "the last one NAME (NEXTTRACK, PREVIOUSTRACK, PLAY_PAUSE, VOLUME_UP, ...)", cmdWaitMediaCommand) \
  X("expect-window", "sw", "\"TITLE\" visible|hidden|minimized|absent", "a top-level window with exactly that title, as window searches see it", cmdExpectWindow) \
  X("chart", "ss|s", "open ID \"TITLE\" | check MS | picture ID FILE", "the media program's still test chart over the whole screen; what\n" \
    "the tablet's texture holds of it (fine stripes: mean and standard\ndeviation; coarse stripes: darkest and brightest); the old and the\n" \
    "new scaling of it side by side with a close-up of the tablet (PNG)", cmdChart) \
  X("windows", "i", "N", "N more plain visible windows (\"Ventana 1\"...) beside the game window", cmdWindows) \
  /* the plugin's panel (ZorTabcastPlugin_playback.dll: its test exports) */ \
  X("playback", "p|si", "start \"KEYWORD\" [FPS] | restore", "the panel's start and restore requests, through the plugin's test export", cmdPlayback) \
  X("click-item", "s|i", "\"LABEL\" [N]", "real X click on the N-th (1) button, tab, box or field of the plugin's\n" \
    "panel so named, once it is shown and enabled (within 3 s)", cmdClickItem) \
  X("expect-item", "sE", "\"LABEL\" enabled|disabled|absent", "the state of the panel's item so named in its next frame", cmdExpectItem) \
  X("expect-text", "s", "TEXT", "the panel's next frame shows TEXT", cmdExpectText) \
  X("expect-no-text", "s", "TEXT", "the panel's next frame does not show TEXT", cmdExpectNoText) \
  X("wait-text", "si", "TEXT MS", "render until the panel shows TEXT", cmdWaitText) \
  X("panel-text", "", "", "print the text of the panel's next frame", cmdPanelText) \
  /* the chaos run (Chaos.cpp) */ \
  X("chaos", "ii", "SEED N", "N events drawn from SEED (pause, trucks, media programs, the panel, keys,\n" \
    "unload and reload...), the invariants checked after each; loads the plugin and the cab first\n" \
    "when the scenario has not", cmdChaos) \
  X("figures", "|s", "[LABEL]", "print the process's private bytes, handle count and GDI object count", cmdFigures)
// clang-format on

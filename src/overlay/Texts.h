// Every text a player reads in the panel and the wizard, in one table with a Spanish and an
// English column, and the panel's language ([ui] language of "ZorTabcastPlugin.ini": "es", the
// default, or "en"). Spanish shows each text exactly as written in the first column. Log lines
// and the support report are not in the table: they stay Spanish.
//
// A drawing call names its text by the Spanish column (tr("Reproduccion###tab_playback")); a
// text missing from the table does not compile. A "###id" ending is the item's ImGui id, the
// same in both columns, so switching the language keeps the panel's state (the chosen tab).
// Texts made by the modules beneath the overlay (status lines, diagnostics results) are
// translated when shown (trText); their rows may hold one "{}" standing for a value that
// stays as it is ("{} MB usados por ATS y el plugin").
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zor::overlay {

struct TextRow {
  const char* es;
  const char* en;
};

// clang-format off
inline constexpr TextRow kTexts[] = {
    // The player's keys (the keys tab, and the lines that name the keys in force)
    {"%s para mostrar u ocultar", "%s to show or hide"},
    {"Atajos: %s anterior | %s pausa | %s siguiente", "Shortcuts: %s previous | %s play/pause | %s next"},
    {"Volumen: %s / %s | %s silenciar", "Volume: %s / %s | %s mute"},
    {"Teclas###tab_keys", "Keys###tab_keys"},
    {"TECLAS", "KEYS"},
    {"Elija la combinacion de teclas de cada accion. El cambio vale al momento.", "Choose the key combination for each action. Changes apply right away."},
    {"Mostrar u ocultar el panel", "Show or hide the panel"},
    {"Pista anterior", "Previous track"},
    {"Pausa / Reanudar", "Play / Pause"},
    {"Pista siguiente", "Next track"},
    {"Subir volumen", "Volume up"},
    {"Bajar volumen", "Volume down"},
    {"Silenciar / Activar sonido", "Mute / Unmute"},
    {"Sin tecla", "Not set"},
    {"Cambiar###key_change", "Change###key_change"},
    {"Pulse las teclas...###key_change", "Press the keys...###key_change"},
    {"Pulse la nueva combinacion (Esc cancela).", "Press the new key combination (Esc cancels)."},
    {"%s ya es la tecla de \"%s\".", "%s is already the key for \"%s\"."},
    {"Restablecer teclas por defecto###keys_defaults", "Restore default keys###keys_defaults"},
    {"Tambien se cambian en ZorTabcastPlugin.ini, seccion [keys].", "They can also be changed in ZorTabcastPlugin.ini, section [keys]."},
    {"%s abre el panel. Las teclas se cambian en la pestana Teclas del panel.", "%s opens the panel. You can change the keys in the panel's Keys tab."},
    // Panel shell
    {"Reproduccion###tab_playback", "Playback###tab_playback"},
    {"Perfiles###tab_profiles", "Profiles###tab_profiles"},
    {"Aplicaciones###tab_applications", "Applications###tab_applications"},
    {"Diagnostico###tab_diagnostics", "Diagnostics###tab_diagnostics"},
    {"CAPTURA LISTA", "CAPTURE READY"},
    {"CAPTURA EN ESPERA", "CAPTURE IDLE"},
    {"GPS VISIBLE", "GPS VISIBLE"},
    {"GPS FUERA DE VISTA", "GPS OUT OF VIEW"},
    // Media controls and smart audio
    {"CONTROLES MULTIMEDIA", "MEDIA CONTROLS"},
    {"Controla solamente la ventana que ZOR esta capturando.", "Controls only the window ZOR is capturing."},
    {"Inicie la reproduccion para habilitar estos controles.", "Start playback to enable these controls."},
    {"Anterior###media_previous", "Previous###media_previous"},
    {"Pausa / Reanudar###media_pause", "Play / Pause###media_pause"},
    {"Siguiente###media_next", "Next###media_next"},
    {"SMART AUDIO", "SMART AUDIO"},
    {"Buscar audio###find_audio", "Find audio###find_audio"},
    {"SILENCIADO", "MUTED"},
    {"VOLUMEN ACTUAL", "VOLUME"},
    {"Aplicacion controlada: %s", "Controlling: %s"},
    {"Activar sonido###mute", "Unmute###mute"},
    {"Silenciar###mute", "Mute###mute"},
    {"Seleccione una ventana con audio.", "Select a window with audio."},
    {"Seleccione una ventana.", "Select a window."},
    {"La aplicacion no tiene una sesion de audio activa.", "This application is not playing any sound."},
    {"Sesion de audio conectada.", "Audio connected."},
    {"No fue posible leer el volumen.", "Could not read the volume."},
    // Playback tab
    {"Destino de reproduccion", "Playback screen"},
    {"Elija una sola pantalla. El otro tipo de GPS conservara su mapa original.", "Pick one screen. The other GPS keeps showing its map."},
    {"TabCast / LUMEX###target_tablet", "TabCast / LUMEX###target_tablet"},
    {"GPS original###target_dashboard", "Dashboard GPS###target_dashboard"},
    {"GPS original compatible: %s", "Dashboard GPS supported: %s"},
    {"El camion actual no tiene un perfil de GPS original compatible.", "This truck's dashboard GPS is not supported yet."},
    {"Ventana de la barra de tareas", "Window to show"},
    {"Seleccionar una ventana abierta...", "Select an open window..."},
    {"La imagen no cambia: %s", "The picture is not changing: %s"},
    {"El programa deja de pintar la ventana cuando queda cubierta: inicielo con "
     "--disable-backgrounding-occluded-windows o ponga la directiva NativeWindowOcclusionEnabled=0.",
     "The program stops drawing its window while it is covered: start it with "
     "--disable-backgrounding-occluded-windows or set the policy NativeWindowOcclusionEnabled=0."},
    {"La ventana no se repinta: compruebe que no este en pausa ni cubierta por otra ventana.",
     "The window is not redrawing: make sure it is not paused or covered by another window."},
    {"No hay ventanas visibles disponibles.", "No open windows found."},
    {"Captura inteligente", "Smart capture"},
    {"Detectar aplicaciones automaticamente###smart_enabled", "Find applications automatically###smart_enabled"},
    {"Iniciar al detectar una aplicacion###smart_auto_start", "Start playing when an application is found###smart_auto_start"},
    {"Recordar la ultima ventana###smart_remember", "Remember the last window###smart_remember"},
    {"Cambiar automaticamente si la aplicacion se cierra###smart_switch", "Switch to another application if this one closes###smart_switch"},
    {"Aplicacion detectada", "Application found"},
    {"Buscar ahora###smart_search", "Search now###smart_search"},
    {"Buscando aplicaciones compatibles...", "Looking for supported applications..."},
    {"Perfil seleccionado activo.", "The selected profile is active."},
    {"Esperando la ventana del perfil seleccionado...", "Waiting for the selected profile's window..."},
    {"La aplicacion se cerro. Esperando otra aplicacion disponible...", "The application closed. Waiting for another one..."},
    {"No se detectaron aplicaciones compatibles.", "No supported applications found."},
    {"Aplicacion compatible lista para usar.", "Supported application ready."},
    {"Cambio automatico realizado correctamente.", "Switched to another application."},
    {"Aplicacion detectada y seleccionada automaticamente.", "Application found and selected."},
    {"Resolucion de captura", "Capture resolution"},
    {"FPS", "FPS"},
    {"480p  |  854 x 480", "480p  |  854 x 480"},
    {"HD  |  1280 x 720", "HD  |  1280 x 720"},
    {"HD+  |  1600 x 900", "HD+  |  1600 x 900"},
    {"Full HD (Recomendado)  |  1920 x 1080", "Full HD (Recommended)  |  1920 x 1080"},
    {"2K  |  2560 x 1440", "2K  |  2560 x 1440"},
    {"4K UHD  |  3840 x 2160", "4K UHD  |  3840 x 2160"},
    {"15 FPS", "15 FPS"},
    {"30 FPS (Recomendado)", "30 FPS (Recommended)"},
    {"45 FPS", "45 FPS"},
    {"60 FPS", "60 FPS"},
    {"Estado del plugin", "Plugin status"},
    {"Reproduccion activa", "Playing"},
    {"Buscando la ventana del perfil...", "Looking for the profile's window..."},
    {"Listo para reproducir", "Ready to play"},
    {"Seleccione una ventana", "Select a window"},
    {"Iniciar reproduccion###start_playback", "Start playback###start_playback"},
    {"Restaurar GPS original###restore_gps", "Restore game GPS###restore_gps"},
    // Profiles tab
    {"PERFILES INTELIGENTES", "SMART PROFILES"},
    {"Guarda la ventana, resolucion y FPS. Un perfil con inicio automatico se carga al abrir ATS.", "A profile saves the window, resolution and FPS. Auto-start profiles load with ATS."},
    {"Perfiles guardados", "Saved profiles"},
    {"Seleccionar perfil...", "Select a profile..."},
    {"Todavia no hay perfiles.", "No profiles yet."},
    {"  [Inicio automatico]", "  [Auto-start]"},
    {"Cargar perfil###load_profile", "Load profile###load_profile"},
    {"Cargar e iniciar###load_and_start", "Load and start###load_and_start"},
    {"Guardar configuracion actual", "Save current settings"},
    {"Iniciar automaticamente al abrir ATS###profile_auto_start", "Start automatically with ATS###profile_auto_start"},
    {"Palabra estable para encontrar la ventana", "Window title keyword"},
    {"Ejemplo: YouTube, Spotify o VLC", "For example: YouTube, Spotify or VLC"},
    {"Puede ser cualquier parte fija del titulo de la ventana.", "Any part of the title that does not change."},
    {"Ventana", "Window"},
    {"No seleccionada", "None selected"},
    {"Calidad", "Quality"},
    {"Crear perfil nuevo###create_profile", "Create new profile###create_profile"},
    {"Actualizar seleccionado###update_profile", "Update selected###update_profile"},
    {"Eliminar perfil seleccionado###delete_profile", "Delete selected profile###delete_profile"},
    {"Los perfiles se guardan en la carpeta ZOR junto a la DLL", "Profiles are saved in the ZOR folder next to the DLL"},
    // Applications tab
    {"GESTOR VISUAL DE APLICACIONES", "APPLICATION LIBRARY"},
    {"Acceda a sus aplicaciones favoritas y cambie de fuente con un solo clic.", "Switch to any of your applications with one click."},
    {"Disponible / En uso", "Available / In use"},
    {"Cerrada", "Closed"},
    {"Favoritos", "Favorites"},
    {"Todas las aplicaciones", "Other applications"},
    {"No hay aplicaciones favoritas.", "No favorites yet."},
    {"No hay más aplicaciones.", "No other applications."},
    {"FAVORITA", "FAVORITE"},
    {"EN USO", "IN USE"},
    {"DISPONIBLE", "AVAILABLE"},
    {"CERRADA", "CLOSED"},
    {"  |  Inicio automatico", "  |  Auto-start"},
    {"Ventana encontrada", "Window found"},
    {"Buscando ventana", "Looking for its window"},
    {"Activa###card_activate", "Playing###card_activate"},
    {"Activar###card_activate", "Play###card_activate"},
    {"Editar###card_edit", "Edit###card_edit"},
    {"Quitar favorito###card_favourite", "Remove favorite###card_favourite"},
    {"Favorito###card_favourite", "Favorite###card_favourite"},
    {"Agregar aplicación personalizada", "Add an application"},
    {"Nombre, por ejemplo: Radio", "Name, for example: Radio"},
    {"Palabra que aparece en el título de la ventana", "A word from its window title"},
    {"Agregar a la biblioteca###add_app", "Add to library###add_app"},
    {"Configuracion de aplicacion", "Application settings"},
    {"No hay aplicaciones para configurar.", "No applications yet."},
    {"Resolucion", "Resolution"},
    {"Volumen", "Volume"},
    {"Iniciar automaticamente al detectar esta aplicacion###app_auto_start", "Start playing when this application is found###app_auto_start"},
    {"Guardar configuracion###save_app", "Save settings###save_app"},
    {"Cargar perfil en Reproduccion###app_to_playback", "Load into Playback###app_to_playback"},
    {"La biblioteca se guarda en la carpeta ZOR junto a la DLL", "The library is saved in the ZOR folder next to the DLL"},
    // Diagnostics tab
    {"CENTRO DE DIAGNOSTICO", "DIAGNOSTICS"},
    {"Comprueba los componentes principales del plugin sin cerrar ATS.", "Check the plugin's main parts without leaving ATS."},
    {"Modo calibracion: patron de prueba en el GPS###calibration_mode", "Calibration mode: test pattern on the GPS###calibration_mode"},
    {"El GPS muestra el patron de prueba. Desactivelo para ver la ventana elegida.", "The GPS shows a test pattern. Turn this off to see the chosen window."},
    {"El GPS muestra la ventana elegida.", "The GPS shows the chosen window."},
    {"No fue posible guardar ZorTabcastPlugin.ini; el cambio dura hasta cerrar ATS.", "Could not save ZorTabcastPlugin.ini; the change lasts until you close ATS."},
    {"Comprobar sistema###run_checks", "Run checks###run_checks"},
    {"Reiniciar captura###repair_capture", "Restart capture###repair_capture"},
    {"Generar informe###export_report", "Save report###export_report"},
    {"Abrir carpeta###open_report_folder", "Open folder###open_report_folder"},
    {"Copiar informe###copy_report", "Copy report###copy_report"},
    {"Informe", "Report"},
    {"Estado general", "Overall status"},
    {"Comprobando...", "Checking..."},
    {"Comprobado: %s  |  %d ms", "Last check: %s  |  %d ms"},
    {"OK", "OK"},
    {"ADVERTENCIA", "WARNING"},
    {"ERROR", "ERROR"},
    {"PENDIENTE", "PENDING"},
    {"INFO", "INFO"},
    {"V3.0.5 genera el informe, muestra su ruta, abre la carpeta y permite copiarlo al portapapeles.", "Send the report when you ask for help: open its folder or copy it."},
    {"Pulse Comprobar sistema.", "Press Run checks."},
    {"Se encontraron problemas que requieren atencion.", "Some problems need your attention."},
    {"El sistema funciona, pero hay elementos pendientes.", "Working, with some warnings."},
    {"Todo funciona correctamente.", "Everything is working."},
    {"No hay una ventana configurada para recuperar.", "No window has been chosen yet."},
    {"Se reinicio la busqueda de la ventana capturada.", "Capture restarted: looking for the window again."},
    {"No fue posible crear el informe.", "Could not save the report."},
    {"El informe no pudo guardarse completamente.", "Could not save the whole report."},
    {"Informe creado correctamente.", "Report saved."},
    {"Carpeta del informe abierta.", "Report folder opened."},
    {"No fue posible abrir la carpeta del informe.", "Could not open the report folder."},
    {"No fue posible acceder al portapapeles.", "Could not open the clipboard."},
    {"No fue posible convertir el informe.", "Could not convert the report."},
    {"No fue posible reservar memoria para copiar.", "Not enough memory to copy the report."},
    {"No fue posible bloquear la memoria del portapapeles.", "Could not lock the clipboard memory."},
    {"No fue posible copiar el informe.", "Could not copy the report."},
    {"Informe copiado al portapapeles.", "Report copied to the clipboard."},
    // Diagnostics results (item names, then details)
    {"ATS", "ATS"},
    {"GPS TabCast", "TabCast GPS"},
    {"Aplicacion", "Application"},
    {"Captura", "Capture"},
    {"Reemplazo GPS", "GPS replacement"},
    {"Visibilidad GPS", "GPS visibility"},
    {"CPU", "CPU"},
    {"Memoria RAM", "RAM"},
    {"GPU", "GPU"},
    {"FPS configurados", "FPS limit"},
    {"Tiempo activo", "Uptime"},
    {"Biblioteca", "Library"},
    {"Otros overlays", "Other overlays"},
    {"Sin comprobar", "Not checked"},
    {"Ninguno", "None"},
    {"Detectados: {}", "Detected: {}"},
    {"American Truck Simulator activo | {}", "American Truck Simulator running | {}"},
    {"Proceso actual: {}", "Current process: {}"},
    {"No se ha detectado la textura del GPS TabCast", "TabCast GPS texture not found"},
    {"GPS detectado | Texturas rastreadas: {}", "GPS found | Textures tracked: {}"},
    {"Textura GPS localizada, reemplazo aun no preparado", "GPS texture found, replacement not ready yet"},
    {"Ventana objetivo encontrada", "Window found"},
    {"No hay aplicacion seleccionada", "No application selected"},
    {"Buscando la ventana configurada", "Looking for the chosen window"},
    {"Captura en espera de inicio", "Capture not started"},
    {"Captura activa | Limite: {} FPS", "Capturing | Limit: {} FPS"},
    {"Motor de captura preparado, ventana no disponible", "Capture ready, window not found"},
    {"La ventana capturada no cambia desde hace {} s | El programa deja de pintar la ventana cuando queda cubierta: "
     "inicielo con --disable-backgrounding-occluded-windows o ponga la directiva NativeWindowOcclusionEnabled=0.",
     "The captured window has not changed for {} s | The program stops drawing its window while it is covered: start "
     "it with --disable-backgrounding-occluded-windows or set the policy NativeWindowOcclusionEnabled=0."},
    {"La ventana capturada no cambia desde hace {} s | La ventana no se repinta: compruebe que no este en pausa ni "
     "cubierta por otra ventana.",
     "The captured window has not changed for {} s | The window is not redrawing: make sure it is not paused or "
     "covered by another window."},
    {"Reemplazo activo | Usos registrados: {}", "Replacing | Times drawn: {}"},
    {"GPS preparado, esperando que se dibuje en pantalla", "GPS ready, waiting for the game to draw it"},
    {"El reemplazo del GPS no esta disponible", "GPS replacement not available"},
    {"GPS visible; captura funcionando normalmente", "GPS visible; capture working"},
    {"El GPS todavia no se ha dibujado", "GPS not drawn yet"},
    {"GPS fuera de pantalla; frames pausados desde hace {} ms", "GPS off screen; updates paused for {} ms"},
    {"Uso del proceso: {}", "{} used by ATS and the plugin"},
    {"No fue posible medir el proceso", "Could not measure CPU use"},
    {"No fue posible medir la memoria", "Could not measure memory use"},
    {"{} MB usados por ATS y el plugin", "{} MB used by ATS and the plugin"},
    {"No disponible", "Not available"},
    {"Sin limite configurado", "No limit set"},
    {"No hay aplicaciones guardadas", "No applications saved"},
    {"{} aplicaciones configuradas", "{} applications in the library"},
    // Values the modules beneath hand up in Spanish, shown translated (trValue) and stored as they are
    {"Mi perfil", "My profile"},
    {"Desconocido", "Unknown"},
    // First-run wizard
    {"ASISTENTE DE BIENVENIDA", "SETUP WIZARD"},
    {"Paso %d de %d", "Step %d of %d"},
    {"Bienvenido", "Welcome"},
    {"Gracias por instalar ZOR TabCast, su pantalla multimedia en la cabina de ATS.", "Thanks for installing ZOR TabCast, your media screen in the ATS cab."},
    {"La configuracion inicial tiene cuatro pasos y toma menos de un minuto.", "Setup has four steps and takes less than a minute."},
    {"No modifica el cursor, los controles de ATS ni la configuracion del juego.", "It does not change your cursor, your ATS controls or your game settings."},
    {"Aplicacion favorita", "Favorite application"},
    {"Seleccione la aplicacion que usara normalmente.", "Choose the application you use most."},
    {"YouTube###app_youtube", "YouTube###app_youtube"},
    {"Spotify###app_spotify", "Spotify###app_spotify"},
    {"VLC###app_vlc", "VLC###app_vlc"},
    {"Otra ventana###app_other", "Other window###app_other"},
    {"Otra ventana", "Other window"},
    {"No hay ventanas visibles.", "No open windows found."},
    {"La aplicacion puede abrirse despues. El plugin la buscara automaticamente.", "You can open it later: the plugin finds it by itself."},
    {"Calidad de captura", "Capture quality"},
    {"Seleccione el modo adecuado para su equipo.", "Choose the mode that suits your PC."},
    {"Rendimiento - 720p / 30 FPS###quality_0", "Performance - 720p / 30 FPS###quality_0"},
    {"Equilibrado - 1080p / 30 FPS (Recomendado)###quality_1", "Balanced - 1080p / 30 FPS (Recommended)###quality_1"},
    {"Alta calidad - 1080p / 60 FPS###quality_2", "High quality - 1080p / 60 FPS###quality_2"},
    {"Rendimiento - 720p / 30 FPS", "Performance - 720p / 30 FPS"},
    {"Equilibrado - 1080p / 30 FPS", "Balanced - 1080p / 30 FPS"},
    {"Alta calidad - 1080p / 60 FPS", "High quality - 1080p / 60 FPS"},
    {"Para equipos modestos y menor consumo.", "For slower PCs and a lighter load."},
    {"Recomendado para la mayoria de usuarios.", "Recommended for most players."},
    {"Para equipos potentes.", "For powerful PCs."},
    {"Configuracion completada", "Setup complete"},
    {"No volver a mostrar este asistente###dont_show_again", "Do not show this wizard again###dont_show_again"},
    {"El GPS muestra primero un patron de prueba: desactivelo en Diagnostico, Modo calibracion.", "The GPS shows a test pattern at first: turn off Calibration mode in the Diagnostics tab."},
    {"Comenzar###wizard_begin", "Get started###wizard_begin"},
    {"Anterior###wizard_back", "Back###wizard_back"},
    {"Siguiente###wizard_next", "Next###wizard_next"},
    {"Entrar al plugin###wizard_finish", "Finish###wizard_finish"},
};
// clang-format on
inline constexpr size_t kTextCount = sizeof(kTexts) / sizeof(kTexts[0]);

namespace texts_detail {
consteval bool same(const char* a, const char* b) {
  for (; *a && *a == *b; ++a, ++b) {
  }
  return *a == *b;
}
consteval uint16_t rowOf(const char* es) {
  for (size_t i = 0; i < kTextCount; ++i)
    if (same(kTexts[i].es, es)) return static_cast<uint16_t>(i);
  throw "texto sin fila en kTexts";  // not a constant expression: the build fails here
}
}  // namespace texts_detail

// A row of the table named by its Spanish text, found while compiling.
struct Txt {
  uint16_t row;
  consteval Txt(const char* es) : row(texts_detail::rowOf(es)) {}
};

enum class Language { Spanish, English };
Language language() noexcept;
// Render thread: the language as it is (no file, no log): the saved choice at start-up.
void storeLanguage(Language language) noexcept;
// "es" or "en", whatever their case and with any spaces; empty is Spanish (the default). None
// for any other text.
std::optional<Language> languageFromCode(std::wstring_view code) noexcept;
const wchar_t* languageCode(Language language) noexcept;
// [ui] language of the settings file at path; Spanish, with a WARNING naming the value, when it
// is no language of the panel.
Language readSavedLanguage(const std::wstring& path);

// The player's choice (render thread): takes effect at once, is logged and is saved as
// [ui] language in the settings file at path, written beside the old file and renamed over it.
// False when the save failed (the choice holds until the game ends; the old file stays).
bool switchLanguage(Language language, const std::wstring& path);
// The language box ("##language") on the current line, its right end at rightEdge (window
// coordinates); a choice is switched and saved at once.
void drawLanguageSelector(float rightEdge);
// The warning line of a choice of the box that could not be saved (nothing when it was).
void drawLanguageNotSaved();
void resetLanguageSelectorForShutdown();

// The text of a row in the panel's language.
inline const char* tr(Txt text) noexcept {
  const TextRow& row = kTexts[text.row];
  return language() == Language::English ? row.en : row.es;
}
// A text made beneath the overlay (Spanish), in the panel's language: the row whose Spanish
// column it is, or whose "{}" row it fits; a text of no row is shown as it is.
std::string trText(std::string_view spanish);
// The English of such a text; none when no row has it. The value in a row's "{}" is itself
// translated when it is one of the values below.
std::optional<std::string> englishOf(std::string_view spanish);
// A value a module beneath hands up and keeps in Spanish (the default profile name "Mi perfil",
// the "Desconocido" of a process without a name), in the panel's language; any other value (a
// name the player typed, a program's file name) as it is. Only what is shown changes: a profile
// saved as "Mi perfil" keeps that name in its file.
std::string trValue(std::string_view value);
// The local time of the diagnostics' last check ("DD/MM/YYYY HH:MM:SS") as the panel's language
// writes it: as it is in Spanish, "MM/DD/YYYY h:MM:SS AM" in English; any other text as it is.
std::string trTimestamp(std::string_view stamp);

}  // namespace zor::overlay

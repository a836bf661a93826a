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
    // Panel shell
    {"Ctrl + F8 para mostrar u ocultar", "Ctrl + F8 to show or hide"},
    {"Reproduccion###tab_playback", "Playback###tab_playback"},
    {"Perfiles###tab_profiles", "Profiles###tab_profiles"},
    {"Aplicaciones###tab_applications", "Applications###tab_applications"},
    {"Diagnostico###tab_diagnostics", "Diagnostics###tab_diagnostics"},
    {"CAPTURA LISTA", "CAPTURE READY"},
    {"CAPTURA EN ESPERA", "CAPTURE WAITING"},
    {"GPS VISIBLE", "GPS VISIBLE"},
    {"GPS FUERA DE VISTA", "GPS OUT OF VIEW"},
    // Media controls and smart audio
    {"CONTROLES MULTIMEDIA", "MEDIA CONTROLS"},
    {"Controla solamente la ventana que ZOR esta capturando.", "Controls only the window ZOR is capturing."},
    {"Inicie la reproduccion para habilitar estos controles.", "Start playback to enable these controls."},
    {"Atajos: Ctrl+B anterior | Ctrl+P pausa | Ctrl+N siguiente", "Shortcuts: Ctrl+B previous | Ctrl+P pause | Ctrl+N next"},
    {"Anterior###media_previous", "Previous###media_previous"},
    {"Pausa / Reanudar###media_pause", "Pause / Resume###media_pause"},
    {"Siguiente###media_next", "Next###media_next"},
    {"SMART AUDIO", "SMART AUDIO"},
    {"Buscar audio###find_audio", "Find audio###find_audio"},
    {"SILENCIADO", "MUTED"},
    {"VOLUMEN ACTUAL", "CURRENT VOLUME"},
    {"Aplicacion controlada: %s", "Controlled application: %s"},
    {"Activar sonido###mute", "Unmute###mute"},
    {"Silenciar###mute", "Mute###mute"},
    {"Seleccione una ventana con audio.", "Select a window with audio."},
    {"Seleccione una ventana.", "Select a window."},
    {"La aplicacion no tiene una sesion de audio activa.", "The application has no active audio session."},
    {"Sesion de audio conectada.", "Audio session connected."},
    {"No fue posible leer el volumen.", "The volume could not be read."},
    // Playback tab
    {"Volumen: Ctrl+Arriba / Ctrl+Abajo | Ctrl+M silenciar", "Volume: Ctrl+Up / Ctrl+Down | Ctrl+M mute"},
    {"Destino de reproduccion", "Playback target"},
    {"Elija una sola pantalla. El otro tipo de GPS conservara su mapa original.", "Choose one screen. The other kind of GPS keeps its own map."},
    {"TabCast / LUMEX###target_tablet", "TabCast / LUMEX###target_tablet"},
    {"GPS original###target_dashboard", "Truck GPS###target_dashboard"},
    {"GPS original compatible: %s", "Compatible truck GPS: %s"},
    {"El camion actual no tiene un perfil de GPS original compatible.", "The current truck has no compatible truck GPS profile."},
    {"Ventana de la barra de tareas", "Taskbar window"},
    {"Seleccionar una ventana abierta...", "Select an open window..."},
    {"La imagen no cambia: %s", "The picture is not changing: %s"},
    {"El programa deja de pintar la ventana cuando queda cubierta: inicielo con "
     "--disable-backgrounding-occluded-windows o ponga la directiva NativeWindowOcclusionEnabled=0.",
     "The program stops painting its window when it is covered: start it with "
     "--disable-backgrounding-occluded-windows or set the policy NativeWindowOcclusionEnabled=0."},
    {"La ventana no se repinta: compruebe que no este en pausa ni cubierta por otra ventana.",
     "The window does not repaint: check that it is not paused or covered by another window."},
    {"No hay ventanas visibles disponibles.", "No visible windows available."},
    {"Captura inteligente", "Smart capture"},
    {"Detectar aplicaciones automaticamente###smart_enabled", "Detect applications automatically###smart_enabled"},
    {"Iniciar al detectar una aplicacion###smart_auto_start", "Start when an application is detected###smart_auto_start"},
    {"Recordar la ultima ventana###smart_remember", "Remember the last window###smart_remember"},
    {"Cambiar automaticamente si la aplicacion se cierra###smart_switch", "Switch automatically if the application closes###smart_switch"},
    {"Aplicacion detectada", "Detected application"},
    {"Buscar ahora###smart_search", "Search now###smart_search"},
    {"Buscando aplicaciones compatibles...", "Looking for compatible applications..."},
    {"Perfil seleccionado activo.", "Selected profile active."},
    {"Esperando la ventana del perfil seleccionado...", "Waiting for the selected profile's window..."},
    {"La aplicacion se cerro. Esperando otra aplicacion disponible...", "The application closed. Waiting for another available application..."},
    {"No se detectaron aplicaciones compatibles.", "No compatible applications detected."},
    {"Aplicacion compatible lista para usar.", "Compatible application ready to use."},
    {"Cambio automatico realizado correctamente.", "Automatic switch done."},
    {"Aplicacion detectada y seleccionada automaticamente.", "Application detected and selected automatically."},
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
    {"Reproduccion activa", "Playback active"},
    {"Buscando la ventana del perfil...", "Looking for the profile's window..."},
    {"Listo para reproducir", "Ready to play"},
    {"Seleccione una ventana", "Select a window"},
    {"Iniciar reproduccion###start_playback", "Start playback###start_playback"},
    {"Restaurar GPS original###restore_gps", "Restore original GPS###restore_gps"},
    // Profiles tab
    {"PERFILES INTELIGENTES", "SMART PROFILES"},
    {"Guarda la ventana, resolucion y FPS. Un perfil con inicio automatico se carga al abrir ATS.", "Saves the window, resolution and FPS. A profile with auto-start loads when ATS opens."},
    {"Perfiles guardados", "Saved profiles"},
    {"Seleccionar perfil...", "Select profile..."},
    {"Todavia no hay perfiles.", "No profiles yet."},
    {"  [Inicio automatico]", "  [Auto-start]"},
    {"Cargar perfil###load_profile", "Load profile###load_profile"},
    {"Cargar e iniciar###load_and_start", "Load and start###load_and_start"},
    {"Guardar configuracion actual", "Save current settings"},
    {"Iniciar automaticamente al abrir ATS###profile_auto_start", "Start automatically when ATS opens###profile_auto_start"},
    {"Palabra estable para encontrar la ventana", "Stable word to find the window"},
    {"Ejemplo: YouTube, Spotify o VLC", "Example: YouTube, Spotify or VLC"},
    {"Puede ser cualquier parte fija del titulo de la ventana.", "It can be any fixed part of the window title."},
    {"Ventana", "Window"},
    {"No seleccionada", "Not selected"},
    {"Calidad", "Quality"},
    {"Crear perfil nuevo###create_profile", "Create new profile###create_profile"},
    {"Actualizar seleccionado###update_profile", "Update selected###update_profile"},
    {"Eliminar perfil seleccionado###delete_profile", "Delete selected profile###delete_profile"},
    {"Los perfiles se guardan en la carpeta ZOR junto a la DLL", "Profiles are saved in the ZOR folder beside the DLL"},
    // Applications tab
    {"GESTOR VISUAL DE APLICACIONES", "VISUAL APPLICATION MANAGER"},
    {"Acceda a sus aplicaciones favoritas y cambie de fuente con un solo clic.", "Open your favourite applications and change source with one click."},
    {"Disponible / En uso", "Available / In use"},
    {"Cerrada", "Closed"},
    {"Favoritos", "Favourites"},
    {"Todas las aplicaciones", "All applications"},
    {"No hay aplicaciones favoritas.", "No favourite applications."},
    {"No hay más aplicaciones.", "No more applications."},
    {"FAVORITA", "FAVOURITE"},
    {"EN USO", "IN USE"},
    {"DISPONIBLE", "AVAILABLE"},
    {"CERRADA", "CLOSED"},
    {"  |  Inicio automatico", "  |  Auto-start"},
    {"Ventana encontrada", "Window found"},
    {"Buscando ventana", "Looking for window"},
    {"Activa###card_activate", "Active###card_activate"},
    {"Activar###card_activate", "Activate###card_activate"},
    {"Editar###card_edit", "Edit###card_edit"},
    {"Quitar favorito###card_favourite", "Remove favourite###card_favourite"},
    {"Favorito###card_favourite", "Favourite###card_favourite"},
    {"Agregar aplicación personalizada", "Add custom application"},
    {"Nombre, por ejemplo: Radio", "Name, for example: Radio"},
    {"Palabra que aparece en el título de la ventana", "Word that appears in the window title"},
    {"Agregar a la biblioteca###add_app", "Add to the library###add_app"},
    {"Configuracion de aplicacion", "Application settings"},
    {"No hay aplicaciones para configurar.", "No applications to configure."},
    {"Resolucion", "Resolution"},
    {"Volumen", "Volume"},
    {"Iniciar automaticamente al detectar esta aplicacion###app_auto_start", "Start automatically when this application is detected###app_auto_start"},
    {"Guardar configuracion###save_app", "Save settings###save_app"},
    {"Cargar perfil en Reproduccion###app_to_playback", "Load profile into Playback###app_to_playback"},
    {"La biblioteca se guarda en la carpeta ZOR junto a la DLL", "The library is saved in the ZOR folder beside the DLL"},
    // Diagnostics tab
    {"CENTRO DE DIAGNOSTICO", "DIAGNOSTICS CENTER"},
    {"Comprueba los componentes principales del plugin sin cerrar ATS.", "Checks the plugin's main parts without closing ATS."},
    {"Modo calibracion: patron de prueba en el GPS###calibration_mode", "Calibration mode: test pattern on the GPS###calibration_mode"},
    {"El GPS muestra el patron de prueba. Desactivelo para ver la ventana elegida.", "The GPS shows the test pattern. Switch it off to see the chosen window."},
    {"El GPS muestra la ventana elegida.", "The GPS shows the chosen window."},
    {"No fue posible guardar ZorTabcastPlugin.ini; el cambio dura hasta cerrar ATS.", "ZorTabcastPlugin.ini could not be saved; the change lasts until ATS closes."},
    {"Comprobar sistema###run_checks", "Check system###run_checks"},
    {"Reiniciar captura###repair_capture", "Restart capture###repair_capture"},
    {"Generar informe###export_report", "Create report###export_report"},
    {"Abrir carpeta###open_report_folder", "Open folder###open_report_folder"},
    {"Copiar informe###copy_report", "Copy report###copy_report"},
    {"Informe", "Report"},
    {"Estado general", "Overall status"},
    {"Comprobando...", "Checking..."},
    {"Comprobado: %s  |  %d ms", "Checked: %s  |  %d ms"},
    {"OK", "OK"},
    {"ADVERTENCIA", "WARNING"},
    {"ERROR", "ERROR"},
    {"PENDIENTE", "PENDING"},
    {"V3.0.5 genera el informe, muestra su ruta, abre la carpeta y permite copiarlo al portapapeles.", "V3.0.5 creates the report, shows its path, opens its folder and copies it to the clipboard."},
    {"Pulse Comprobar sistema.", "Press Check system."},
    {"Se encontraron problemas que requieren atencion.", "Problems were found that need attention."},
    {"El sistema funciona, pero hay elementos pendientes.", "The system works, but some items are pending."},
    {"Todo funciona correctamente.", "Everything works correctly."},
    {"No hay una ventana configurada para recuperar.", "There is no configured window to recover."},
    {"Se reinicio la busqueda de la ventana capturada.", "The search for the captured window was restarted."},
    {"No fue posible crear el informe.", "The report could not be created."},
    {"El informe no pudo guardarse completamente.", "The report could not be saved completely."},
    {"Informe creado correctamente.", "Report created."},
    {"Carpeta del informe abierta.", "Report folder opened."},
    {"No fue posible abrir la carpeta del informe.", "The report folder could not be opened."},
    {"No fue posible acceder al portapapeles.", "The clipboard could not be opened."},
    {"No fue posible convertir el informe.", "The report could not be converted."},
    {"No fue posible reservar memoria para copiar.", "No memory could be reserved for the copy."},
    {"No fue posible bloquear la memoria del portapapeles.", "The clipboard memory could not be locked."},
    {"No fue posible copiar el informe.", "The report could not be copied."},
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
    {"FPS configurados", "Configured FPS"},
    {"Tiempo activo", "Uptime"},
    {"Biblioteca", "Library"},
    {"Sin comprobar", "Not checked"},
    {"American Truck Simulator activo | {}", "American Truck Simulator running | {}"},
    {"Proceso actual: {}", "Current process: {}"},
    {"Desconocido", "Unknown"},
    {"No se ha detectado la textura del GPS TabCast", "The TabCast GPS texture has not been found"},
    {"GPS detectado | Texturas rastreadas: {}", "GPS found | Textures tracked: {}"},
    {"Textura GPS localizada, reemplazo aun no preparado", "GPS texture found, replacement not ready yet"},
    {"Ventana objetivo encontrada", "Target window found"},
    {"No hay aplicacion seleccionada", "No application selected"},
    {"Buscando la ventana configurada", "Looking for the configured window"},
    {"Captura en espera de inicio", "Capture waiting to start"},
    {"Captura activa | Limite: {} FPS", "Capture active | Limit: {} FPS"},
    {"Motor de captura preparado, ventana no disponible", "Capture engine ready, window not available"},
    {"La ventana capturada no cambia desde hace {} s | El programa deja de pintar la ventana cuando queda cubierta: "
     "inicielo con --disable-backgrounding-occluded-windows o ponga la directiva NativeWindowOcclusionEnabled=0.",
     "The captured window has not changed for {} s | The program stops painting its window when it is covered: start "
     "it with --disable-backgrounding-occluded-windows or set the policy NativeWindowOcclusionEnabled=0."},
    {"La ventana capturada no cambia desde hace {} s | La ventana no se repinta: compruebe que no este en pausa ni "
     "cubierta por otra ventana.",
     "The captured window has not changed for {} s | The window does not repaint: check that it is not paused or "
     "covered by another window."},
    {"Reemplazo activo | Usos registrados: {}", "Replacement active | Uses recorded: {}"},
    {"GPS preparado, esperando que se dibuje en pantalla", "GPS ready, waiting to be drawn on screen"},
    {"El reemplazo del GPS no esta disponible", "The GPS replacement is not available"},
    {"GPS visible; captura funcionando normalmente", "GPS visible; capture working normally"},
    {"El GPS todavia no se ha dibujado", "The GPS has not been drawn yet"},
    {"GPS fuera de pantalla; frames pausados desde hace {} ms", "GPS off screen; frames paused for {} ms"},
    {"Uso del proceso: {}", "Process usage: {}"},
    {"No fue posible medir el proceso", "The process could not be measured"},
    {"No fue posible medir la memoria", "The memory could not be measured"},
    {"{} MB usados por ATS y el plugin", "{} MB used by ATS and the plugin"},
    {"No disponible", "Not available"},
    {"Sin limite configurado", "No limit configured"},
    {"No hay aplicaciones guardadas", "No saved applications"},
    {"{} aplicaciones configuradas", "{} applications configured"},
    // First-run wizard
    {"ASISTENTE DE BIENVENIDA", "WELCOME ASSISTANT"},
    {"Paso %d de %d", "Step %d of %d"},
    {"Bienvenido", "Welcome"},
    {"Gracias por instalar ZOR TabCast, su pantalla multimedia en la cabina de ATS.", "Thank you for installing ZOR TabCast, your media screen in the ATS cab."},
    {"La configuracion inicial tiene cuatro pasos y toma menos de un minuto.", "The set-up has four steps and takes less than a minute."},
    {"No modifica el cursor, los controles de ATS ni la configuracion del juego.", "It changes neither the cursor, nor the ATS controls, nor the game's settings."},
    {"Aplicacion favorita", "Favourite application"},
    {"Seleccione la aplicacion que usara normalmente.", "Select the application you will normally use."},
    {"YouTube###app_youtube", "YouTube###app_youtube"},
    {"Spotify###app_spotify", "Spotify###app_spotify"},
    {"VLC###app_vlc", "VLC###app_vlc"},
    {"Otra ventana###app_other", "Another window###app_other"},
    {"Otra ventana", "Another window"},
    {"No hay ventanas visibles.", "No visible windows."},
    {"La aplicacion puede abrirse despues. El plugin la buscara automaticamente.", "The application may be opened later. The plugin will find it by itself."},
    {"Calidad de captura", "Capture quality"},
    {"Seleccione el modo adecuado para su equipo.", "Select the mode that suits your computer."},
    {"Rendimiento - 720p / 30 FPS###quality_0", "Performance - 720p / 30 FPS###quality_0"},
    {"Equilibrado - 1080p / 30 FPS (Recomendado)###quality_1", "Balanced - 1080p / 30 FPS (Recommended)###quality_1"},
    {"Alta calidad - 1080p / 60 FPS###quality_2", "High quality - 1080p / 60 FPS###quality_2"},
    {"Rendimiento - 720p / 30 FPS", "Performance - 720p / 30 FPS"},
    {"Equilibrado - 1080p / 30 FPS", "Balanced - 1080p / 30 FPS"},
    {"Alta calidad - 1080p / 60 FPS", "High quality - 1080p / 60 FPS"},
    {"Para equipos modestos y menor consumo.", "For modest computers and lower load."},
    {"Recomendado para la mayoria de usuarios.", "Recommended for most players."},
    {"Para equipos potentes.", "For powerful computers."},
    {"Configuracion completada", "Set-up complete"},
    {"No volver a mostrar este asistente###dont_show_again", "Do not show this assistant again###dont_show_again"},
    {"El GPS muestra primero un patron de prueba: desactivelo en Diagnostico, Modo calibracion.", "The GPS first shows a test pattern: switch it off in Diagnostics, Calibration mode."},
    {"Comenzar###wizard_begin", "Begin###wizard_begin"},
    {"Anterior###wizard_back", "Back###wizard_back"},
    {"Siguiente###wizard_next", "Next###wizard_next"},
    {"Entrar al plugin###wizard_finish", "Enter the plugin###wizard_finish"},
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
// The English of such a text; none when no row has it.
std::optional<std::string> englishOf(std::string_view spanish);

}  // namespace zor::overlay

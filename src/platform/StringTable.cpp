#include "platform/StringTable.h"

#include <atomic>
#include <cstdlib>

namespace {

struct SEntry {
    UINT id;
    const char* english;
    const char* spanish;
};

const SEntry kTable[] = {
    {IDS_SOCKET_INIT_ERROR, "Error on socket init.", "Error al iniciar los sockets."},
    {IDS_DELETE_CONTACT, "Do you want delete selected contact?", "¿Desea borrar el contacto seleccionado?"},
    {IDS_CALLING_TO, "Calling to NTV : ", "Llamando al NTV : "},
    {IDS_CALLING_FROM, "Calling from NTV : ", "Llamada del NTV : "},
    {IDS_ADD_CONTACT, "Do tou want add %s as new contact?", "¿Desea añadir a %s como nuevo contacto?"},
    {IDS_ALL_COUNTRIES, "--- All countries ---", "--- Todos los países ---"},
    {IDS_SETTINGS_NEXT_START, "The new settings will be activated on next program start",
     "La nueva configuración se activará la próxima vez que se inicie el programa"},
    {IDS_USER_ALREADY_CONNECTED, "User already connected", "Usuario ya conectado"},
    {IDS_INCORRECT_DATA, "Incorrect data", "Datos incorrectos"},
    {IDS_NTV_INVALID, "The user's NTV is invalid", "El NTV del usuario no es válido"},
    {IDS_DIRECT_CALL, "Direct call", "Llamada directa"},
    {IDS_NTV_IN_CONTACTS, "The NTV %s is already in contact list",
     "El NTV %s ya está en la lista de contactos"},
    {IDS_EXIT_QUESTION, "Do you want exit?", "¿Desea salir?"},
    {IDS_ALREADY_ACTIVE,
     "Application already active, click on cancel to exit or OK to continue loading another account",
     "La aplicación ya está activa, pulse Cancelar para salir o Aceptar para continuar cargando otra cuenta"},
    {IDS_ACCEPT_CALL_FROM, "Accept calling from %s?", "¿Aceptar la llamada de %s?"},
    {IDS_CALL_REJECTED, "Call rejected", "Llamada rechazada"},
    {IDS_BUSY, "Busy", "Ocupado"},
    {IDS_CALL_TIMEOUT, "Call timeout", "Tiempo de llamada agotado"},
    {IDS_NO_RESPONSE, "No response", "Sin respuesta"},
    {IDS_FIELD_NOT_FILLED, "Some field was not filled", "Algún campo no se ha rellenado"},
    {IDS_NEW_VERSION,
     "There's available a new version of Velaphon. Click OK to continue (the software would have "
     "malfunctions) or Cancel to exit program.",
     "Hay disponible una nueva versión de Velaphon. Pulse Aceptar para continuar (el programa podría "
     "funcionar mal) o Cancelar para salir del programa."},
    {IDS_ACCEPT_DIRECT_CALL, "Accept call from direct calling?", "¿Aceptar la llamada directa?"},
    {IDS_CONTACT_EXISTS, "The contact already exist", "El contacto ya existe"},
    {IDS_USER_READY, "User %s ready", "Usuario %s disponible"},
    {IDS_USER_DISCONNECTED, "User %s disconnected", "Usuario %s desconectado"},
    {IDS_CONNECTION_EXISTS, "Connection already exist", "La conexión ya existe"},
    {IDS_CONTACT_TIP, "Contact :[%s]    --   NTV :[ %s]", "Contacto :[%s]    --   NTV :[ %s]"},
    {IDS_VIDEO_FAILED, "Video can't be activated", "No se ha podido iniciar el video"},
    {IDS_OS_TOO_OLD, "Windows version incorrect. Must be Windows 2000 or higher",
     "Versión de Windows incorrecta. Debe ser Windows 2000 o superior"},

    {IDS_APP_NAME, "Velaphon", "Velaphon"},
    {IDS_BUTTON_OK, "OK", "Aceptar"},
    {IDS_BUTTON_CANCEL, "Cancel", "Cancelar"},
    {IDS_FIRSTRUN_TITLE, "Welcome to Velaphon", "Bienvenido a Velaphon"},
    {IDS_FIRSTRUN_INTRO, "Enter the NTV and the password that you received with your registration form.",
     "Escriba el NTV y la contraseña que recibió con el formulario de registro."},
    {IDS_FIRSTRUN_SERVER_HINT, "Enter the address of the Velaphon server.",
     "Escriba la dirección del servidor de Velaphon."},
    {IDS_LABEL_NTV, "NTV:", "NTV:"},
    {IDS_LABEL_PASSWORD, "Password:", "Contraseña:"},
    {IDS_LABEL_SERVER, "Server:", "Servidor:"},
    {IDS_LABEL_PORT, "Port:", "Puerto:"},
    {IDS_LABEL_USER, "User:", "Usuario:"},
    {IDS_PROXY_TITLE, "Proxy server", "Servidor proxy"},
    {IDS_PROXY_INTRO,
     "Your connection goes through this proxy. Enter your user name and password if it asks for them.",
     "Su conexión pasa por este proxy. Escriba su usuario y contraseña si los pide."},
    {IDS_STATUS_CONNECTED, "Connected", "Conectado"},
    {IDS_STATUS_AWAY, "Away", "Ausente"},
    {IDS_BUTTON_SETTINGS, "Settings", "Configuración"},
    {IDS_BUTTON_CONTACTS, "Contacts", "Contactos"},
    {IDS_BUTTON_KEYPAD, "Keypad", "Teclado"},
    {IDS_HELP_LINK, "Help", "Ayuda"},
    {IDS_MINIMIZE, "Minimize", "Minimizar"},
    {IDS_CLOSE, "Close", "Cerrar"},
    {IDS_TRAY_PROPERTIES, "Properties", "Propiedades"},
    {IDS_TRAY_EXIT, "Exit", "Salir"},
    {IDS_CALL_CALLING, "Calling ", "Llamando "},
    {IDS_CALL_HANGUP, "Hang up", "Colgar"},
    {IDS_CALL_SEND, "Send", "Enviar"},
    {IDS_CALL_VIDEO, "Video", "Vídeo"},
    {IDS_CALL_SILENCE, "Silence", "Silencio"},
    {IDS_CALL_SPEAKER, "Speaker", "Altavoz"},
    {IDS_CALL_MICROPHONE, "Microphone", "Micrófono"},
    {IDS_CALL_FRAME_RATE, "Frames/s", "Imágenes/s"},
    {IDS_CALL_SPEAKING, "Sending your voice", "Enviando su voz"},
    {IDS_CALL_QUIET, "Silence: nothing is sent", "Silencio: no se envía nada"},
    {IDS_KEYPAD_CALL, "Call", "Llamar"},
    {IDS_KEYPAD_CLEAR, "Clear", "Borrar"},
    {IDS_KEYPAD_BACKSPACE, "Delete the last digit", "Borrar el último dígito"},
    {IDS_VIDEO_CAPTION, "Video %s x %s", "Vídeo %s x %s"},
    // The user directory.
    {IDS_DIRECTORY_TITLE, "User directory", "Directorio de usuarios"},
    {IDS_DIRECTORY_COUNTRY, "Country", "País"},
    {IDS_DIRECTORY_CITY, "City", "Ciudad"},
    {IDS_DIRECTORY_GENRE, "Genre", "Sexo"},
    {IDS_DIRECTORY_LANGUAGE, "Language", "Idioma"},
    {IDS_DIRECTORY_KEYWORDS, "Keywords", "Palabras clave"},
    {IDS_DIRECTORY_SEARCH, "Search", "Buscar"},
    {IDS_DIRECTORY_RESET, "Reset", "Restablecer"},
    {IDS_DIRECTORY_NO_ADDRESS, "The directory can be searched once you are connected.",
     "Podrá buscar en el directorio cuando esté conectado."},
};

std::atomic<UINT> g_nLanguage{0};

}  // namespace

UINT LanguageFromLocale(const std::function<const char*(const char*)>& getenv) {
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = getenv ? getenv(name) : std::getenv(name);
        if (v == nullptr || *v == '\0')
            continue;
        return (v[0] == 'e' && v[1] == 's') ? LANG_SPANISH : LANG_ENGLISH_US;
    }
    return LANG_ENGLISH_US;
}

void SetStringLanguage(UINT language) {
    g_nLanguage = language == LANG_SPANISH ? LANG_SPANISH : LANG_ENGLISH_US;
}

UINT GetStringLanguage() {
    UINT lang = g_nLanguage.load();
    if (lang == 0) {
        lang = LanguageFromLocale();
        g_nLanguage = lang;
    }
    return lang;
}

const char* LoadString(UINT id) {
    return LoadString(id, GetStringLanguage());
}

const char* LoadString(UINT id, UINT language) {
    for (const auto& e : kTable)
        if (e.id == id)
            return language == LANG_SPANISH ? e.spanish : e.english;
    return "";
}

std::string FormatText(std::string_view format, std::initializer_list<std::string_view> args) {
    std::string out;
    auto next = args.begin();
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            if (format[i + 1] == 's') {
                if (next != args.end())
                    out.append(*next++);
                ++i;
                continue;
            }
            if (format[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
        }
        out += format[i];
    }
    return out;
}

std::string FormatString(UINT id, std::initializer_list<std::string_view> args) {
    return FormatText(LoadString(id), args);
}

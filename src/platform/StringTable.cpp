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
    // The Audio and Video pages of the properties sheet.
    {IDS_MEDIA_INPUT_DEVICE, "Input device:", "Dispositivo de entrada:"},
    {IDS_MEDIA_OUTPUT_DEVICE, "Output device:", "Dispositivo de salida:"},
    {IDS_MEDIA_SILENCE, "Silence level:", "Nivel de silencio:"},
    {IDS_MEDIA_SILENCE_TIP, "Sound quieter than this is not sent",
     "El sonido más bajo que este nivel no se envía"},
    {IDS_MEDIA_INPUT_VOLUME, "Microphone volume:", "Volumen del micrófono:"},
    {IDS_MEDIA_OUTPUT_VOLUME, "Speaker volume:", "Volumen del altavoz:"},
    {IDS_MEDIA_AUDIO_TEST, "Audio test", "Prueba de audio"},
    {IDS_MEDIA_NOT_LISTED, "%s (not connected)", "%s (no conectado)"},
    {IDS_MEDIA_CAMERA, "Camera:", "Cámara:"},
    {IDS_MEDIA_NO_CAMERA, "No camera found", "No se ha encontrado ninguna cámara"},
    {IDS_MEDIA_PREVIEW, "Preview", "Vista previa"},
    {IDS_MEDIA_FRAMES, "Frames", "Imágenes"},
    // The properties sheet, its General and Connection pages and the account dialog.
    {IDS_PROP_TITLE, "Properties", "Propiedades"},
    {IDS_PROP_APPLY, "Apply", "Aplicar"},
    {IDS_PROP_VERSION, "Version : %s", "Versión : %s"},
    {IDS_PROP_ROW_GENERAL, "General", "General"},
    {IDS_PROP_ROW_CONNECTION, "Conexión", "Conexión"},
    {IDS_PROP_ROW_AUDIO, "Audio", "Audio"},
    {IDS_PROP_ROW_VIDEO, "Video", "Video"},
    {IDS_PROP_BAD_PROXY_PORT, "The proxy port must be a number from 1 to 65535",
     "El puerto del proxy debe ser un número del 1 al 65535"},
    {IDS_PROP_SAVE_FAILED, "The settings could not be saved", "No se ha podido guardar la configuración"},
    {IDS_GENERAL_PROGRAM, "Program", "Programa"},
    {IDS_GENERAL_START_ON_INIT, "Start on user init", "Iniciar al entrar el usuario"},
    {IDS_GENERAL_ALWAYS_ON_TOP, "Allways on top", "Siempre visible"},
    {IDS_GENERAL_START_MINIMIZED, "Start minimized", "Iniciar minimizado"},
    {IDS_GENERAL_MINIMIZE_ON_CLOSE, "Minimize on systray on close", "Minimizar en la bandeja al cerrar"},
    {IDS_GENERAL_POSITION, "Window position", "Posición de la ventana"},
    {IDS_GENERAL_LOCK_CORNER, "Lock on corner", "Fijar en una esquina"},
    {IDS_GENERAL_LEFT_UP, "Left up", "Arriba a la izquierda"},
    {IDS_GENERAL_RIGHT_UP, "Right up", "Arriba a la derecha"},
    {IDS_GENERAL_LEFT_DOWN, "Left down", "Abajo a la izquierda"},
    {IDS_GENERAL_RIGHT_DOWN, "Right down", "Abajo a la derecha"},
    {IDS_CONN_PROXY_GROUP, "Proxy", "Proxy"},
    {IDS_CONN_PROXY_ACTIVATE, "Proxy activate", "Activar proxy"},
    {IDS_CONN_PROXY, "Proxy:", "Proxy:"},
    {IDS_CONN_LOGIN, "Login:", "Usuario:"},
    {IDS_CONN_DOMAIN, "Domain:", "Dominio:"},
    {IDS_CONN_ACCOUNTS, "User accounts", "Cuentas de usuario"},
    {IDS_CONN_APPEND, "Append", "Añadir"},
    {IDS_CONN_MODIFY, "Modify", "Modificar"},
    {IDS_CONN_DELETE, "Delete", "Borrar"},
    {IDS_CONN_ACTIVATE, "Activate", "Activar"},
    {IDS_CONN_DEFAULT_ACCOUNT, "Default account", "Cuenta predeterminada"},
    {IDS_ACCOUNT_TITLE, "Account settings", "Configuración de la cuenta"},
    // The contacts window and the contact dialog.
    {IDS_CONTACTS_TITLE, "Contacts", "Contactos"},
    {IDS_CONTACTS_APPEND, "Append", "Añadir"},
    {IDS_CONTACTS_DELETE, "Delete", "Borrar"},
    {IDS_CONTACTS_EDIT, "Edit", "Editar"},
    {IDS_CONTACTS_SEARCH, "Search", "Buscar"},
    {IDS_CONTACTS_FIND, "Find a contact", "Buscar un contacto"},
    {IDS_CONTACTS_EMPTY, "No contacts yet. Append one, or find people with Search.",
     "Aún no tiene contactos. Añada uno, o busque personas con Buscar."},
    {IDS_CONTACT_DIALOG_TITLE, "Contact", "Contacto"},
    {IDS_CONTACT_NTV, "Contact NTV", "NTV del contacto"},
    {IDS_CONTACT_NICKNAME, "Nickname", "Apodo"},
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
    {IDS_CLIENT_USAGE,
     "usage: velaphon\n"
     "       velaphon-VLPDINAMIC velaphon:NTV@HOST\n"
     "       velaphon --help | --version\n"
     "\n"
     "The Velaphon videophone. It logs in with the stored account (the first start asks for one) and\n"
     "shows which contacts are online. Started through a path that holds VLPDINAMIC, as a velaphon:\n"
     "link does, it is a guest that calls NTV through the server HOST and ends with the call.\n"
     "Settings are kept in ~/.config/velaphon/user.hive. See velaphon(1).\n",
     "uso: velaphon\n"
     "     velaphon-VLPDINAMIC velaphon:NTV@SERVIDOR\n"
     "     velaphon --help | --version\n"
     "\n"
     "El videoteléfono Velaphon. Entra con la cuenta guardada (el primer arranque pide una) y muestra\n"
     "qué contactos están conectados. Arrancado por una ruta que contiene VLPDINAMIC, como hace un\n"
     "enlace velaphon:, es un invitado que llama a NTV a través del servidor SERVIDOR y termina con la\n"
     "llamada. La configuración se guarda en ~/.config/velaphon/user.hive. Vea velaphon(1).\n"},
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

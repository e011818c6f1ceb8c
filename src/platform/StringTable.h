// Every user-visible text of the program, in English and Spanish, under one id. The language follows
// the locale: the first of LANGUAGE, LC_ALL, LC_MESSAGES and LANG that is set decides, and one that
// starts with "es" selects Spanish.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

using UINT = uint32_t;

constexpr UINT LANG_ENGLISH_US = 1033;
constexpr UINT LANG_SPANISH = 3082;

// Message ids.
enum : UINT {
    IDS_SOCKET_INIT_ERROR = 103,
    IDS_DELETE_CONTACT = 109,
    IDS_CALLING_TO = 112,
    IDS_CALLING_FROM = 113,
    IDS_ADD_CONTACT = 121,
    IDS_ALL_COUNTRIES = 122,
    IDS_SETTINGS_NEXT_START = 123,
    IDS_USER_ALREADY_CONNECTED = 124,
    IDS_INCORRECT_DATA = 126,
    IDS_NTV_INVALID = 127,
    IDS_DIRECT_CALL = 128,
    IDS_NTV_IN_CONTACTS = 129,
    IDS_EXIT_QUESTION = 130,
    IDS_ALREADY_ACTIVE = 131,
    IDS_ACCEPT_CALL_FROM = 132,
    IDS_CALL_REJECTED = 133,
    IDS_BUSY = 134,
    IDS_CALL_TIMEOUT = 135,
    IDS_NO_RESPONSE = 136,
    IDS_FIELD_NOT_FILLED = 137,
    IDS_NEW_VERSION = 138,
    IDS_ACCEPT_DIRECT_CALL = 139,
    IDS_CONTACT_EXISTS = 140,
    IDS_USER_READY = 142,
    IDS_USER_DISCONNECTED = 143,
    IDS_CONNECTION_EXISTS = 144,
    IDS_CONTACT_TIP = 145,
    IDS_VIDEO_FAILED = 147,
    IDS_OS_TOO_OLD = 149,

    // Texts of the windows themselves.
    IDS_UI_FIRST = 1000,
    IDS_APP_NAME = IDS_UI_FIRST,
    IDS_BUTTON_OK,
    IDS_BUTTON_CANCEL,
    IDS_FIRSTRUN_TITLE,
    IDS_FIRSTRUN_INTRO,
    IDS_FIRSTRUN_SERVER_HINT,
    IDS_LABEL_NTV,
    IDS_LABEL_PASSWORD,
    IDS_LABEL_SERVER,
    IDS_LABEL_PORT,
    IDS_LABEL_USER,
    IDS_PROXY_TITLE,
    IDS_PROXY_INTRO,
    IDS_STATUS_CONNECTED,
    IDS_STATUS_AWAY,
    IDS_BUTTON_SETTINGS,
    IDS_BUTTON_CONTACTS,
    IDS_BUTTON_KEYPAD,
    IDS_HELP_LINK,
    IDS_MINIMIZE,
    IDS_CLOSE,
    IDS_TRAY_PROPERTIES,
    IDS_TRAY_EXIT,
    // The call window and the keypad.
    IDS_CALL_CALLING,
    IDS_CALL_HANGUP,
    IDS_CALL_SEND,
    IDS_CALL_VIDEO,
    IDS_CALL_SILENCE,
    IDS_CALL_SPEAKER,
    IDS_CALL_MICROPHONE,
    IDS_CALL_FRAME_RATE,
    IDS_CALL_SPEAKING,
    IDS_CALL_QUIET,
    IDS_KEYPAD_CALL,
    IDS_KEYPAD_CLEAR,
    IDS_KEYPAD_BACKSPACE,
    // The remote video window.
    IDS_VIDEO_CAPTION,
    // The Audio and Video pages of the properties sheet.
    IDS_MEDIA_INPUT_DEVICE,
    IDS_MEDIA_OUTPUT_DEVICE,
    IDS_MEDIA_SILENCE,
    IDS_MEDIA_SILENCE_TIP,
    IDS_MEDIA_INPUT_VOLUME,
    IDS_MEDIA_OUTPUT_VOLUME,
    IDS_MEDIA_AUDIO_TEST,
    IDS_MEDIA_NOT_LISTED,
    IDS_MEDIA_CAMERA,
    IDS_MEDIA_NO_CAMERA,
    IDS_MEDIA_PREVIEW,
    IDS_MEDIA_FRAMES,
    // The properties sheet, its General and Connection pages and the account dialog.
    IDS_PROP_TITLE,
    IDS_PROP_APPLY,
    IDS_PROP_VERSION,
    IDS_PROP_ROW_GENERAL,
    IDS_PROP_ROW_CONNECTION,
    IDS_PROP_ROW_AUDIO,
    IDS_PROP_ROW_VIDEO,
    IDS_PROP_BAD_PROXY_PORT,
    IDS_PROP_SAVE_FAILED,
    IDS_GENERAL_PROGRAM,
    IDS_GENERAL_START_ON_INIT,
    IDS_GENERAL_ALWAYS_ON_TOP,
    IDS_GENERAL_START_MINIMIZED,
    IDS_GENERAL_MINIMIZE_ON_CLOSE,
    IDS_GENERAL_POSITION,
    IDS_GENERAL_LOCK_CORNER,
    IDS_GENERAL_LEFT_UP,
    IDS_GENERAL_RIGHT_UP,
    IDS_GENERAL_LEFT_DOWN,
    IDS_GENERAL_RIGHT_DOWN,
    IDS_CONN_PROXY_GROUP,
    IDS_CONN_PROXY_ACTIVATE,
    IDS_CONN_PROXY,
    IDS_CONN_LOGIN,
    IDS_CONN_DOMAIN,
    IDS_CONN_ACCOUNTS,
    IDS_CONN_APPEND,
    IDS_CONN_MODIFY,
    IDS_CONN_DELETE,
    IDS_CONN_ACTIVATE,
    IDS_CONN_DEFAULT_ACCOUNT,
    IDS_ACCOUNT_TITLE,
    // The contacts window and the contact dialog.
    IDS_CONTACTS_TITLE,
    IDS_CONTACTS_APPEND,
    IDS_CONTACTS_DELETE,
    IDS_CONTACTS_EDIT,
    IDS_CONTACTS_SEARCH,
    IDS_CONTACTS_FIND,
    IDS_CONTACTS_EMPTY,
    IDS_CONTACT_DIALOG_TITLE,
    IDS_CONTACT_NTV,
    IDS_CONTACT_NICKNAME,
    // The user directory.
    IDS_DIRECTORY_TITLE,
    IDS_DIRECTORY_COUNTRY,
    IDS_DIRECTORY_CITY,
    IDS_DIRECTORY_GENRE,
    IDS_DIRECTORY_LANGUAGE,
    IDS_DIRECTORY_KEYWORDS,
    IDS_DIRECTORY_SEARCH,
    IDS_DIRECTORY_RESET,
    IDS_DIRECTORY_NO_ADDRESS,
    // The program's --help.
    IDS_CLIENT_USAGE,
    IDS_UI_LAST
};

// 1033 or 3082 from the environment (`getenv` stands in for the process environment in tests).
UINT LanguageFromLocale(const std::function<const char*(const char*)>& getenv = nullptr);

// The language of LoadString; chosen from the locale on first use unless set.
void SetStringLanguage(UINT language);
UINT GetStringLanguage();

// The text of `id` in the current (or the given) language; "" for an unknown id.
const char* LoadString(UINT id);
const char* LoadString(UINT id, UINT language);

// The text of `id` with each "%s" replaced by the next argument ("%%" gives "%"). Missing arguments
// leave "" and surplus ones are ignored, so no translation can read past what the caller passed.
std::string FormatString(UINT id, std::initializer_list<std::string_view> args);
std::string FormatText(std::string_view format, std::initializer_list<std::string_view> args);

#include "server/DirectoryPages.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace {

std::string Lower(const std::string& text) {
    std::string out = text;
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string Trim(const std::string& text) {
    size_t b = text.find_first_not_of(" \t");
    if (b == std::string::npos)
        return {};
    size_t e = text.find_last_not_of(" \t");
    return text.substr(b, e - b + 1);
}

bool SameCode(const std::string& wanted, const std::string& stored) {
    std::string w = Trim(wanted);
    return w.empty() || Lower(w) == Lower(stored);
}

bool Contains(const std::string& haystack, const std::string& needle) {
    return Lower(haystack).find(Lower(needle)) != std::string::npos;
}

// English and Spanish texts of the pages, side by side.
struct CText {
    const char* en;
    const char* es;
};

const char* T(const CText& text, EPageLanguage lang) {
    return lang == EPageLanguage::Spanish ? text.es : text.en;
}

const CText kDirectoryTitle{"Velaphon user directory", "Directorio de usuarios de Velaphon"};
const CText kCall{"Call", "Llamar"};
const CText kAdd{"Add to contacts", "Agregar a contactos"};
const CText kNoMatch{"No user matches the search.", "Ning\xC3\xBAn usuario coincide con la b\xC3\xBAsqueda."};
const CText kMore{"Only the first %zu of %zu users are shown; narrow the search.",
                  "Se muestran solo los primeros %zu de %zu usuarios; acote la b\xC3\xBAsqueda."};
const CText kSearch{"Search", "Buscar"};
const CText kName{"Name", "Nombre"};
const CText kCountry{"Country", "Pa\xC3\xADs"};
const CText kCity{"City", "Ciudad"};
const CText kGender{"Gender", "Sexo"};
const CText kLanguage{"Language", "Idioma"};
const CText kKeywords{"Keywords", "Palabras clave"};
const CText kStatus{"Status", "Estado"};
const CText kConnected{"Connected", "Conectado"};
const CText kAway{"Away", "Ausente"};
const CText kDisconnected{"Disconnected", "Desconectado"};
const CText kMale{"Male", "Masculino"};
const CText kFemale{"Female", "Femenino"};
const CText kSpanish{"Spanish", "Espa\xC3\xB1ol"};
const CText kEnglish{"English", "Ingl\xC3\xA9s"};
const CText kAny{"Any", "Todos"};
const CText kCallNotice{"Open this directory in Velaphon to call %s.",
                        "Abra este directorio en Velaphon para llamar a %s."};
const CText kAddNotice{"Open this directory in Velaphon to add %s to your contacts.",
                       "Abra este directorio en Velaphon para agregar a %s a sus contactos."};

std::string Format(const char* format, const std::string& a) {
    std::string out = format;
    size_t at = out.find("%s");
    if (at != std::string::npos)
        out.replace(at, 2, a);
    return out;
}

std::string PageHead(const std::string& title, EPageLanguage lang) {
    std::ostringstream html;
    html << "<!DOCTYPE html>\n<html lang=\"" << (lang == EPageLanguage::Spanish ? "es" : "en")
         << "\">\n<head>\n"
         << "<meta charset=\"utf-8\">\n<title>" << HtmlEscape(title) << "</title>\n"
         << "<style>body{font-family:sans-serif;font-size:13px;background:#ededed;margin:8px}"
            "table{border-collapse:collapse;width:100%}th,td{text-align:left;padding:3px 6px;"
            "border-bottom:1px solid #ccc}th{background:#ddd}.C{color:#080}.A{color:#b60}.D{color:#888}"
            "form{margin-bottom:8px}.notice{background:#ffd;padding:4px}</style>\n"
         << "</head>\n<body>\n";
    return html.str();
}

std::string Option(const std::string& value, const std::string& label, const std::string& selected) {
    std::string attr = Lower(value) == Lower(Trim(selected)) ? " selected" : "";
    return "<option value=\"" + HtmlEscape(value) + "\"" + attr + ">" + HtmlEscape(label) + "</option>";
}

const char* StatusText(char status, EPageLanguage lang) {
    if (status == 'C')
        return T(kConnected, lang);
    if (status == 'A' || status == 'B')
        return T(kAway, lang);
    return T(kDisconnected, lang);
}

char StatusClass(char status) {
    if (status == 'C')
        return 'C';
    if (status == 'A' || status == 'B')
        return 'A';
    return 'D';
}

}  // namespace

std::string HtmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

bool MatchesDirectoryQuery(const CUserProfile& profile, const CDirectoryQuery& query) {
    if (!SameCode(query.strCountry, profile.strCountry))
        return false;
    if (!SameCode(query.strGender, profile.strGender))
        return false;
    if (!SameCode(query.strLanguage, profile.strLanguage))
        return false;
    std::string city = Trim(query.strCity);
    if (!city.empty() && !Contains(profile.strCity, city))
        return false;
    std::istringstream words(query.strKeywords);
    std::string word;
    while (words >> word) {
        if (!Contains(profile.strKeywords, word) && !Contains(profile.strName, word))
            return false;
    }
    return true;
}

EPageLanguage PageLanguageFor(const std::string& acceptLanguage) {
    std::string first = Lower(Trim(acceptLanguage.substr(0, acceptLanguage.find(','))));
    first = first.substr(0, first.find(';'));
    first = first.substr(0, first.find('-'));
    return Trim(first) == "es" ? EPageLanguage::Spanish : EPageLanguage::English;
}

std::string LinkNotice(bool bCall, const std::string& ntv, EPageLanguage lang) {
    return Format(T(bCall ? kCallNotice : kAddNotice, lang), ntv);
}

std::string BuildDirectoryPage(const std::vector<CDirectoryEntry>& entries, size_t totalMatches,
                               const CDirectoryQuery& query, const std::string& notice, EPageLanguage lang) {
    std::ostringstream html;
    html << PageHead(T(kDirectoryTitle, lang), lang);
    html << "<h1>" << HtmlEscape(T(kDirectoryTitle, lang)) << "</h1>\n";
    if (!notice.empty())
        html << "<p class=\"notice\">" << HtmlEscape(notice) << "</p>\n";

    // A form for plain browsers; its address stays below the directory's, so the client follows it too.
    html << "<form method=\"get\" action=\"/directory\">" << HtmlEscape(T(kCountry, lang))
         << " <input name=\"Pais\" size=\"2\" maxlength=\"2\" value=\"" << HtmlEscape(query.strCountry)
         << "\"> " << HtmlEscape(T(kCity, lang)) << " <input name=\"Ciudad\" size=\"12\" value=\""
         << HtmlEscape(query.strCity) << "\"> " << HtmlEscape(T(kGender, lang)) << " <select name=\"Sexo\">"
         << Option("", T(kAny, lang), query.strGender) << Option("M", T(kMale, lang), query.strGender)
         << Option("F", T(kFemale, lang), query.strGender) << "</select> " << HtmlEscape(T(kLanguage, lang))
         << " <select name=\"Idioma\">" << Option("", T(kAny, lang), query.strLanguage)
         << Option("ES", T(kSpanish, lang), query.strLanguage)
         << Option("EN", T(kEnglish, lang), query.strLanguage) << "</select> "
         << HtmlEscape(T(kKeywords, lang)) << " <input name=\"Pal_Clave\" size=\"12\" value=\""
         << HtmlEscape(query.strKeywords) << "\"> "
         << "<input type=\"submit\" value=\"" << HtmlEscape(T(kSearch, lang)) << "\"></form>\n";

    if (entries.empty()) {
        html << "<p>" << HtmlEscape(T(kNoMatch, lang)) << "</p>\n";
    } else {
        html << "<table>\n<tr><th>" << HtmlEscape(T(kName, lang)) << "</th><th>NTV</th><th>"
             << HtmlEscape(T(kCountry, lang)) << "</th><th>" << HtmlEscape(T(kCity, lang)) << "</th><th>"
             << HtmlEscape(T(kGender, lang)) << "</th><th>" << HtmlEscape(T(kLanguage, lang)) << "</th><th>"
             << HtmlEscape(T(kStatus, lang)) << "</th><th></th><th></th></tr>\n";
        for (const CDirectoryEntry& e : entries) {
            const CUserProfile& p = e.profile;
            std::string ntv = HtmlEscape(p.strNtv);
            const char* gender = p.strGender == "M"   ? T(kMale, lang)
                                 : p.strGender == "F" ? T(kFemale, lang)
                                                      : "";
            const char* language = p.strLanguage == "ES"   ? T(kSpanish, lang)
                                   : p.strLanguage == "EN" ? T(kEnglish, lang)
                                                           : "";
            html << "<tr><td>" << HtmlEscape(p.strName.empty() ? p.strNtv : p.strName) << "</td><td>" << ntv
                 << "</td><td>" << HtmlEscape(p.strCountry) << "</td><td>" << HtmlEscape(p.strCity)
                 << "</td><td>" << HtmlEscape(gender) << "</td><td>" << HtmlEscape(language)
                 << "</td><td class=\"" << StatusClass(e.cStatus) << "\">"
                 << HtmlEscape(StatusText(e.cStatus, lang))
                 << "</td>"
                 // The client takes everything after "callto=" as the NTV, so it ends the address.
                 << "<td><a href=\"/directory?callto=" << ntv << "\">" << HtmlEscape(T(kCall, lang))
                 << "</a></td><td><a href=\"/directory?addntv=" << ntv << "\">" << HtmlEscape(T(kAdd, lang))
                 << "</a></td></tr>\n";
        }
        html << "</table>\n";
        if (totalMatches > entries.size()) {
            char line[256];
            std::snprintf(line, sizeof line, T(kMore, lang), entries.size(), totalMatches);
            html << "<p>" << HtmlEscape(line) << "</p>\n";
        }
    }
    html << "</body>\n</html>\n";
    return html.str();
}

std::string BuildHelpPage(EPageLanguage lang) {
    std::ostringstream html;
    if (lang == EPageLanguage::Spanish) {
        html << PageHead("Ayuda de Velaphon", lang)
             << "<h1>Ayuda de Velaphon</h1>\n"
                "<p>Velaphon es un videotel\xC3\xA9"
                "fono: cada usuario tiene un n\xC3\xBAmero (NTV) con el que "
                "inicia sesi\xC3\xB3n y con el que otros le llaman.</p>\n<ul>\n"
                "<li><b>Llamar:</b> marque el NTV en el teclado y pulse Llamar, o elija un contacto "
                "conectado y pulse Llamar.</li>\n"
                "<li><b>Contestar:</b> cuando suena una llamada, Aceptar la contesta y Cancelar la "
                "rechaza.</li>\n"
                "<li><b>Contactos:</b> agregue, edite o borre contactos en la ventana de contactos; la lista "
                "se guarda en el servidor.</li>\n"
                "<li><b>Directorio:</b> busque usuarios por pa\xC3\xADs, ciudad, sexo, idioma o palabras "
                "clave; sus enlaces llaman al usuario o lo agregan a sus contactos.</li>\n"
                "<li><b>Estado:</b> verde es conectado, naranja ausente (no recibe llamadas), gris "
                "desconectado.</li>\n"
                "<li><b>Durante la llamada:</b> marque V\xC3\xAD"
                "deo para enviar su imagen y escriba en el "
                "campo de texto para chatear.</li>\n</ul>\n";
    } else {
        html << PageHead("Velaphon help", lang)
             << "<h1>Velaphon help</h1>\n"
                "<p>Velaphon is a videophone: every user has a number (NTV) to log in with and to be "
                "called at.</p>\n<ul>\n"
                "<li><b>Calling:</b> type the NTV on the keypad and press Call, or select a connected "
                "contact and press Call.</li>\n"
                "<li><b>Answering:</b> when a call rings, OK answers it and Cancel declines it.</li>\n"
                "<li><b>Contacts:</b> add, edit or delete contacts in the contacts window; the list is kept "
                "on the server.</li>\n"
                "<li><b>Directory:</b> search users by country, city, gender, language or keywords; its "
                "links call a user or add them to your contacts.</li>\n"
                "<li><b>Status:</b> green is connected, orange is away (no calls are put through), grey is "
                "disconnected.</li>\n"
                "<li><b>During a call:</b> tick Video to send your picture, and type in the text field to "
                "chat.</li>\n</ul>\n";
    }
    html << "</body>\n</html>\n";
    return html.str();
}

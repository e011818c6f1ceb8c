#include "cli/ConsoleWindow.h"

#include "app/ContactList.h"

namespace {

std::string Escape(const std::string& text, bool escapeSpace) {
    if (text.empty())
        return "-";
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f || c == '%' || (escapeSpace && c == ' ')) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    // A lone "-" would read as an empty field.
    return out == "-" ? "%2D" : out;
}

}  // namespace

std::string CConsoleWindow::Field(const std::string& text) {
    return Escape(text, true);
}

std::string CConsoleWindow::LastField(const std::string& text) {
    return Escape(text, false);
}

void CConsoleWindow::Line(const std::string& text) {
    std::fputs(text.c_str(), m_pOut);
    std::fputc('\n', m_pOut);
    std::fflush(m_pOut);
}

void CConsoleWindow::OnSessionState(char state) {
    Line(std::string("state ") + state);
    if (m_onState)
        m_onState(state);
}

void CConsoleWindow::OnUserInfo(const SSessionUserInfo& info) {
    Line("user-info " + Field(info.m_strDirectoryUrl) + " " + Field(info.m_strHelpUrl) + " " +
         LastField(info.m_strDisplayName));
}

bool CConsoleWindow::ShowNotice(UINT id, const std::string& text, bool) {
    Line("notice " + std::to_string(id) + " " + LastField(text));
    return true;
}

void CConsoleWindow::ShowPopup(const std::string& text) {
    Line("popup " + LastField(text));
}

void CConsoleWindow::OnConnecting(int) {
    Line("connecting");
}

void CConsoleWindow::OnLoginError(uint8_t reason) {
    Line("login-error " + std::to_string(reason));
}

void CConsoleWindow::OnNewVersion() {
    Line("new-version");
}

void CConsoleWindow::OnContactAdded(const SContactRecord& contact) {
    Line("contact " + Field(contact.m_strNtv) + " " + LastField(contact.m_strNickname));
    if (m_onContactAdded)
        m_onContactAdded(contact.m_strNtv);
}

void CConsoleWindow::OnContactRemoved(const std::string& ntv) {
    Line("contact-removed " + LastField(ntv));
}

void CConsoleWindow::OnContactStatus(const SContactRecord& contact, char) {
    Line("contact-status " + Field(contact.m_strNtv) + " " + LastField(std::string(1, contact.m_cStatus)));
    if (m_onContactStatus)
        m_onContactStatus();
}

// CConsoleWindow: the headless client's presentation of the session, one line per event on standard
// output. Fields are separated by one space; the last may hold spaces; an empty field is "-". Notices are
// printed and answered with OK.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "app/SessionWindow.h"

class CConsoleWindow : public ISessionWindow {
public:
    explicit CConsoleWindow(std::FILE* out = stdout) : m_pOut(out) {}

    // Called after each change of state, with the new state.
    std::function<void(char)> m_onState;
    // Called after each change of a contact's letter.
    std::function<void()> m_onContactStatus;
    // Called after a contact joined the list, with its NTV.
    std::function<void(const std::string&)> m_onContactAdded;

    void OnSessionState(char state) override;
    void OnUserInfo(const SSessionUserInfo& info) override;
    bool ShowNotice(UINT id, const std::string& text, bool okOnly) override;
    void PlaySound(UINT) override {}
    void ShowPopup(const std::string& text) override;
    void CloseWindow() override {}
    void OnConnecting(int attempt) override;
    void OnLoginError(uint8_t reason) override;
    void OnNewVersion() override;
    void OnContactAdded(const SContactRecord& contact) override;
    void OnContactRemoved(const std::string& ntv) override;
    void OnContactStatus(const SContactRecord& contact, char before) override;

    // A field that is not the last: "-" when empty; spaces and control characters escaped as %XX.
    static std::string Field(const std::string& text);
    // The last field: "-" when empty; control characters (a line break above all) escaped as %XX.
    static std::string LastField(const std::string& text);

private:
    void Line(const std::string& text);

    std::FILE* m_pOut;
};

// The command line of velaphon-cli.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct SCliOptions {
    std::string m_strHost;
    std::string m_strNtv;
    std::string m_strPassword;
    bool m_bAway = false;
    int m_nDurationSeconds = -1;                                     // -1: until SIGINT or SIGTERM
    std::vector<std::pair<std::string, std::string>> m_AddContacts;  // NTV, nickname
    bool m_bOnce = false;
};

// Parses the arguments after the program name. False with a reason for anything it does not accept.
bool ParseCliArguments(const std::vector<std::string>& args, SCliOptions& options, std::string& error);

const char* CliUsage();

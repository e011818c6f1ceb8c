// The command line of velaphond: `serve` and the `user` administration commands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/UserProfile.h"

// A numeric IPv4 or IPv6 address and a port, written "ADDR:PORT" or "[ADDR]:PORT".
struct CEndpoint {
    std::string strHost;
    uint16_t nPort = 0;

    std::string ToString() const;
    // True for 0.0.0.0 and ::, which accept on every interface.
    bool IsAnyAddress() const;
};

bool ParseEndpoint(const std::string& text, CEndpoint& endpoint);

// "redis://HOST[:PORT]": a host name or numeric address (IPv6 in brackets), port 6379 by default.
bool ParseRedisAddress(const std::string& text, std::string& host, uint16_t& port);

enum class ECommand { Help, Version, Serve, UserAdd, UserRemove, UserList, Migrate };

struct CServerOptions {
    ECommand eCommand = ECommand::Help;
    std::string strDbPath;  // a SQLite file or a PostgreSQL URI
    CEndpoint listen{"0.0.0.0", 443};
    CEndpoint http{"0.0.0.0", 8080};
    std::string strCurrentVersion = "0200003";
    uint32_t nPingIntervalMs = 30000;
    // Cluster mode: on when the Redis host is set.
    std::string strRedisHost;
    uint16_t nRedisPort = 6379;
    uint32_t nNodeId = 0;
    uint32_t nLeaseMs = 10000;
    CUserProfile profile;  // user add/remove: the NTV and profile fields
    std::string strPassword;
};

struct CCommandLine {
    bool bOk = false;
    std::string strError;  // why the arguments were refused
    CServerOptions options;
};

// Parses the arguments after the program name.
CCommandLine ParseCommandLine(const std::vector<std::string>& args);

const char* UsageText();

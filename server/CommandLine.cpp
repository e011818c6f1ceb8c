#include "server/CommandLine.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <map>

namespace {

bool IsNumericAddress(const std::string& host) {
    unsigned char buf[16];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

bool ParsePort(const std::string& text, uint16_t& port) {
    if (text.empty() || text.size() > 5)
        return false;
    if (!std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; })) {
        return false;
    }
    unsigned long value = std::strtoul(text.c_str(), nullptr, 10);
    if (value > 65535)
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}

// Seconds as typed ("30", "0.5") to milliseconds; at least 1 ms, at most a day.
bool ParseInterval(const std::string& text, uint32_t& ms) {
    if (text.empty())
        return false;
    char* end = nullptr;
    double seconds = std::strtod(text.c_str(), &end);
    if (end == nullptr || *end != '\0' || !std::isfinite(seconds) || seconds <= 0 || seconds > 86400) {
        return false;
    }
    ms = static_cast<uint32_t>(std::max(1.0, std::round(seconds * 1000)));
    return true;
}

struct COptionRule {
    bool bServe;  // allowed with serve
    bool bAdd;    // allowed with user add
};

const std::map<std::string, COptionRule>& Options() {
    static const std::map<std::string, COptionRule> options = {
        {"--db", {true, true}},
        {"--listen", {true, false}},
        {"--http", {true, false}},
        {"--current-version", {true, false}},
        {"--ping-interval", {true, false}},
        {"--cluster", {true, false}},
        {"--node-id", {true, false}},
        {"--cluster-lease", {true, false}},
        {"--name", {false, true}},
        {"--country", {false, true}},
        {"--city", {false, true}},
        {"--gender", {false, true}},
        {"--language", {false, true}},
        {"--keywords", {false, true}},
    };
    return options;
}

CCommandLine Fail(std::string reason) {
    CCommandLine result;
    result.strError = std::move(reason);
    return result;
}

}  // namespace

std::string CEndpoint::ToString() const {
    if (strHost.find(':') != std::string::npos)
        return "[" + strHost + "]:" + std::to_string(nPort);
    return strHost + ":" + std::to_string(nPort);
}

bool CEndpoint::IsAnyAddress() const {
    return strHost == "0.0.0.0" || strHost == "::";
}

bool ParseEndpoint(const std::string& text, CEndpoint& endpoint) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    std::string host = text.substr(0, colon);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']')
            return false;
        host = host.substr(1, host.size() - 2);
        if (host.find(':') == std::string::npos)
            return false;
    } else if (host.find(':') != std::string::npos) {
        return false;  // IPv6 needs brackets so the port is unambiguous
    }
    uint16_t port = 0;
    if (!IsNumericAddress(host) || !ParsePort(text.substr(colon + 1), port))
        return false;
    endpoint.strHost = host;
    endpoint.nPort = port;
    return true;
}

bool ParseRedisAddress(const std::string& text, std::string& host, uint16_t& port) {
    const std::string scheme = "redis://";
    if (text.compare(0, scheme.size(), scheme) != 0)
        return false;
    std::string rest = text.substr(scheme.size());
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    if (rest.empty() || rest.find_first_of("/@?# ") != std::string::npos)
        return false;  // no credentials, database numbers or options
    uint16_t p = 6379;
    std::string h = rest;
    if (rest.front() == '[') {
        size_t close = rest.find(']');
        if (close == std::string::npos || close < 2)
            return false;
        h = rest.substr(1, close - 1);
        std::string after = rest.substr(close + 1);
        if (!after.empty() && (after[0] != ':' || !ParsePort(after.substr(1), p)))
            return false;
        if (!IsNumericAddress(h))
            return false;
    } else if (size_t colon = rest.find(':'); colon != std::string::npos) {
        h = rest.substr(0, colon);
        if (h.empty() || !ParsePort(rest.substr(colon + 1), p))
            return false;
    }
    if (p == 0)
        return false;
    host = h;
    port = p;
    return true;
}

CCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CCommandLine result;
    CServerOptions& o = result.options;
    if (args.empty())
        return Fail("a command is needed");

    std::vector<std::string> positional;
    std::map<std::string, std::string> values;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help" || arg == "--version") {
            o.eCommand = arg == "--version" ? ECommand::Version : ECommand::Help;
            result.bOk = true;
            return result;
        }
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            std::string name = arg;
            std::string value;
            size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                name = arg.substr(0, eq);
                value = arg.substr(eq + 1);
            } else {
                if (i + 1 >= args.size())
                    return Fail(name + " needs a value");
                value = args[++i];
            }
            if (Options().count(name) == 0)
                return Fail("unknown option " + name);
            if (values.count(name) != 0)
                return Fail(name + " given twice");
            values[name] = value;
        } else {
            positional.push_back(arg);
        }
    }

    if (positional.empty())
        return Fail("a command is needed");
    size_t operands = 0;
    if (positional[0] == "serve") {
        o.eCommand = ECommand::Serve;
        operands = 1;
    } else if (positional[0] == "migrate") {
        o.eCommand = ECommand::Migrate;
        operands = 1;
    } else if (positional[0] == "user" && positional.size() >= 2) {
        const std::string& sub = positional[1];
        if (sub == "add") {
            o.eCommand = ECommand::UserAdd;
            operands = 4;
        } else if (sub == "remove") {
            o.eCommand = ECommand::UserRemove;
            operands = 3;
        } else if (sub == "list") {
            o.eCommand = ECommand::UserList;
            operands = 2;
        } else {
            return Fail("unknown user command " + sub);
        }
    } else {
        return Fail("unknown command " + positional[0]);
    }
    if (positional.size() != operands)
        return Fail("wrong number of arguments");

    for (const auto& [name, value] : values) {
        const COptionRule& rule = Options().at(name);
        bool allowed = (o.eCommand == ECommand::Serve && rule.bServe) ||
                       (o.eCommand == ECommand::UserAdd && rule.bAdd) || name == "--db";
        if (!allowed)
            return Fail(name + " does not apply to this command");
    }
    if (values.count("--db") == 0 || values["--db"].empty())
        return Fail("--db FILE|URI is required");
    o.strDbPath = values["--db"];

    if (o.eCommand == ECommand::Serve) {
        if (values.count("--listen") != 0 && !ParseEndpoint(values["--listen"], o.listen)) {
            return Fail("--listen wants ADDR:PORT with a numeric address");
        }
        o.http = CEndpoint{o.listen.strHost, 8080};
        if (values.count("--http") != 0 && !ParseEndpoint(values["--http"], o.http)) {
            return Fail("--http wants ADDR:PORT with a numeric address");
        }
        if (values.count("--current-version") != 0) {
            const std::string& v = values["--current-version"];
            if (v.empty() || v.size() > 10 ||
                !std::all_of(v.begin(), v.end(), [](unsigned char c) { return std::isdigit(c) != 0; })) {
                return Fail("--current-version wants up to 10 digits, like 0200003");
            }
            o.strCurrentVersion = v;
        }
        if (values.count("--ping-interval") != 0 &&
            !ParseInterval(values["--ping-interval"], o.nPingIntervalMs)) {
            return Fail("--ping-interval wants a positive number of seconds");
        }
        if (values.count("--cluster") != 0) {
            if (!ParseRedisAddress(values["--cluster"], o.strRedisHost, o.nRedisPort))
                return Fail("--cluster wants redis://HOST:PORT");
            const std::string& id = values["--node-id"];
            if (id.empty() || id.size() > 3 ||
                !std::all_of(id.begin(), id.end(), [](unsigned char c) { return std::isdigit(c) != 0; }) ||
                std::stoul(id) < 1 || std::stoul(id) > 127) {
                return Fail("--node-id wants a number from 1 to 127, different on every node");
            }
            o.nNodeId = static_cast<uint32_t>(std::stoul(id));
            // A lease shorter than a second would be lost to one slow round trip.
            if (values.count("--cluster-lease") != 0 &&
                (!ParseInterval(values["--cluster-lease"], o.nLeaseMs) || o.nLeaseMs < 1000 ||
                 o.nLeaseMs > 300000)) {
                return Fail("--cluster-lease wants 1 to 300 seconds");
            }
        } else if (values.count("--node-id") != 0 || values.count("--cluster-lease") != 0) {
            return Fail("--node-id and --cluster-lease go with --cluster");
        }
    } else if (o.eCommand == ECommand::UserAdd || o.eCommand == ECommand::UserRemove) {
        o.profile.strNtv = positional[2];
        if (!IsValidUserNtv(o.profile.strNtv)) {
            return Fail(o.profile.strNtv == kGuestNtv ? "the guest NTV cannot be registered"
                                                      : "an NTV is 1 to 15 digits");
        }
    }
    if (o.eCommand == ECommand::UserAdd) {
        o.strPassword = positional[3];
        if (!IsValidPassword(o.strPassword))
            return Fail("a password is 1 to 50 characters");
        o.profile.strName = values["--name"];
        o.profile.strCountry = values["--country"];
        o.profile.strCity = values["--city"];
        o.profile.strGender = values["--gender"];
        o.profile.strLanguage = values["--language"];
        o.profile.strKeywords = values["--keywords"];
        std::string reason = NormaliseProfile(o.profile);
        if (!reason.empty())
            return Fail(reason);
    }
    result.bOk = true;
    return result;
}

const char* UsageText() {
    return "usage:\n"
           "  velaphond serve --db FILE|URI [--listen ADDR:PORT] [--http ADDR:PORT]\n"
           "                  [--current-version 0200003] [--ping-interval SECONDS]\n"
           "                  [--cluster redis://HOST:PORT --node-id N [--cluster-lease SECONDS]]\n"
           "  velaphond user add --db FILE|URI NTV PASSWORD [--name NAME] [--country CC] [--city CITY]\n"
           "                  [--gender M|F] [--language ES|EN] [--keywords TEXT]\n"
           "  velaphond user remove --db FILE|URI NTV\n"
           "  velaphond user list --db FILE|URI\n"
           "  velaphond migrate --db FILE|URI\n"
           "  velaphond --help | --version\n"
           "--db: a SQLite file, or a PostgreSQL database as a URI (postgresql://user@host/db);\n"
           "  migrate creates or upgrades its tables\n"
           "--cluster: one of several nodes sharing the database, with logins and presence in Redis;\n"
           "  --node-id 1 to 127, unique per node; --cluster-lease 10 (a dead node's users wait this long)\n"
           "defaults: --listen 0.0.0.0:443, --http the listen address with port 8080,\n"
           "          --current-version 0200003, --ping-interval 30\n";
}

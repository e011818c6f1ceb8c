// velaphond: the reference server. `serve` runs it; the `user` commands administer its accounts.
#include <cstdio>
#include <string>
#include <vector>

#include "Version.h"
#include "server/AccountStore.h"
#include "server/CommandLine.h"
#include "server/Server.h"

namespace {

int UserAdd(const CServerOptions& o) {
    CAccountStore store;
    if (!store.Open(o.strDbPath, true)) {
        std::fprintf(stderr, "velaphond: cannot open %s: %s\n", o.strDbPath.c_str(),
                     store.LastError().c_str());
        return 1;
    }
    switch (store.AddUser(o.profile, o.strPassword, EHashCost::Interactive)) {
        case CAccountStore::EResult::Done:
            return 0;
        case CAccountStore::EResult::Exists:
            std::fprintf(stderr, "velaphond: user %s already exists\n", o.profile.strNtv.c_str());
            return 1;
        default:
            std::fprintf(stderr, "velaphond: cannot add user %s: %s\n", o.profile.strNtv.c_str(),
                         store.LastError().c_str());
            return 1;
    }
}

int UserRemove(const CServerOptions& o) {
    CAccountStore store;
    if (!store.Open(o.strDbPath, false)) {
        std::fprintf(stderr, "velaphond: cannot open %s: %s\n", o.strDbPath.c_str(),
                     store.LastError().c_str());
        return 1;
    }
    switch (store.RemoveUser(o.profile.strNtv)) {
        case CAccountStore::EResult::Done:
            return 0;
        case CAccountStore::EResult::NotFound:
            std::fprintf(stderr, "velaphond: no user %s\n", o.profile.strNtv.c_str());
            return 1;
        default:
            std::fprintf(stderr, "velaphond: cannot remove user %s: %s\n", o.profile.strNtv.c_str(),
                         store.LastError().c_str());
            return 1;
    }
}

int UserList(const CServerOptions& o) {
    CAccountStore store;
    if (!store.Open(o.strDbPath, false)) {
        std::fprintf(stderr, "velaphond: cannot open %s: %s\n", o.strDbPath.c_str(),
                     store.LastError().c_str());
        return 1;
    }
    for (const CUserProfile& user : store.ListUsers()) {
        std::printf("%s\t%s\n", user.strNtv.c_str(), user.strName.c_str());
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    CCommandLine cmd = ParseCommandLine(args);
    if (!cmd.bOk) {
        std::fprintf(stderr, "velaphond: %s\n%s", cmd.strError.c_str(), UsageText());
        return 2;
    }
    switch (cmd.options.eCommand) {
        case ECommand::Help:
            std::fputs(UsageText(), stdout);
            return 0;
        case ECommand::Version:
            std::printf("velaphond %s\n", kVelaphonVersion);
            return 0;
        case ECommand::Serve:
            return RunServer(cmd.options);
        case ECommand::UserAdd:
            return UserAdd(cmd.options);
        case ECommand::UserRemove:
            return UserRemove(cmd.options);
        case ECommand::UserList:
            return UserList(cmd.options);
    }
    return 2;
}

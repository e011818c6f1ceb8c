// velaphond: the reference server. `serve` runs it; the `user` commands administer its accounts.
#include <cstdio>
#include <string>
#include <vector>

#include "Version.h"
#include "server/AccountStore.h"
#include "server/CommandLine.h"
#include "server/Server.h"

namespace {

bool OpenStore(CAccountStore& store, const CServerOptions& o, EStoreOpen mode) {
    if (store.Open(o.strDbPath, mode))
        return true;
    std::fprintf(stderr, "velaphond: cannot open %s: %s\n", DisplayLocation(o.strDbPath).c_str(),
                 store.LastError().c_str());
    return false;
}

int Migrate(const CServerOptions& o) {
    CAccountStore store;
    if (!OpenStore(store, o, EStoreOpen::Migrate))
        return 1;
    int found = store.FoundSchemaVersion();
    if (found == kAccountSchemaVersion)
        std::printf("schema version %d: up to date\n", found);
    else if (found == 0)
        std::printf("schema version %d: created\n", kAccountSchemaVersion);
    else
        std::printf("schema version %d: upgraded from %d\n", kAccountSchemaVersion, found);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int UserAdd(const CServerOptions& o) {
    CAccountStore store;
    if (!OpenStore(store, o, EStoreOpen::Create))
        return 1;
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
    if (!OpenStore(store, o, EStoreOpen::Use))
        return 1;
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
    if (!OpenStore(store, o, EStoreOpen::Use))
        return 1;
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
        case ECommand::Migrate:
            return Migrate(cmd.options);
    }
    return 2;
}

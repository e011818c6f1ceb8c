#include <gtest/gtest.h>

#include "server/CommandLine.h"

namespace {

CCommandLine Parse(std::vector<std::string> args) {
    return ParseCommandLine(args);
}

TEST(CommandLine, ServeDefaults) {
    CCommandLine c = Parse({"serve", "--db", "x.db"});
    ASSERT_TRUE(c.bOk) << c.strError;
    EXPECT_EQ(c.options.eCommand, ECommand::Serve);
    EXPECT_EQ(c.options.strDbPath, "x.db");
    EXPECT_EQ(c.options.listen.ToString(), "0.0.0.0:443");
    EXPECT_EQ(c.options.http.ToString(), "0.0.0.0:8080");
    EXPECT_EQ(c.options.strCurrentVersion, "0200003");
    EXPECT_EQ(c.options.nPingIntervalMs, 30000u);
}

TEST(CommandLine, ServeOptionsInAnyPlaceAndBothSpellings) {
    CCommandLine c = Parse({"--listen=127.0.0.61:4443", "serve", "--ping-interval", "0.25", "--db=a.db",
                            "--current-version", "0300000"});
    ASSERT_TRUE(c.bOk) << c.strError;
    EXPECT_EQ(c.options.listen.ToString(), "127.0.0.61:4443");
    // The web pages follow the listen address unless given.
    EXPECT_EQ(c.options.http.ToString(), "127.0.0.61:8080");
    EXPECT_EQ(c.options.nPingIntervalMs, 250u);
    EXPECT_EQ(c.options.strCurrentVersion, "0300000");

    c = Parse({"serve", "--db", "a.db", "--listen", "[::1]:0", "--http", "[::]:81"});
    ASSERT_TRUE(c.bOk) << c.strError;
    EXPECT_EQ(c.options.listen.strHost, "::1");
    EXPECT_EQ(c.options.listen.nPort, 0);
    EXPECT_TRUE(c.options.http.IsAnyAddress());
    EXPECT_EQ(c.options.http.ToString(), "[::]:81");
}

TEST(CommandLine, RefusesBadArguments) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"serve"},                                       // no database
        {"serve", "--db"},                               // value missing
        {"serve", "--db", "a", "--db", "b"},             // twice
        {"serve", "--db", "a", "--listen", "host:443"},  // not numeric
        {"serve", "--db", "a", "--listen", "1.2.3.4"},   // no port
        {"serve", "--db", "a", "--listen", "1.2.3.4:65536"},
        {"serve", "--db", "a", "--listen", "::1:443"},  // IPv6 without brackets
        {"serve", "--db", "a", "--ping-interval", "0"},
        {"serve", "--db", "a", "--ping-interval", "x"},
        {"serve", "--db", "a", "--current-version", "2.0"},
        {"serve", "--db", "a", "--name", "n"},  // not a serve option
        {"serve", "--db", "a", "extra"},
        {"serve", "--db", "a", "--bogus", "1"},
        {"user"},
        {"user", "rename", "--db", "a"},
        {"user", "add", "--db", "a", "1001"},        // no password
        {"user", "add", "--db", "a", "10a1", "pw"},  // not digits
        {"user", "add", "--db", "a", "1234567890123456", "pw"},
        {"user", "add", "--db", "a", "888888888888888", "pw"},  // the guest
        {"user", "add", "--db", "a", "1001", ""},
        {"user", "add", "--db", "a", "1001", std::string(51, 'p')},
        {"user", "add", "--db", "a", "1001", "pw", "--gender", "X"},
        {"user", "add", "--db", "a", "1001", "pw", "--language", "FR"},
        {"user", "add", "--db", "a", "1001", "pw", "--country", "ESP"},
        {"user", "add", "--db", "a", "1001", "pw", "--name", std::string(256, 'n')},
        {"user", "add", "--db", "a", "1001", "pw", "--listen", "1.2.3.4:5"},
        {"user", "remove", "--db", "a"},
        {"user", "list", "--db", "a", "1001"},
        {"frobnicate", "--db", "a"},
    };
    for (const auto& args : bad) {
        CCommandLine c = Parse(args);
        std::string joined;
        for (const auto& a : args)
            joined += a + " ";
        EXPECT_FALSE(c.bOk) << joined;
        EXPECT_FALSE(c.strError.empty()) << joined;
    }
}

TEST(CommandLine, UserCommands) {
    CCommandLine c =
        Parse({"user", "add", "--db", "u.db", "1001", "secret", "--name", "Ana Gil", "--country", "es",
               "--city", "Madrid", "--gender", "f", "--language", "es", "--keywords", "jazz"});
    ASSERT_TRUE(c.bOk) << c.strError;
    EXPECT_EQ(c.options.eCommand, ECommand::UserAdd);
    EXPECT_EQ(c.options.profile.strNtv, "1001");
    EXPECT_EQ(c.options.strPassword, "secret");
    EXPECT_EQ(c.options.profile.strName, "Ana Gil");
    // Codes are stored as the directory's query sends them.
    EXPECT_EQ(c.options.profile.strCountry, "ES");
    EXPECT_EQ(c.options.profile.strGender, "F");
    EXPECT_EQ(c.options.profile.strLanguage, "ES");
    EXPECT_EQ(c.options.profile.strKeywords, "jazz");

    c = Parse({"user", "remove", "--db", "u.db", "1001"});
    ASSERT_TRUE(c.bOk);
    EXPECT_EQ(c.options.eCommand, ECommand::UserRemove);
    c = Parse({"user", "list", "--db", "u.db"});
    ASSERT_TRUE(c.bOk);
    EXPECT_EQ(c.options.eCommand, ECommand::UserList);
    c = Parse({"migrate", "--db", "postgresql://vp@db/velaphon"});
    ASSERT_TRUE(c.bOk);
    EXPECT_EQ(c.options.eCommand, ECommand::Migrate);
    EXPECT_EQ(c.options.strDbPath, "postgresql://vp@db/velaphon");
    EXPECT_FALSE(Parse({"migrate"}).bOk);
    EXPECT_FALSE(Parse({"migrate", "--db", "u.db", "--listen", "127.0.0.1:1"}).bOk);
    c = Parse({"--help"});
    ASSERT_TRUE(c.bOk);
    EXPECT_EQ(c.options.eCommand, ECommand::Help);
}

}  // namespace

namespace {

TEST(CommandLine, ClusterOptions) {
    CCommandLine c = Parse({"serve", "--db", "a.db", "--cluster", "redis://10.0.0.5:7000", "--node-id", "3"});
    ASSERT_TRUE(c.bOk) << c.strError;
    EXPECT_EQ(c.options.strRedisHost, "10.0.0.5");
    EXPECT_EQ(c.options.nRedisPort, 7000);
    EXPECT_EQ(c.options.nNodeId, 3u);
    EXPECT_EQ(c.options.nLeaseMs, 10000u);
    EXPECT_TRUE(Parse({"serve", "--db", "a.db"}).options.strRedisHost.empty());

    c = Parse({"serve", "--db", "a.db", "--cluster=redis://cache.internal/", "--node-id=127",
               "--cluster-lease", "2.5"});
    ASSERT_TRUE(c.bOk) << c.strError;
    EXPECT_EQ(c.options.strRedisHost, "cache.internal");
    EXPECT_EQ(c.options.nRedisPort, 6379);
    EXPECT_EQ(c.options.nLeaseMs, 2500u);

    std::string host;
    uint16_t port = 0;
    EXPECT_TRUE(ParseRedisAddress("redis://[::1]:6380", host, port));
    EXPECT_EQ(host, "::1");
    EXPECT_EQ(port, 6380);
    for (const char* bad : {"10.0.0.5:6379", "redis://", "redis://:6379", "redis://h:0", "redis://h:99999",
                            "redis://user:pw@h:6379", "redis://h:6379/2", "redis://[::1", "redis://[h]:1"}) {
        EXPECT_FALSE(ParseRedisAddress(bad, host, port)) << bad;
    }

    const std::vector<std::vector<std::string>> refused = {
        {"serve", "--db", "a.db", "--cluster", "redis://h:1"},  // no node id
        {"serve", "--db", "a.db", "--cluster", "redis://h:1", "--node-id", "0"},
        {"serve", "--db", "a.db", "--cluster", "redis://h:1", "--node-id", "128"},
        {"serve", "--db", "a.db", "--cluster", "redis://h:1", "--node-id", "x1"},
        {"serve", "--db", "a.db", "--cluster", "redis://h:1", "--node-id", "1", "--cluster-lease", "0.5"},
        {"serve", "--db", "a.db", "--node-id", "1"},  // without --cluster
        {"serve", "--db", "a.db", "--cluster", "h:1", "--node-id", "1"},
        {"user", "list", "--db", "a.db", "--cluster", "redis://h:1"},
    };
    for (const auto& args : refused)
        EXPECT_FALSE(Parse(args).bOk) << args[args.size() - 1];
}

}  // namespace

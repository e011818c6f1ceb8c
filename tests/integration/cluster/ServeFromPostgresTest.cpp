// velaphond with its accounts in PostgreSQL, as processes: migrate, the user commands, and two clients
// that log in and see each other come online, and the directory page.
#include <gtest/gtest.h>
#include <httplib.h>

#include "integration/app/SessionHarness.h"
#include "integration/call/CliProcess.h"
#include "support/PostgresServer.h"

namespace {

using servertest::RunTool;

TEST(ServeFromPostgres, MigrateUsersAndTwoClientsSeeingEachOther) {
    vp::test::CPostgresServer postgres;
    std::string error;
    ASSERT_TRUE(postgres.Start(&error)) << error;
    const std::string uri = postgres.CreateDatabase("velaphon");
    ASSERT_FALSE(uri.empty());

    // No schema yet: the server and the user commands send the administrator to migrate.
    servertest::CRun run = RunTool({"serve", "--db", uri, "--listen", "127.0.0.192:0"});
    EXPECT_EQ(run.nExit, 1);
    EXPECT_NE(run.strErr.find("run velaphond migrate"), std::string::npos) << run.strErr;
    run = RunTool({"user", "add", "--db", uri, "5550001", "demo-a"});
    EXPECT_EQ(run.nExit, 1);

    run = RunTool({"migrate", "--db", uri});
    EXPECT_EQ(run.nExit, 0) << run.strErr;
    EXPECT_EQ(run.strOut, "schema version 2: created\n");
    run = RunTool({"migrate", "--db", uri});
    EXPECT_EQ(run.strOut, "schema version 2: up to date\n");
    ASSERT_EQ(RunTool({"user", "add", "--db", uri, "5550001", "demo-a", "--name", "Ana Gil"}).nExit, 0);
    ASSERT_EQ(
        RunTool({"user", "add", "--db", uri, "5550002", "demo-b", "--name", "Bea Ruiz", "--city", "Vigo"})
            .nExit,
        0);
    run = RunTool({"user", "list", "--db", uri});
    EXPECT_EQ(run.strOut, "5550001\tAna Gil\n5550002\tBea Ruiz\n");
    {
        CAccountStore store;
        ASSERT_TRUE(store.Open(uri, EStoreOpen::Use)) << store.LastError();
        ASSERT_EQ(store.AddContact("5550001", "5550002", "Bea"), IAccountStore::EResult::Done);
        ASSERT_EQ(store.AddContact("5550002", "5550001", "Ana"), IAccountStore::EResult::Done);
    }

    sessiontest::CVelaphond server(uri, "127.0.0.192");
    ASSERT_TRUE(server.Start());
    calltest::CCli ana("127.0.0.192", "5550001", "demo-a");
    ASSERT_TRUE(ana.WaitLine("state C"));
    EXPECT_TRUE(ana.WaitLine("contact 5550002 Bea"));
    calltest::CCli bea("127.0.0.192", "5550002", "demo-b");
    ASSERT_TRUE(bea.WaitLine("state C"));
    EXPECT_TRUE(bea.WaitLine("contact-status 5550001 C"));
    EXPECT_TRUE(ana.WaitLine("contact-status 5550002 C"));

    // The directory the web pages search, with who is online.
    httplib::Client http("127.0.0.192", server.HttpPort());
    auto page = http.Get("/directory?soft=1&Pais=&Ciudad=vig&Sexo=&Idioma=&Pal_Clave=");
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("callto=5550002"), std::string::npos);
    EXPECT_EQ(page->body.find("callto=5550001"), std::string::npos);
    EXPECT_NE(page->body.find("Connected"), std::string::npos);

    calltest::CCli wrong("127.0.0.192", "5550001", "nope");
    EXPECT_TRUE(wrong.WaitLine("login-error 2"));

    // While the database is down, a login is put off, not refused: the client keeps trying and gets in
    // once it is back.
    ana.Stop();
    postgres.Halt();
    calltest::CCli later("127.0.0.192", "5550001", "demo-a");
    EXPECT_TRUE(server.WaitForLog("login of 5550001 from 127.0.0.1"));
    EXPECT_TRUE(server.WaitForLog("put off: the account store cannot be read"));
    ASSERT_TRUE(postgres.Resume(&error)) << error;
    EXPECT_TRUE(later.WaitLine("state C", 20000));
    EXPECT_EQ(later.Count("login-error 2"), 0);
}

}  // namespace

// The node's health page, which a load balancer asks before sending it clients.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>

#include "server/AccountStore.h"
#include "server/HttpListener.h"

namespace {

TEST(HttpHealth, FollowsReadinessAndStaysOutOfTheWayOfThePages) {
    CAccountStore store;
    ASSERT_TRUE(store.Open(":memory:", true));
    std::atomic<bool> ready{true};
    CHttpListener listener(store, [](const std::string&) { return 'D'; });
    listener.SetReadiness([&ready] { return ready.load(); });
    std::string error;
    ASSERT_TRUE(listener.Start(CEndpoint{"127.0.0.46", 0}, error)) << error;

    httplib::Client http("127.0.0.46", listener.Port());
    auto answer = http.Get("/health");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    EXPECT_EQ(answer->body, "ok\n");

    ready = false;
    answer = http.Get("/health");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 503);

    // The pages do not depend on it: a node out of the pool still serves whoever reaches it.
    answer = http.Get("/help");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
}

}  // namespace

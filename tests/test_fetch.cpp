#include "net/fetch.h"

#include "local_http_server.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr unsigned kCapacity = 1000;

// Every request goes to our own server on 127.0.0.1, never through a proxy.
class Fetch : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            unsetenv(name);
    }
    int Get(const std::string& path, unsigned capacity = kCapacity, const FetchLimits& limits = {}) {
        buffer.assign(kCapacity + 16, '#');
        count = 12345;
        return FetchUrl(server.Url(path), buffer.data(), &count, capacity, limits);
    }
    std::string Body() const { return std::string(buffer.data(), count); }

    LocalHttpServer server;
    std::vector<char> buffer = std::vector<char>(kCapacity + 16, '#');
    unsigned count = 0;
};

std::string Pattern(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += static_cast<char>('a' + i % 26);
    return s;
}

}  // namespace

TEST_F(Fetch, ReturnsTheStatusClassAndTheBody) {
    struct Case {
        int status;
        std::string body;
        int result;
    };
    const Case cases[] = {
        {200, "1.2.3\n", 2},
        {204, "", 2},
        {404, "<html>not found</html>", 4},
        {500, "server trouble", 5},
        {304, "", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        server.Add("/r", LocalHttpServer::Page(c.status, c.body));
        EXPECT_EQ(Get("/r"), c.result);
        EXPECT_EQ(Body(), c.body);
    }
    // The body is raw: never zero-terminated after the stored bytes.
    server.Add("/v", LocalHttpServer::Page(200, "2.0"));
    ASSERT_EQ(Get("/v"), 2);
    EXPECT_EQ(buffer[3], '#');
}

TEST_F(Fetch, SendsItsUserAgentAndAsksPastCaches) {
    server.Add("/v", LocalHttpServer::Page(200, "1"));
    ASSERT_EQ(Get("/v"), 2);
    const std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].rfind("GET /v HTTP/1.1\r\n", 0), 0u);
    EXPECT_NE(requests[0].find("\r\nUser-Agent: Mozilla\r\n"), std::string::npos);
    EXPECT_NE(requests[0].find("\r\nCache-Control: no-cache\r\n"), std::string::npos);
}

TEST_F(Fetch, CutsALongBodyAtTheCapacityAndStillSucceeds) {
    const std::string body = Pattern(200000);
    server.Add("/long", LocalHttpServer::Page(200, body));
    server.Add("/exact", LocalHttpServer::Page(200, body.substr(0, kCapacity)));
    server.Add("/long404", LocalHttpServer::Page(404, body));
    server.Add("/one-more", LocalHttpServer::Page(200, body.substr(0, kCapacity + 1)));

    for (const char* path : {"/long", "/exact", "/one-more"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(Get(path), 2);
        EXPECT_EQ(count, kCapacity);
        EXPECT_EQ(Body(), body.substr(0, kCapacity));
        EXPECT_EQ(buffer[kCapacity], '#');  // not one byte past the capacity
    }
    EXPECT_EQ(Get("/long404"), 4);
    EXPECT_EQ(count, kCapacity);

    // No room at all: nothing is written, the status class still comes back.
    EXPECT_EQ(Get("/long", 0), 2);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(buffer[0], '#');
}

TEST_F(Fetch, FollowsRedirectsAndKeepsOnlyTheLastBody) {
    server.Add("/target", LocalHttpServer::Page(200, "9.9"));
    server.Add("/moved", LocalHttpServer::Redirect(302, "/target", "moved away"));
    server.Add("/twice", LocalHttpServer::Redirect(301, "/moved", "x"));
    for (const char* path : {"/moved", "/twice"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(Get(path), 2);
        EXPECT_EQ(Body(), "9.9");
    }
    // A redirect to a missing page reports the final answer.
    server.Add("/gone", LocalHttpServer::Redirect(302, "/nowhere"));
    EXPECT_EQ(Get("/gone"), 4);
}

TEST_F(Fetch, RefusesEndlessRedirectsAndOtherSchemes) {
    server.Add("/loop", LocalHttpServer::Redirect(302, "/loop"));
    EXPECT_EQ(Get("/loop"), 0);
    // A redirect may not lead off the web into local files.
    server.Add("/to-file", LocalHttpServer::Redirect(302, "file:///etc/hostname"));
    EXPECT_EQ(Get("/to-file"), 0);
    EXPECT_EQ(count, 0u);

    unsigned n = 7;
    EXPECT_EQ(FetchUrl("file:///etc/hostname", buffer.data(), &n, kCapacity), 0);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(FetchUrl("not an address", buffer.data(), &n, kCapacity), 0);
    EXPECT_EQ(FetchUrl("", buffer.data(), &n, kCapacity), 0);
    EXPECT_EQ(n, 0u);
}

TEST_F(Fetch, AClosedPortGivesZeroAndNothingStored) {
    const std::string url = "http://127.0.0.1:" + std::to_string(LocalHttpServer::ClosedPort()) + "/version.txt";
    count = 99;
    EXPECT_EQ(FetchUrl(url, buffer.data(), &count, kCapacity), 0);
    EXPECT_EQ(count, 0u);
    // The one-time preparation is done by now and is not repeated.
    EXPECT_EQ(AttemptConnectOnce(), 1);
}

TEST_F(Fetch, ATransferThatBreaksOffIsAFailureWithWhatArrived) {
    const std::string body = Pattern(600);
    server.Add("/cut", LocalHttpServer::Page(200, body, LocalHttpServer::Mode::CloseMidBody));
    EXPECT_EQ(Get("/cut"), 0);
    EXPECT_EQ(Body(), body.substr(0, 300));
}

TEST_F(Fetch, GivesUpOnAServerThatFallsSilent) {
    const FetchLimits quick{.connectMs = 5000, .idleSeconds = 1, .totalMs = 60000};
    server.Add("/silent", LocalHttpServer::Page(200, "1.0", LocalHttpServer::Mode::Silent));
    EXPECT_EQ(Get("/silent", kCapacity, quick), 0);
    EXPECT_EQ(count, 0u);

    const std::string body = Pattern(400);
    server.Add("/stall", LocalHttpServer::Page(200, body, LocalHttpServer::Mode::StallMidBody));
    // Curl averages the speed over a few seconds: the overall limit ends this one sooner.
    const FetchLimits total{.connectMs = 5000, .idleSeconds = 600, .totalMs = 1000};
    EXPECT_EQ(Get("/stall", kCapacity, total), 0);
    EXPECT_EQ(Body(), body.substr(0, 200));
}

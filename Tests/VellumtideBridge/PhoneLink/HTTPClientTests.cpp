#include "Platform/Async/Scheduler.h"
#include "Platform/Net/SocketAddress.h"
#include "Tests/Support/FakePhone/FakePhone.h"
#include "Tests/Support/FakePhone/QtTestLoop.h"
#include "VellumtideBridge/Sources/PhoneLink/VellumtideHTTPClient.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using vt::test::FakePhone;
using vt::test::FakeReply;
using vt::test::runTask;
using Outcome = vt::test::TaskOutcome<std::string>;

namespace {

class HTTPClientTest : public ::testing::Test {
protected:
    void SetUp() override { vt::test::testApplication(); }

    Outcome get(const std::string& path, double timeout = 2.0, VellumtideHTTPClient::Headers headers = {}) {
        return runTask<std::string>(
            [this, path, timeout, headers] { return client.get(path, phone.endpoint(), timeout, headers); });
    }

    // The client's error case of a failed call (fails the test for other outcomes).
    static std::optional<VellumtideHTTPClientError> clientError(const Outcome& outcome) {
        try {
            if (outcome.error)
                std::rethrow_exception(outcome.error);
        } catch (const VellumtideHTTPClientError& error) {
            return error;
        } catch (...) {
        }
        return std::nullopt;
    }

    vt::QtScheduler scheduler;
    VellumtideHTTPClient client{scheduler};
    FakePhone phone;
};

TEST_F(HTTPClientTest, SendsExactRequestBytesAndReturnsTheBodyAfterClose) {
    phone.setReply("/pair",
                   FakeReply::raw("HTTP/1.1 200 OK\r\nServer: fake\r\nX-Extra: 1\r\n\r\n0123456789"));
    const auto outcome = get("/pair", 2.0, {{"X-Vellumtide-Pair-Code", "123456"}});
    ASSERT_TRUE(outcome.finished);
    ASSERT_FALSE(outcome.error) << vt::test::errorText(outcome.error);
    EXPECT_EQ(*outcome.value, "0123456789");
    ASSERT_EQ(phone.requests().size(), 1u);
    EXPECT_EQ(phone.requests()[0].raw,
              "GET /pair HTTP/1.1\r\nHost: vellumtide-bridge.local\r\nConnection: close\r\n"
              "X-Vellumtide-Pair-Code: 123456\r\n\r\n");
    // A host name is looked up first (here the loopback name).
    const auto named = runTask<std::string>(
        [&] { return client.get("/pair", VellumtideEndpoint::hostPort("localhost", phone.port()), 2.0); });
    ASSERT_FALSE(named.error) << vt::test::errorText(named.error);
    EXPECT_EQ(*named.value, "0123456789");
    EXPECT_EQ(VellumtideHTTPClient::requestBytes("/health", {}),
              "GET /health HTTP/1.1\r\nHost: vellumtide-bridge.local\r\nConnection: close\r\n\r\n");
}

TEST_F(HTTPClientTest, JudgesStatusLinesAndHeaderEnds) {
    struct Case {
        std::string reply;
        std::optional<std::string> body; // success with this body
        std::optional<VellumtideHTTPClientError::Case> error;
        std::string statusLine;
    };
    using C = VellumtideHTTPClientError::Case;
    const std::vector<Case> cases = {
        {"HTTP/1.1 200 OK\r\n\r\n", "", {}, ""},
        {"HTTP/1.0 200 OK\r\nA: b\r\n\r\nxyz", "xyz", {}, ""},
        {"HTTP/1.1 200\r\n\r\nbody", {}, C::httpStatus, "HTTP/1.1 200"},
        {"HTTP/1.1 401 Unauthorized\r\n\r\nno", {}, C::httpStatus, "HTTP/1.1 401 Unauthorized"},
        {"\r\n\r\nbody", {}, C::httpStatus, ""},
        {"HTTP/1.1 200 OK\n\nbody", {}, C::invalidResponse, ""},
        {"", {}, C::invalidResponse, ""},
        {"HTTP/1.1 200 OK\r\nContent-Type: x\r\n", {}, C::invalidResponse, ""},
        // Framing that does not match the body is refused rather than saved as a corrupt file.
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nabc", {}, C::invalidResponse, ""},
        {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nabc", {}, C::invalidResponse, ""},
        {"HTTP/1.1 200 OK\r\ncontent-length: 3\r\n\r\nabc", "abc", {}, ""},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
         {},
         C::invalidResponse,
         ""},
        // A status error keeps its line even when the body's framing is off.
        {"HTTP/1.1 500 Oops\r\nContent-Length: 99\r\n\r\n", {}, C::httpStatus, "HTTP/1.1 500 Oops"},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.reply);
        phone.setReply("/health", FakeReply::raw(item.reply));
        const auto outcome = get("/health");
        ASSERT_TRUE(outcome.finished);
        if (item.body) {
            ASSERT_FALSE(outcome.error) << vt::test::errorText(outcome.error);
            EXPECT_EQ(*outcome.value, *item.body);
            continue;
        }
        const auto error = clientError(outcome);
        ASSERT_TRUE(error.has_value()) << vt::test::errorText(outcome.error);
        EXPECT_EQ(error->errorCase(), *item.error);
        EXPECT_EQ(error->statusLine(), item.statusLine);
    }
    EXPECT_STREQ(VellumtideHTTPClientError::httpStatus("").what(), "The iPhone returned .");
    EXPECT_STREQ(VellumtideHTTPClientError::httpStatus("HTTP/1.1 401 Unauthorized").what(),
                 "The iPhone returned HTTP/1.1 401 Unauthorized.");
    EXPECT_STREQ(VellumtideHTTPClientError::invalidResponse().what(),
                 "The iPhone returned an invalid response.");
    EXPECT_STREQ(VellumtideHTTPClientError::timedOut().what(),
                 "The iPhone did not respond. Check the sync address, Wi-Fi, and local-network permissions.");
}

TEST_F(HTTPClientTest, AssemblesRepliesSplitAtEveryByteAndLargerThanOneRead) {
    FakeReply split = FakeReply::ok("split body \xff\x00 bytes");
    split.chunkSize = 1;
    split.pauseBetweenChunks = 200us;
    phone.setReply("/health", split);
    auto outcome = get("/health");
    ASSERT_FALSE(outcome.error) << vt::test::errorText(outcome.error);
    EXPECT_EQ(*outcome.value, std::string("split body \xff\x00 bytes"));

    std::string large(300'000, '\0');
    for (std::size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>(i * 7 % 251);
    FakeReply pieces = FakeReply::ok(large);
    pieces.chunkSize = 70'001;
    pieces.pauseBetweenChunks = 1ms;
    phone.setReply("/library.json", pieces);
    outcome = get("/library.json");
    ASSERT_FALSE(outcome.error) << vt::test::errorText(outcome.error);
    EXPECT_EQ(*outcome.value, large);
}

TEST_F(HTTPClientTest, TimesOutFromTheStartOfTheCall) {
    // The whole reply but the connection kept open: the time-out, not the reply.
    FakeReply open = FakeReply::ok("{}");
    open.keepOpen = true;
    phone.setReply("/health", open);
    QElapsedTimer watch;
    watch.start();
    auto outcome = get("/health", 0.3);
    EXPECT_GE(watch.elapsed(), 290);
    ASSERT_TRUE(clientError(outcome).has_value());
    EXPECT_EQ(clientError(outcome)->errorCase(), VellumtideHTTPClientError::Case::timedOut);

    // A port where nothing listens waits for the deadline instead of failing at once.
    std::uint16_t closedPort = 0;
    {
        FakePhone gone;
        closedPort = gone.port();
    }
    watch.restart();
    outcome = runTask<std::string>(
        [&] { return client.get("/health", VellumtideEndpoint::hostPort("127.0.0.1", closedPort), 0.25); });
    EXPECT_GE(watch.elapsed(), 240);
    ASSERT_TRUE(clientError(outcome).has_value());
    EXPECT_EQ(clientError(outcome)->errorCase(), VellumtideHTTPClientError::Case::timedOut);

    // A slow trickle: "/samples/" counts the time-out from the last chunk, other paths from the start.
    FakeReply trickle = FakeReply::ok(std::string(8, 'x'));
    trickle.chunkSize = 10;
    trickle.pauseBetweenChunks = 90ms;
    phone.setReply("/samples/a.m4a", trickle);
    phone.setReply("/library.json", trickle);
    outcome = get("/samples/a.m4a", 0.3);
    ASSERT_FALSE(outcome.error) << vt::test::errorText(outcome.error);
    EXPECT_EQ(*outcome.value, std::string(8, 'x'));
    outcome = get("/library.json", 0.3);
    ASSERT_TRUE(clientError(outcome).has_value());
    EXPECT_EQ(clientError(outcome)->errorCase(), VellumtideHTTPClientError::Case::timedOut);
}

TEST_F(HTTPClientTest, ReplyAndTimeOutRacingGiveOneOutcome) {
    vt::VirtualScheduler virtualTime;
    VellumtideHTTPClient virtualClient(virtualTime);
    // Time-out first: the late reply changes nothing.
    FakeReply late = FakeReply::ok("late");
    late.delayBeforeReply = 100ms;
    phone.setReply("/health", late);
    int outcomes = 0;
    std::string seen;
    vt::spawn([&]() -> QCoro::Task<> {
        try {
            seen = co_await virtualClient.get("/health", phone.endpoint(), 1.0);
        } catch (const VellumtideHTTPClientError& error) {
            seen = error.what();
        }
        ++outcomes;
    });
    virtualTime.advanceBy(1s);
    vt::test::turnLoopUntil([&] { return outcomes > 0; }, 2s);
    vt::test::turnLoopUntil([&] { return false; }, 200ms); // the reply arrives and is dropped
    EXPECT_EQ(outcomes, 1);
    EXPECT_EQ(seen, VellumtideHTTPClientError::timedOut().what());

    // Reply first: the later time-out changes nothing.
    phone.setReply("/health", FakeReply::ok("fast"));
    vt::spawn([&]() -> QCoro::Task<> {
        seen = co_await virtualClient.get("/health", phone.endpoint(), 1.0);
        ++outcomes;
    });
    vt::test::turnLoopUntil([&] { return outcomes > 1; }, 2s);
    virtualTime.advanceBy(5s);
    EXPECT_EQ(outcomes, 2);
    EXPECT_EQ(seen, "fast");
    EXPECT_EQ(virtualTime.pendingTimers(), 0u);
}

TEST_F(HTTPClientTest, ConnectionResetAndUnsafeHeadersFail) {
    FakeReply reset = FakeReply::raw("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
    reset.generatedBodyBytes = 100000;
    reset.resetAfterBytes = 5000;
    phone.setReply("/samples/x.wav", reset);
    auto outcome = get("/samples/x.wav");
    ASSERT_TRUE(outcome.error);
    EXPECT_FALSE(clientError(outcome).has_value()) << "a reset is the system's network error";
    try {
        std::rethrow_exception(outcome.error);
    } catch (const vt::net::NetworkError& error) {
        EXPECT_EQ(error.code(), ECONNRESET);
    } catch (...) {
        ADD_FAILURE() << "unexpected error " << vt::test::errorText(outcome.error);
    }

    // A token holding a line break could add header lines: refused before any connection.
    for (const std::string& value :
         std::vector<std::string>{"abc\r\nX-Evil: 1", std::string("abc\0def", 7), "line\nbreak"}) {
        outcome = get("/library.json", 2.0, {{"X-Vellumtide-Token", value}});
        ASSERT_TRUE(outcome.error);
        EXPECT_THROW(std::rethrow_exception(outcome.error), VellumtideHeaderValueError);
    }
    outcome = get("/library.json\r\nX: y");
    EXPECT_THROW(std::rethrow_exception(outcome.error), VellumtideHeaderValueError);
    EXPECT_EQ(phone.connectionCount(), 1u);
}

} // namespace

#include "Platform/Async/Scheduler.h"
#include "Platform/Net/SocketAddress.h"
#include "Tests/Support/FakePhone/FakePhone.h"
#include "Tests/Support/FakePhone/QtTestLoop.h"
#include "Tests/Support/FileSizeLimit.h"
#include "Tests/Support/Memory/AllocationProbe.h"
#include "Tests/Support/TemporaryFolder.h"
#include "VellumtideBridge/Sources/PhoneLink/BridgePairing.h"
#include "VellumtideBridge/Sources/PhoneLink/PhoneLibraryList.h"
#include "VellumtideBridge/Sources/PhoneLink/PhoneLinkTexts.h"
#include "VellumtideBridge/Sources/PhoneLink/VellumtideHTTPClient.h"

#include <QElapsedTimer>
#include <fstream>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using vt::test::FakePhone;
using vt::test::FakeReply;
using vt::test::runTask;
using Outcome = vt::test::TaskOutcome<std::string>;
using Downloaded = vt::test::TaskOutcome<std::uint64_t>;
namespace fs = std::filesystem;

namespace {

// The time-out of a call that is not about time-outs: any answer comes long before it.
constexpr double answerTime = std::chrono::duration<double>(vt::test::patience).count();

class HTTPClientTest : public ::testing::Test {
protected:
    void SetUp() override { vt::test::testApplication(); }

    Outcome get(const std::string& path, double timeout = answerTime,
                VellumtideHTTPClient::Headers headers = {}) {
        return runTask<std::string>(
            [this, path, timeout, headers] { return client.get(path, phone.endpoint(), timeout, headers); });
    }

    Downloaded download(const std::string& path, const fs::path& destination, double timeout = answerTime,
                        VellumtideHTTPClient* through = nullptr) {
        VellumtideHTTPClient& using_ = through ? *through : client;
        return runTask<std::uint64_t>([&using_, path, destination, timeout, this] {
            return using_.download(path, phone.endpoint(), timeout, {{"X-Vellumtide-Token", "token-1"}},
                                   destination);
        });
    }

    // The client's error case of a failed call (fails the test for other outcomes).
    template <typename Result>
    static std::optional<VellumtideHTTPClientError>
    clientError(const vt::test::TaskOutcome<Result>& outcome) {
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
    const auto outcome = get("/pair", answerTime, {{"X-Vellumtide-Pair-Code", "123456"}});
    ASSERT_TRUE(outcome.finished);
    ASSERT_FALSE(outcome.error) << vt::test::errorText(outcome.error);
    EXPECT_EQ(*outcome.value, "0123456789");
    ASSERT_EQ(phone.requests().size(), 1u);
    EXPECT_EQ(phone.requests()[0].raw,
              "GET /pair HTTP/1.1\r\nHost: vellumtide-bridge.local\r\nConnection: close\r\n"
              "X-Vellumtide-Pair-Code: 123456\r\n\r\n");
    // A host name is looked up first (here the loopback name).
    const auto named = runTask<std::string>([&] {
        return client.get("/pair", VellumtideEndpoint::hostPort("localhost", phone.port()), answerTime);
    });
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
        // The status line is read by its fields: the code is the second one, and a success holds
        // " 200 " with both spaces; the version is HTTP/1.x.
        {"HTTP/1.1 200\r\n\r\nbody", {}, C::httpStatus, "HTTP/1.1 200"},
        {"HTTP/TP/1.1 200 OK\r\n\r\nbody", {}, C::httpStatus, "HTTP/TP/1.1 200 OK"},
        {"HTTP/1.1 404 x 200 y\r\n\r\nbody", {}, C::httpStatus, "HTTP/1.1 404 x 200 y"},
        {"HTTP/1.1 2000 OK\r\n\r\nbody", {}, C::httpStatus, "HTTP/1.1 2000 OK"},
        {"XHTTP/1.1 200 OK\r\n\r\nbody", {}, C::httpStatus, "XHTTP/1.1 200 OK"},
        {"HTTP/1.1 401\r\n\r\n", {}, C::httpStatus, "HTTP/1.1 401"},
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

    // The time-out grows with the announced body (here one second per 1000 bytes), so a long
    // body over a slow link completes; a trickle fails within a window (here 1 s), whatever it
    // announced (here 30 s more): well before that.
    client.setPace({.bytesPerExtraSecond = 1000, .window = 1s, .minimumBytesPerWindow = 200});
    FakeReply slow = FakeReply::ok(std::string(3000, 'x'));
    slow.chunkSize = 100;
    slow.pauseBetweenChunks = 20ms;
    phone.setReply("/samples/a.m4a", slow);
    watch.restart();
    outcome = get("/samples/a.m4a", 0.3);
    ASSERT_FALSE(outcome.error) << vt::test::errorText(outcome.error);
    EXPECT_GE(watch.elapsed(), 300);
    EXPECT_EQ(outcome.value->size(), 3000u);
    FakeReply trickle = FakeReply::ok(std::string(30000, 'x'));
    trickle.chunkSize = 10;
    trickle.pauseBetweenChunks = 90ms;
    for (const char* path : {"/samples/a.m4a", "/library.json"}) {
        phone.setReply(path, trickle);
        watch.restart();
        outcome = get(path, 0.3);
        ASSERT_TRUE(clientError(outcome).has_value()) << path;
        EXPECT_EQ(clientError(outcome)->errorCase(), VellumtideHTTPClientError::Case::timedOut);
        EXPECT_LT(watch.elapsed(), 15000) << path;
    }
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
    vt::test::turnLoopUntil([&] { return outcomes > 0; }, vt::test::patience);
    vt::test::turnLoopUntil([&] { return false; }, 200ms); // the reply arrives and is dropped
    EXPECT_EQ(outcomes, 1);
    EXPECT_EQ(seen, VellumtideHTTPClientError::timedOut().what());

    // Reply first: the later time-out changes nothing.
    phone.setReply("/health", FakeReply::ok("fast"));
    vt::spawn([&]() -> QCoro::Task<> {
        seen = co_await virtualClient.get("/health", phone.endpoint(), 1.0);
        ++outcomes;
    });
    vt::test::turnLoopUntil([&] { return outcomes > 1; }, vt::test::patience);
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
        outcome = get("/library.json", answerTime, {{"X-Vellumtide-Token", value}});
        ASSERT_TRUE(outcome.error);
        EXPECT_THROW(std::rethrow_exception(outcome.error), VellumtideHeaderValueError);
    }
    outcome = get("/library.json\r\nX: y");
    EXPECT_THROW(std::rethrow_exception(outcome.error), VellumtideHeaderValueError);
    EXPECT_EQ(phone.connectionCount(), 1u);
}

TEST_F(HTTPClientTest, StatusCodesAreReadByTheirFields) {
    using C = VellumtideHTTPClient;
    EXPECT_EQ(C::statusCode("HTTP/1.1 200 OK"), 200);
    EXPECT_EQ(C::statusCode("HTTP/1.0 200"), 200);
    EXPECT_EQ(C::statusCode("HTTP/1.1 401"), 401);
    EXPECT_EQ(C::statusCode("HTTP/1.1 404 x 200 y"), 404);
    for (const char* line :
         {"", "HTTP/1.1", "HTTP/1.1 20", "HTTP/1.1 2000", "HTTP/1.1 20x OK", "HTTP/1.1  200 OK",
          "HTTP 200 OK", "ICY 200 OK", "HTTP/TP/1.1 200 OK", "HTTP/2.0 200 OK", "HTTP/1.10 200 OK"})
        EXPECT_EQ(C::statusCode(line), std::nullopt) << line;

    // A rejected token is told by its code, also without a reason phrase.
    auto rejected = [](std::string_view line) {
        return isUnauthorized(std::make_exception_ptr(VellumtideHTTPClientError::httpStatus(line)));
    };
    EXPECT_TRUE(rejected("HTTP/1.1 401"));
    EXPECT_TRUE(rejected("HTTP/1.1 401 Unauthorized"));
    EXPECT_FALSE(rejected("HTTP/1.1 403 401 "));
    EXPECT_FALSE(rejected("HTTP/1.1 4010"));
}

// A hostile phone: whatever it claims or sends, the client holds no more than what arrived
// (plus a modest first reserve), keeps its texts short, and fails the call rather than the
// program when memory runs out.
TEST_F(HTTPClientTest, APhonesClaimsNeverSizeTheClientsMemory) {
    using C = VellumtideHTTPClientError::Case;
    // An announced length of 4 GiB with a short body.
    phone.setReply("/samples/huge.wav",
                   FakeReply::raw("HTTP/1.1 200 OK\r\nContent-Length: 4294967295\r\n\r\n0123456789"));
    {
        vt::test::AllocationProbe probe;
        const auto outcome = get("/samples/huge.wav");
        ASSERT_TRUE(clientError(outcome));
        EXPECT_EQ(clientError(outcome)->errorCase(), C::invalidResponse);
        EXPECT_LE(probe.largest(), 2u << 20);
    }

    // A list within its bounds is read a record at a time as it arrives: its text is never held
    // whole, so no request comes near the list's size.
    std::vector<SampleItem> takes(3000);
    for (std::size_t i = 0; i < takes.size(); ++i) {
        takes[i].id = vt::Uuid::random();
        takes[i].title = "Take " + std::to_string(i);
        takes[i].fileName = "take-" + std::to_string(i) + ".m4a";
        takes[i].peaks = std::vector<float>(300, 0.123456f);
    }
    vt::json::Json listed = vt::json::Json::array();
    for (const auto& take : takes)
        listed.push_back(take.toJson(DateForm::iso8601));
    const std::string listText = vt::json::dump(listed, 2);
    ASSERT_GT(listText.size(), 8u << 20);
    {
        vt::test::AllocationProbe probe;
        PhoneLibraryList list;
        for (std::size_t at = 0; at < listText.size(); at += 64u << 10)
            list.write(std::string_view(listText).substr(at, 64u << 10));
        EXPECT_EQ(list.decode(), takes);
        EXPECT_LE(probe.largest(), listText.size() / 4);
    }

    // A header line without end: cut off at 64 KiB.
    FakeReply endless = FakeReply::raw("HTTP/1.1 200 OK\r\nX-Padding: ");
    endless.generatedBodyBytes = 4u << 20;
    endless.chunkSize = 16u << 10;
    phone.setReply("/library.json", endless);
    {
        vt::test::AllocationProbe probe;
        const auto outcome = get("/library.json");
        ASSERT_TRUE(clientError(outcome));
        EXPECT_EQ(clientError(outcome)->errorCase(), C::invalidResponse);
        EXPECT_LE(probe.largest(), 512u << 10);
    }

    // A sample list of empty records by the million is refused as it arrives, never held whole.
    FakeReply flood = FakeReply::raw("HTTP/1.1 200 OK\r\n\r\n[");
    flood.generatedUnit = "{},";
    flood.generatedBodyBytes = 250u << 20;
    phone.setReply("/library.json", flood);
    {
        vt::test::AllocationProbe probe;
        auto list = std::make_shared<PhoneLibraryList>();
        const auto received = runTask<std::uint64_t>(
            [&] { return client.receive("/library.json", phone.endpoint(), answerTime, {}, list); });
        ASSERT_TRUE(received.finished);
        EXPECT_NE(vt::test::errorText(received.error).find("The iPhone's library list was not taken"),
                  std::string::npos)
            << vt::test::errorText(received.error);
        EXPECT_LE(probe.largest(), 32u << 20);
    }
    // A list announced over the size cap is refused before its body, in the cap's own unit.
    phone.setReply("/library.json", FakeReply::raw("HTTP/1.1 200 OK\r\nContent-Length: 200000000\r\n\r\n[]"));
    const auto announced = runTask<std::uint64_t>([&] {
        return client.receive("/library.json", phone.endpoint(), 2.0, {},
                              std::make_shared<PhoneLibraryList>());
    });
    EXPECT_EQ(vt::test::errorText(announced.error),
              "The iPhone's library list was not taken: it is larger than 160 MiB.");

    // A long status line is cut to 200 characters in every text.
    const std::string longLine = "HTTP/1.1 404 " + std::string(60000, 'x');
    phone.setReply("/health", FakeReply::raw(longLine + "\r\n\r\n"));
    auto outcome = get("/health");
    ASSERT_TRUE(clientError(outcome));
    EXPECT_EQ(clientError(outcome)->statusCode(), 404);
    EXPECT_EQ(clientError(outcome)->statusLine(), longLine.substr(0, 200) + "…");
    EXPECT_LT(std::string(clientError(outcome)->what()).size(), 260u);
    // Cut by characters, never inside one.
    const std::string accented = "HTTP/1.1 500 " + [] {
        std::string text;
        for (int i = 0; i < 300; ++i)
            text += "é";
        return text;
    }();
    EXPECT_EQ(QString::fromStdString(VellumtideHTTPClientError::httpStatus(accented).statusLine()).size(),
              201);

    // Memory runs out while a download arrives: the call fails with a clear text.
    FakeReply large = FakeReply::raw("HTTP/1.1 200 OK\r\n\r\n");
    large.generatedBodyBytes = 24u << 20;
    phone.setReply("/samples/large.wav", large);
    {
        vt::test::AllocationProbe probe(8u << 20);
        outcome = get("/samples/large.wav", answerTime);
        EXPECT_GE(probe.refused(), 1u);
    }
    ASSERT_TRUE(outcome.finished);
    ASSERT_TRUE(clientError(outcome)) << vt::test::errorText(outcome.error);
    EXPECT_EQ(clientError(outcome)->errorCase(), C::outOfMemory);
    EXPECT_STREQ(clientError(outcome)->what(),
                 "The iPhone's reply could not be received: there is not enough memory for it.");
    // Decoding a reply that does not fit in memory tells the same, not "std::bad_alloc".
    EXPECT_EQ(PhoneLink::failureText(std::make_exception_ptr(std::bad_alloc())),
              clientError(outcome)->what());
}

// MARK: Downloads streamed to a file

// The names in a folder, hidden ones included, sorted.
std::vector<std::string> entryNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string fileText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// True when the file holds exactly size bytes of the fake phone's generated pattern.
bool holdsGeneratedBytes(const fs::path& path, std::uint64_t size) {
    std::ifstream file(path, std::ios::binary);
    std::string piece(1 << 16, '\0');
    std::uint64_t offset = 0;
    while (file.read(piece.data(), static_cast<std::streamsize>(piece.size())) || file.gcount() > 0) {
        for (std::streamsize i = 0; i < file.gcount(); ++i, ++offset)
            if (piece[static_cast<std::size_t>(i)] != FakeReply::generatedByte(offset))
                return false;
    }
    return offset == size;
}

// A 200 reply whose generated body of size bytes goes out in pieces.
FakeReply generatedReply(std::uint64_t size, std::optional<std::uint64_t> announced) {
    FakeReply reply = FakeReply::raw(
        "HTTP/1.1 200 OK\r\n" +
        (announced ? "Content-Length: " + std::to_string(*announced) + "\r\n" : std::string()) + "\r\n");
    reply.generatedBodyBytes = size;
    return reply;
}

TEST_F(HTTPClientTest, DownloadStreamsTheServedBytesIntoItsFile) {
    vt::test::TemporaryFolder folder;
    // Pieces of every size, some larger than one read; an older file of the name is replaced.
    constexpr std::uint64_t size = 3'000'017;
    FakeReply pieces = generatedReply(size, size);
    pieces.chunkSize = 70'001;
    pieces.pauseBetweenChunks = 100us;
    phone.setReply("/samples/take.wav", pieces);
    vt::test::writeFile(folder / "take.wav", "an older, shorter take");
    auto outcome = download("/samples/take.wav", folder / "take.wav");
    ASSERT_FALSE(outcome.error) << vt::test::errorText(outcome.error);
    EXPECT_EQ(*outcome.value, size);
    EXPECT_TRUE(holdsGeneratedBytes(folder / "take.wav", size));
    EXPECT_EQ(entryNames(folder.path()), std::vector<std::string>{"take.wav"});
    ASSERT_EQ(phone.requests().size(), 1u);
    EXPECT_EQ(phone.requests()[0].header("X-Vellumtide-Token"), "token-1");

    // An empty body is an empty file; a body without a length runs to the end of the stream.
    phone.setReply("/samples/empty.wav", FakeReply::ok(""));
    outcome = download("/samples/empty.wav", folder / "empty.wav");
    ASSERT_FALSE(outcome.error) << vt::test::errorText(outcome.error);
    EXPECT_EQ(fs::file_size(folder / "empty.wav"), 0u);
    phone.setReply("/samples/open.wav", generatedReply(100'000, std::nullopt));
    outcome = download("/samples/open.wav", folder / "open.wav");
    ASSERT_FALSE(outcome.error) << vt::test::errorText(outcome.error);
    EXPECT_TRUE(holdsGeneratedBytes(folder / "open.wav", 100'000));
    EXPECT_EQ(entryNames(folder.path()), (std::vector<std::string>{"empty.wav", "open.wav", "take.wav"}));
}

// All or nothing: whatever ends a download early, the file stays as it was (here: absent, or an
// older take) and no temporary is left; the texts are those of the same reply read into memory.
TEST_F(HTTPClientTest, AFailedDownloadLeavesNoFileAndNoTemporary) {
    using C = VellumtideHTTPClientError::Case;
    client.setReplyCaps({.audio = 1u << 20});
    FakeReply shortBody = generatedReply(5'000, 100'000); // the phone closes early
    FakeReply overCap = generatedReply(3u << 20, std::nullopt);
    FakeReply stalls = generatedReply(20'000, 20'000); // silent mid-body for longer than the time-out
    stalls.chunkSize = 10'000;
    stalls.pauseBetweenChunks = 700ms;
    FakeReply reset = generatedReply(100'000, 100'000);
    reset.resetAfterBytes = 40'000;
    const std::vector<std::tuple<std::string, FakeReply, std::optional<C>, double>> cases = {
        {"short body", shortBody, C::invalidResponse, answerTime},
        {"over the cap", overCap, C::invalidResponse, answerTime},
        {"time-out mid-body", stalls, C::timedOut, 0.3},
        {"reset mid-body", reset, std::nullopt, answerTime},
        {"rejected token", FakeReply::status("HTTP/1.1 401 Unauthorized", "no"), C::httpStatus, answerTime},
    };
    for (const bool olderTake : {false, true}) {
        for (const auto& [name, reply, errorCase, timeout] : cases) {
            SCOPED_TRACE(name + (olderTake ? " over an older take" : ""));
            vt::test::TemporaryFolder folder;
            if (olderTake)
                vt::test::writeFile(folder / "take.wav", "older take");
            phone.setReply("/samples/take.wav", reply);
            const auto outcome = download("/samples/take.wav", folder / "take.wav", timeout);
            ASSERT_TRUE(outcome.finished);
            ASSERT_TRUE(outcome.error);
            EXPECT_EQ(clientError(outcome) ? std::optional(clientError(outcome)->errorCase()) : std::nullopt,
                      errorCase);
            EXPECT_EQ(vt::test::errorText(outcome.error),
                      vt::test::errorText(get("/samples/take.wav", timeout).error));
            if (olderTake) {
                EXPECT_EQ(entryNames(folder.path()), std::vector<std::string>{"take.wav"});
                EXPECT_EQ(fileText(folder / "take.wav"), "older take");
            } else {
                EXPECT_TRUE(entryNames(folder.path()).empty());
            }
        }
    }
}

// Counts a body's bytes as they arrive, and notes the length the header announced.
struct CountingSink final : VellumtideBodySink {
    void announce(std::uint64_t length) override { announced = length; }
    void write(std::string_view bytes) override { count += bytes.size(); }
    void discard() noexcept override {}
    std::uint64_t count = 0;
    std::optional<std::uint64_t> announced;
};

// The call's outcome, and the virtual time by then (or at giveUp), when the body takes as long as
// it would over a link of the given rate: the phone sends in quick pieces, and the client's clock
// moves on by each piece's time on that link once it has arrived.
std::pair<Downloaded, std::chrono::nanoseconds> receiveOverLink(const FakePhone& phone,
                                                                const std::string& path,
                                                                double bytesPerSecond,
                                                                std::chrono::nanoseconds giveUp) {
    vt::VirtualScheduler linkTime;
    auto outcome = std::make_shared<Downloaded>();
    auto sink = std::make_shared<CountingSink>();
    std::chrono::nanoseconds ended{};
    {
        VellumtideHTTPClient linkClient(linkTime);
        vt::spawn([&linkClient, &phone, path, sink, outcome]() -> QCoro::Task<> {
            try {
                outcome->value = co_await linkClient.receive(path, phone.endpoint(), 8.0, {}, sink);
            } catch (...) {
                outcome->error = std::current_exception();
            }
            outcome->finished = true;
        });
        for (std::uint64_t credited = 0; !outcome->finished && linkTime.now() < giveUp;) {
            vt::test::turnLoopUntil([&] { return outcome->finished || sink->count > credited; }, 2s);
            const std::uint64_t fresh = sink->count - credited;
            credited = sink->count;
            linkTime.advanceBy(fresh > 0
                                   ? vt::secondsToNanoseconds(static_cast<double>(fresh) / bytesPerSecond)
                                   : std::chrono::nanoseconds(100ms));
        }
        ended = linkTime.now();
    }
    vt::test::turnLoopUntil([&] { return outcome->finished; }, 5s);
    return {*outcome, ended};
}

// With the client's own pace: a phone that announces 4 GiB and drips 1 KiB every 1.5 s is given
// up within a window of its header, while a body over a slow but real link of 100 KiB/s, which
// takes far longer than the time-out, completes.
TEST_F(HTTPClientTest, ADripEndsWithinAWindowWhileASlowLinkCompletes) {
    using C = VellumtideHTTPClientError::Case;
    FakeReply drip = generatedReply(4ull << 30, 4ull << 30);
    drip.chunkSize = 1024;
    drip.pauseBetweenChunks = 2ms;
    phone.setReply("/samples/drip.wav", drip);
    const auto [dripped, givenUpAt] = receiveOverLink(phone, "/samples/drip.wav", 1024 / 1.5, 60s);
    ASSERT_TRUE(dripped.finished);
    ASSERT_TRUE(clientError(dripped)) << vt::test::errorText(dripped.error);
    EXPECT_EQ(clientError(dripped)->errorCase(), C::timedOut);
    EXPECT_LE(givenUpAt, 30s);

    constexpr std::uint64_t size = 3u << 20;
    FakeReply steady = generatedReply(size, size);
    steady.chunkSize = 16u << 10;
    steady.pauseBetweenChunks = 1ms;
    phone.setReply("/samples/slow.wav", steady);
    const auto [completed, completedAt] = receiveOverLink(phone, "/samples/slow.wav", 100 * 1024, 120s);
    ASSERT_TRUE(completed.finished);
    ASSERT_FALSE(completed.error) << vt::test::errorText(completed.error);
    EXPECT_EQ(*completed.value, size);
    EXPECT_GE(completedAt, 25s);
}

// A header that announces 10 MB and then nothing, the connection kept open: the health checks
// and the pairing requests end at their own time-outs, where a time-out sized by the body would
// wait 152 s more; the list's time-out still grows with what is announced. The pace window is
// made long here, so only the deadline can end a call within the time the virtual clock runs.
TEST_F(HTTPClientTest, HealthAndPairingEndAtTheirOwnTimeOutsWhateverTheHeaderAnnounces) {
    FakeReply silent = FakeReply::raw("HTTP/1.1 200 OK\r\nContent-Length: 10000000\r\n\r\n");
    silent.keepOpen = true;
    constexpr auto margin = 1s;
    const std::vector<std::tuple<std::string, double, bool>> cases = {
        {"/health", 0.45, true},
        {"/health", 1.2, true},
        {"/pairing/request", 1.5, true},
        {"/pairing/forget", 1.5, true},
        {"/pair", 8.0, true},
        {"/library.json", 0.45, false},
        {"/samples/take.wav", 0.45, false},
    };
    for (const auto& [path, timeout, endsAtTimeout] : cases) {
        SCOPED_TRACE(testing::Message() << path << " with " << timeout << " s");
        phone.setReply(path, silent);
        vt::VirtualScheduler virtualTime;
        VellumtideHTTPClient virtualClient(virtualTime);
        virtualClient.setPace({.window = 600s});
        auto outcome = std::make_shared<Downloaded>();
        auto sink = std::make_shared<CountingSink>();
        vt::spawn([&virtualClient, this, path, timeout, sink, outcome]() -> QCoro::Task<> {
            try {
                outcome->value = co_await virtualClient.receive(path, phone.endpoint(), timeout, {}, sink);
            } catch (...) {
                outcome->error = std::current_exception();
            }
            outcome->finished = true;
        });
        ASSERT_TRUE(vt::test::turnLoopUntil([&] { return sink->announced.has_value(); }, vt::test::patience));
        EXPECT_EQ(*sink->announced, 10'000'000u);
        virtualTime.advanceBy(vt::secondsToNanoseconds(timeout) + margin);
        // The time-out fires inside advanceBy: the caller resumes at once.
        vt::test::turnLoopUntil([&] { return outcome->finished; }, endsAtTimeout ? 5s : 100ms);
        ASSERT_EQ(outcome->finished, endsAtTimeout);
        if (endsAtTimeout) {
            ASSERT_TRUE(clientError(*outcome)) << vt::test::errorText(outcome->error);
            EXPECT_EQ(clientError(*outcome)->errorCase(), VellumtideHTTPClientError::Case::timedOut);
        }
    }
}

TEST_F(HTTPClientTest, ADownloadThatCannotBeStoredOrIsCancelledLeavesNothing) {
    vt::test::TemporaryFolder folder;
    phone.setReply("/samples/take.wav", generatedReply(3u << 20, 3u << 20));

    // A folder that cannot hold the file: refused before the phone is asked.
    auto outcome = download("/samples/take.wav", folder / "missing" / "take.wav");
    EXPECT_THROW(std::rethrow_exception(outcome.error), fs::filesystem_error);
    EXPECT_EQ(phone.connectionCount(), 0u);

    // A write that fails mid-body (the file may not grow past 1 MiB, as on a full disk).
    {
        vt::test::FileSizeLimit limit(1u << 20);
        outcome = download("/samples/take.wav", folder / "take.wav");
    }
    try {
        std::rethrow_exception(outcome.error);
    } catch (const fs::filesystem_error& error) {
        EXPECT_EQ(error.code(), std::errc::file_too_large);
    } catch (...) {
        ADD_FAILURE() << "unexpected error " << vt::test::errorText(outcome.error);
    }
    EXPECT_TRUE(entryNames(folder.path()).empty());

    // The client goes away mid-body (its owner is gone): the connection is cancelled.
    FakeReply slow = generatedReply(400'000, 400'000);
    slow.chunkSize = 100'000;
    slow.pauseBetweenChunks = 50ms;
    phone.setReply("/samples/slow.wav", slow);
    auto owned = std::make_unique<VellumtideHTTPClient>(scheduler);
    auto cancelled = std::make_shared<Downloaded>();
    vt::spawn([&, cancelled]() -> QCoro::Task<> {
        try {
            cancelled->value = co_await owned->download("/samples/slow.wav", phone.endpoint(), answerTime, {},
                                                        folder / "slow.wav");
        } catch (...) {
            cancelled->error = std::current_exception();
        }
        cancelled->finished = true;
    });
    const fs::path temporaries = vt::temporaryFolderOf(folder.path());
    ASSERT_TRUE(vt::test::turnLoopUntil(
        [&] {
            const auto names =
                fs::is_directory(temporaries) ? entryNames(temporaries) : std::vector<std::string>();
            return names.size() == 1 && fs::file_size(temporaries / names[0]) > 0;
        },
        vt::test::patience));
    EXPECT_EQ(entryNames(folder.path()), std::vector<std::string>{std::string(vt::temporaryFolderName)});
    owned.reset();
    ASSERT_TRUE(vt::test::turnLoopUntil([&] { return cancelled->finished; }, vt::test::patience));
    ASSERT_TRUE(clientError(*cancelled));
    EXPECT_EQ(clientError(*cancelled)->errorCase(), VellumtideHTTPClientError::Case::connectionCancelled);
    EXPECT_STREQ(clientError(*cancelled)->what(), "The connection was cancelled.");
    EXPECT_TRUE(entryNames(folder.path()).empty());
}

// The resident set's current size or peak ("VmRSS" or "VmHWM"), in KiB.
long residentKiB(const std::string& key) {
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word)
        if (word == key + ":") {
            long kib = 0;
            status >> kib;
            return kib;
        }
    return 0;
}

// A body far larger than any buffer goes through in pieces: no allocation near its size, and the
// resident set grows by a small part of it.
TEST_F(HTTPClientTest, ALargeDownloadHoldsLittleInMemory) {
    vt::test::TemporaryFolder folder;
    constexpr std::uint64_t size = 64ull << 20;
    phone.setGeneratedFile("large.wav", size);
    // Writing "5" resets the peak; where that is refused, only the allocations are checked.
    std::ofstream clearRefs("/proc/self/clear_refs");
    const bool peakReset = static_cast<bool>(clearRefs << "5" << std::flush);
    const long before = residentKiB("VmRSS");
    Downloaded outcome;
    std::size_t largest = 0;
    {
        vt::test::AllocationProbe probe;
        outcome = download("/samples/large.wav", folder / "large.wav", answerTime);
        largest = probe.largest();
    }
    const long growthKiB = residentKiB("VmHWM") - before;
    ASSERT_FALSE(outcome.error) << vt::test::errorText(outcome.error);
    EXPECT_TRUE(holdsGeneratedBytes(folder / "large.wav", size));
    EXPECT_LE(largest, 4u << 20) << "the fake phone's pieces are 1 MiB; the body is never held whole";
    if (peakReset) {
        EXPECT_LT(growthKiB, 24 * 1024) << "resident set grew by " << growthKiB << " KiB";
    }
}

} // namespace

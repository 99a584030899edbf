// Downloads one sample from a phone into a file, the way the sync stores each sample: the body
// streams into a temporary beside the file, which is flushed to disk and renamed onto it. A
// process of its own, so the benchmark can time it like the command-line peers it is held to.
//
//   phonelink_fetch HOST PORT PATH TOKEN DESTINATION
//
// Exits 0 once the file is in place, 1 with the error on standard error otherwise.

#include "Platform/Async/Scheduler.h"
#include "Platform/Async/Spawn.h"
#include "VellumtideBridge/Sources/PhoneLink/VellumtideHTTPClient.h"

#include <QCoreApplication>
#include <cstdio>
#include <exception>
#include <string>

namespace {

constexpr double requestTimeout = 8.0; // the sync's own

QCoro::Task<> fetch(VellumtideHTTPClient& client, VellumtideEndpoint phone, std::string path,
                    std::string token, std::filesystem::path destination, int& exitCode) {
    VellumtideHTTPClient::Headers headers;
    headers.emplace("X-Vellumtide-Token", std::move(token));
    try {
        co_await client.download(std::move(path), std::move(phone), requestTimeout, std::move(headers),
                                 std::move(destination));
        exitCode = 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "phonelink_fetch: %s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "phonelink_fetch: the download failed\n");
    }
    QCoreApplication::quit();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: phonelink_fetch HOST PORT PATH TOKEN DESTINATION\n");
        return 2;
    }
    QCoreApplication application(argc, argv);
    vt::QtScheduler scheduler;
    VellumtideHTTPClient client(scheduler);
    const auto phone = VellumtideEndpoint::hostPort(argv[1], static_cast<std::uint16_t>(std::stoi(argv[2])));
    int exitCode = 1;
    vt::spawn([&]() -> QCoro::Task<> { return fetch(client, phone, argv[3], argv[4], argv[5], exitCode); });
    QCoreApplication::exec();
    return exitCode;
}

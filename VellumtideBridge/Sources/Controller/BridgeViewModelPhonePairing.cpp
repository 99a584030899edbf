// Pairing with a phone: the prompt behind the pairing sheet, the six-digit code exchange that
// earns a token, cancelling, unlinking, and the "Paste" of the typed-address field. Requests
// that only inform the phone (show, hide, unlink) run on their own and their outcome is ignored.

#include "Platform/Async/Spawn.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"
#include "VellumtideBridge/Sources/PhoneLink/PhoneLinkTexts.h"

#include <QPointer>

namespace {

constexpr double informingTimeout = 1.5;

// Sends one GET whose reply and errors nobody waits for.
// The client belongs to the controller: it is used only while the controller lives.
void informPhone(QPointer<BridgeViewModel> self, VellumtideHTTPClient& client, VellumtideEndpoint endpoint,
                 std::string path, VellumtideHTTPClient::Headers headers = {}) {
    vt::spawn([self, &client, endpoint, path, headers]() -> QCoro::Task<> {
        if (self)
            co_await client.get(path, endpoint, informingTimeout, headers);
    });
}

// The characters of the typed code that are numeric in any script, in order.
std::u32string numericCharacters(const QString& code) {
    std::u32string digits;
    for (char32_t character : code.toUcs4())
        if (QChar::isNumber(character))
            digits.push_back(character);
    return digits;
}

bool holdsLineBreakOrNul(const std::string& text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos;
}

} // namespace

void BridgeViewModel::promptPairing(const VellumtideDevice& device, const std::string& deviceID,
                                    const std::string& deviceName, SyncMode mode) {
    setStatusMessage("Pair " + deviceName);
    setWatchMessageIfChanged("Enter iPhone pair code");
    const bool sameRequestOpen = pairingRequest_ && pairingRequest_->deviceID == deviceID;
    if (!sameRequestOpen) {
        if (mode == SyncMode::automatic && dismissedPairingIDs.count(deviceID))
            return;
        setPairingRequest(BridgePairingRequest(device, deviceID, deviceName, device.detail));
    }
    informPhone(this, client, device.endpoint, "/pairing/request");
}

void BridgeViewModel::requestPairingCode(const BridgePairingRequest& request) {
    informPhone(this, client, request.device.endpoint, "/pairing/request");
}

QCoro::Task<> BridgeViewModel::pair(BridgePairingRequest request, QString code) {
    const std::u32string numeric = numericCharacters(code);
    if (numeric.size() != 6) {
        setStatusMessage("Enter the 6-digit iPhone code");
        setErrorMessage("Open Vellumtide on the iPhone and enter the PAIR code shown while this pairing "
                        "window is open.");
        co_return;
    }
    QPointer<BridgeViewModel> self(this);
    setStatusMessage("Pairing " + request.deviceName);
    const std::string digits = QString::fromUcs4(numeric.data(), 6).toStdString();

    std::optional<VellumtidePhonePairingResponse> response;
    std::exception_ptr failure;
    try {
        VellumtideHTTPClient::Headers headers{{"X-Vellumtide-Pair-Code", digits}};
        const std::string body =
            co_await client.get(std::string("/pair"), request.device.endpoint, 8.0, std::move(headers));
        response = VellumtidePhonePairingResponse::fromJson(vt::json::parse(body));
        // The token goes into a header line of every later request: it must not be able to end it.
        if (holdsLineBreakOrNul(response->token))
            throw VellumtideHTTPClientError::invalidResponse();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        setStatusMessage("Pairing failed");
        setErrorMessage("Could not pair with " + request.deviceName + ": " + PhoneLink::failureText(failure));
        co_return;
    }

    pairingStore.setToken(response->deviceID, response->token);
    dismissedPairingIDs.erase(response->deviceID);
    setPairingRequest(std::nullopt);
    setStatusMessage("Paired " + response->deviceName);
    setWatchMessageIfChanged("Trusted sync on");
    co_await sync(request.device, SyncMode::manual);
}

void BridgeViewModel::cancelPairing() {
    std::optional<VellumtideDevice> device;
    if (pairingRequest_) {
        device = pairingRequest_->device;
        dismissedPairingIDs.insert(pairingRequest_->deviceID);
    }
    setPairingRequest(std::nullopt);
    if (device)
        informPhone(this, client, device->endpoint, "/pairing/cancel");
    setStatusMessage("Pairing cancelled");
    setWatchMessageIfChanged("Pair iPhone to sync");
}

bool BridgeViewModel::isPaired(const VellumtideDevice& device) const {
    const auto pairingID = pairingIDOf(device);
    return pairingID && pairingStore.token(*pairingID).has_value();
}

void BridgeViewModel::forgetPairing(const VellumtideDevice& passed) {
    // A copy: the caller may hand in an element of the list this operation republishes.
    const VellumtideDevice device = passed;
    const auto pairingID = pairingIDOf(device);
    if (!pairingID) {
        setStatusMessage("No saved pairing");
        return;
    }
    const auto token = pairingStore.token(*pairingID);
    pairingStore.removeToken(*pairingID);
    dismissedPairingIDs.erase(*pairingID);
    if (pairingRequest_ && pairingRequest_->deviceID == *pairingID)
        setPairingRequest(std::nullopt);
    setStatusMessage("Unlinked " + device.name);
    setWatchMessageIfChanged("Pair iPhone to sync");
    if (token)
        informPhone(this, client, device.endpoint, "/pairing/forget", {{"X-Vellumtide-Token", *token}});
}

void BridgeViewModel::pasteManualAddress() {
    if (!deps.clipboard)
        return;
    if (auto text = deps.clipboard->text())
        setManualAddress(trimmedText(text->toStdString()));
}

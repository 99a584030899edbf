#pragma once
// The desktop side of pairing: the persistent token store (one token per phone pairing id),
// the open pairing request behind the pairing sheet, and the error a sync throws without token.

#include "Platform/Core/SettingsStore.h"
#include "Platform/Core/Uuid.h"
#include "VellumtideBridge/Sources/Library/VellumtideDevice.h"

#include <QString>
#include <exception>
#include <map>
#include <optional>
#include <string>

// Tokens under one settings key, as a dictionary from pairing id to token.
class BridgePairingStore {
public:
    static constexpr const char* defaultKey = "VellumtideBridge.pairedPhoneTokens";

    explicit BridgePairingStore(vt::SettingsStore& defaults, QString key = QString::fromLatin1(defaultKey));

    // Empty when nothing is stored or the stored value is not a dictionary of strings.
    std::map<std::string, std::string> tokens() const;
    std::optional<std::string> token(const std::string& pairingID) const;
    // Writes the whole dictionary back.
    void storeTokens(const std::map<std::string, std::string>& tokens);
    void setToken(const std::string& pairingID, const std::string& token);
    // Removes one entry and always writes the dictionary back.
    void removeToken(const std::string& pairingID);

private:
    vt::SettingsStore& defaults;
    QString key;
};

// The open pairing request that the pairing sheet shows.
struct BridgePairingRequest {
    vt::Uuid id;
    VellumtideDevice device;
    std::string deviceID;
    std::string deviceName;
    std::string detail;

    // Draws a fresh random id.
    BridgePairingRequest(VellumtideDevice device, std::string deviceID, std::string deviceName,
                         std::string detail);
    bool operator==(const BridgePairingRequest&) const = default;
};

// Thrown by a sync's authorization when no token is stored for the phone.
class BridgePairingRequiredError : public std::exception {
public:
    const char* what() const noexcept override;
};

// The pairing id of a device: its pairingID, else its id without "phone|", else none.
std::optional<std::string> pairingIDOf(const VellumtideDevice& device);

// A rejected token: the client's status error whose status line holds " 401 ".
bool isUnauthorized(std::exception_ptr error);

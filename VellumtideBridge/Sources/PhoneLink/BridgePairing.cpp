#include "VellumtideBridge/Sources/PhoneLink/BridgePairing.h"

#include "VellumtideBridge/Sources/PhoneLink/VellumtideHTTPClient.h"

#include <QVariantMap>

BridgePairingStore::BridgePairingStore(vt::SettingsStore& defaults, QString key)
    : defaults(defaults), key(std::move(key)) {}

std::map<std::string, std::string> BridgePairingStore::tokens() const {
    std::map<std::string, std::string> result;
    const auto stored = defaults.value(key);
    if (!stored || stored->typeId() != QMetaType::QVariantMap)
        return result;
    const QVariantMap map = stored->toMap();
    for (auto it = map.begin(); it != map.end(); ++it) {
        if (it.value().typeId() != QMetaType::QString)
            return {}; // not a dictionary of strings: nothing is paired
        result.emplace(it.key().toStdString(), it.value().toString().toStdString());
    }
    return result;
}

std::optional<std::string> BridgePairingStore::token(const std::string& pairingID) const {
    const auto all = tokens();
    if (auto found = all.find(pairingID); found != all.end())
        return found->second;
    return std::nullopt;
}

void BridgePairingStore::storeTokens(const std::map<std::string, std::string>& tokens) {
    QVariantMap map;
    for (const auto& [id, token] : tokens)
        map.insert(QString::fromStdString(id), QString::fromStdString(token));
    defaults.setValue(key, map);
}

void BridgePairingStore::setToken(const std::string& pairingID, const std::string& token) {
    auto all = tokens();
    all[pairingID] = token;
    storeTokens(all);
}

void BridgePairingStore::removeToken(const std::string& pairingID) {
    auto all = tokens();
    all.erase(pairingID);
    storeTokens(all);
}

BridgePairingRequest::BridgePairingRequest(VellumtideDevice device, std::string deviceID,
                                           std::string deviceName, std::string detail)
    : id(vt::Uuid::random()), device(std::move(device)), deviceID(std::move(deviceID)),
      deviceName(std::move(deviceName)), detail(std::move(detail)) {}

const char* BridgePairingRequiredError::what() const noexcept {
    return "The iPhone is not paired.";
}

std::optional<std::string> pairingIDOf(const VellumtideDevice& device) {
    if (device.pairingID)
        return device.pairingID;
    if (device.id.rfind(VellumtideDevice::phoneIDPrefix, 0) == 0)
        return device.id.substr(VellumtideDevice::phoneIDPrefix.size());
    return std::nullopt;
}

bool isUnauthorized(std::exception_ptr error) {
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const VellumtideHTTPClientError& clientError) {
        return clientError.errorCase() == VellumtideHTTPClientError::Case::httpStatus &&
               clientError.statusCode() == 401;
    } catch (...) {
    }
    return false;
}

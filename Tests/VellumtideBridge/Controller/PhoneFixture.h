#pragma once
// A controller (ControllerTest) with a fake phone on loopback, and the small helpers the
// phone-link tests share: samples the phone offers, its device record, a stored token, and a
// log of every text the controller writes.

#include "Tests/Support/FakePhone/FakePhone.h"
#include "Tests/VellumtideBridge/Controller/ControllerFixture.h"

namespace vt::test {

class PhoneTest : public ControllerTest {
protected:
    static constexpr const char* phoneID = "FAKE-PHONE-1";

    // Adds a sample to the phone's list whose file holds bytes.
    SampleItem offer(const std::string& title, double createdAt, const std::string& bytes = "RIFF-audio",
                     const std::string& fileName = {}) {
        SampleItem sample = makeSample(title, createdAt, fileName);
        sample.byteCount = static_cast<std::int64_t>(bytes.size());
        phone.setFile(sample.fileName, bytes);
        offered.push_back(sample);
        phone.setLibrary(offered);
        return sample;
    }

    // The phone as the browse would list it, but reached by host and port.
    VellumtideDevice device() const {
        return {std::string("phone|") + phoneID, "Studio Phone", phone.endpoint(), "local. via lo", phoneID};
    }

    void trust(const std::string& token = "token-1") {
        BridgePairingStore(*settings).setToken(phoneID, token);
    }

    std::optional<std::string> storedToken(const std::string& id = phoneID) const {
        return BridgePairingStore(*settings).token(id);
    }

    void syncNow(BridgeViewModel::SyncMode mode) { awaitVoid(model->sync(device(), mode)); }

    // From now on, every status and watch text written (in order).
    void logTexts() {
        QObject::connect(model.get(), &BridgeViewModel::changed, model.get(),
                         [this](BridgeViewModel::Field field) {
                             if (field == BridgeViewModel::Field::statusMessage)
                                 statusLog.push_back(model->statusMessage());
                             if (field == BridgeViewModel::Field::watchMessage)
                                 watchLog.push_back(model->watchMessage());
                         });
    }

    bool logged(const std::vector<std::string>& log, const std::string& text) const {
        return std::find(log.begin(), log.end(), text) != log.end();
    }

    std::filesystem::path samplesFolder() const { return libraryRoot() / "Samples"; }

    FakePhone phone;
    std::vector<SampleItem> offered;
    std::vector<std::string> statusLog;
    std::vector<std::string> watchLog;
};

} // namespace vt::test

// The "vellumtide:" URL entry. URLs are read from their raw text: the scheme and the host are
// compared exactly as typed, and a sample id must be the 36-character UUID form.

#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

#include <QByteArray>
#include <QString>

namespace {

std::optional<vt::Uuid> uuidFrom(const QString& text) {
    return vt::Uuid::parse(text.toStdString());
}

QString percentDecoded(QStringView text) {
    return QString::fromUtf8(QByteArray::fromPercentEncoding(text.toUtf8()));
}

// Characters a URL may not hold literally; such text is not a URL at all.
bool holdsIllegalCharacters(const QString& text) {
    for (QChar c : text) {
        ushort u = c.unicode();
        if (u <= 0x20 || u == 0x7f || u > 0x7e || QStringLiteral("\"<>\\^`{|}").contains(c))
            return true;
    }
    return false;
}

struct RawUrl {
    QString scheme;
    std::optional<QString> host;
    QString path;
    std::optional<QString> query;
};

std::optional<RawUrl> splitUrl(const QString& text) {
    qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon <= 0)
        return std::nullopt;
    RawUrl url;
    url.scheme = text.left(colon);
    QString rest = text.mid(colon + 1);
    qsizetype hash = rest.indexOf(QLatin1Char('#'));
    if (hash >= 0)
        rest.truncate(hash);
    qsizetype question = rest.indexOf(QLatin1Char('?'));
    if (question >= 0) {
        url.query = rest.mid(question + 1);
        rest.truncate(question);
    }
    if (rest.startsWith(QLatin1String("//"))) {
        rest.remove(0, 2);
        qsizetype slash = rest.indexOf(QLatin1Char('/'));
        QString authority = slash >= 0 ? rest.left(slash) : rest;
        url.path = slash >= 0 ? rest.mid(slash) : QString();
        qsizetype at = authority.lastIndexOf(QLatin1Char('@'));
        if (at >= 0)
            authority.remove(0, at + 1);
        qsizetype portColon = authority.lastIndexOf(QLatin1Char(':'));
        if (portColon >= 0 && !authority.endsWith(QLatin1Char(']')))
            authority.truncate(portColon);
        url.host = percentDecoded(authority);
    } else {
        url.path = rest;
    }
    return url;
}

} // namespace

std::optional<vt::Uuid> BridgeViewModel::editSampleID(const QString& text) {
    auto url = splitUrl(text);
    if (!url || url->scheme != QLatin1String("vellumtide"))
        return std::nullopt;
    if (holdsIllegalCharacters(text))
        return std::nullopt;
    if (url->query) {
        for (QStringView item : QStringView(*url->query).split(QLatin1Char('&'))) {
            qsizetype equals = item.indexOf(QLatin1Char('='));
            QString name = percentDecoded(equals >= 0 ? item.left(equals) : item);
            if (name != QLatin1String("edit") && name != QLatin1String("sample"))
                continue;
            if (equals >= 0)
                if (auto id = uuidFrom(percentDecoded(item.mid(equals + 1))))
                    return id;
            break; // the first matching item decides; the host and path come next
        }
    }
    if (url->host != QStringLiteral("edit"))
        return std::nullopt;
    for (QStringView component : QStringView(url->path).split(QLatin1Char('/'), Qt::SkipEmptyParts))
        if (auto id = uuidFrom(percentDecoded(component)))
            return id;
    return std::nullopt;
}

void BridgeViewModel::handleOpenURL(const QString& url) {
    startBrowsing();
    setIsWatchModeEnabled(true);
    if (deps.windowActivator)
        deps.windowActivator->activate();
    if (auto id = editSampleID(url))
        openEditor(*id);
}

void BridgeViewModel::openEditor(const vt::Uuid& id) {
    for (const SampleItem& sample : samples_) {
        if (sample.id == id) {
            setEditingSample(sample);
            setStatusMessage("Editing " + sample.title);
            return;
        }
    }
    if (const SampleItem* owner = librarySample(id)) {
        auto shown = displaySamples({*owner});
        SampleItem sample = shown.empty() ? *owner : shown.front();
        setEditingSample(sample);
        setStatusMessage("Editing " + sample.title);
        return;
    }
    setStatusMessage("Sample not found");
    setErrorMessage("That sample is not in the Bridge library yet.");
}

#include "bench/Window/CardListPeer.h"

#include "Platform/UI/Fonts.h"
#include "Platform/UI/Glyphs.h"

#include <QAbstractListModel>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QPainter>
#include <QStyledItemDelegate>
#include <algorithm>

namespace vt::bench {

namespace {

const QColor surface = QColor::fromRgbF(0.075f, 0.08f, 0.092f);
const QColor cyan = QColor::fromRgbF(0.32f, 0.86f, 0.80f);
const QColor amber = QColor::fromRgbF(0.98f, 0.70f, 0.28f);
const QColor danger = QColor::fromRgbF(1.0f, 0.35f, 0.34f);

QColor white(double opacity) {
    return QColor::fromRgbF(1, 1, 1, float(opacity));
}

QColor faded(QColor color, double opacity) {
    color.setAlphaF(float(opacity));
    return color;
}

class CardModel final : public QAbstractListModel {
public:
    explicit CardModel(std::vector<PeerCard> cards) : cards(std::move(cards)) {}

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(cards.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || role != Qt::DisplayRole)
            return {};
        return cards[std::size_t(index.row())].title;
    }
    const PeerCard& card(int row) const { return cards[std::size_t(row)]; }
    void setPlaying(int row, bool playing) {
        cards[std::size_t(row)].isPlaying = playing;
        emit dataChanged(index(row), index(row));
    }

private:
    std::vector<PeerCard> cards;
};

void drawGlyph(QPainter& painter, const QRectF& rect, const char* symbol, double size, const QColor& color) {
    painter.setFont(vt::ui::glyphFont(size));
    painter.setPen(color);
    painter.drawText(rect, Qt::AlignCenter, vt::ui::glyphText(symbol));
}

void drawCapsule(QPainter& painter, const QRectF& rect, const QColor& fill, const QColor& border) {
    painter.setPen(QPen(border, 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), rect.height() / 2, rect.height() / 2);
}

class CardDelegate final : public QStyledItemDelegate {
public:
    explicit CardDelegate(int height) : height(height) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return QSize(option.rect.width(), height);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const PeerCard& card = static_cast<const CardModel*>(index.model())->card(index.row());
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QRectF box = QRectF(option.rect).adjusted(0.5, 0.5, -0.5, -0.5);
        painter->setPen(QPen(card.isEdited ? faded(amber, 0.24) : white(0.06), 1));
        painter->setBrush(surface);
        painter->drawRoundedRect(box, 8, 8);

        const QRectF content = QRectF(option.rect).adjusted(12, 12, -12, -12);
        const QRectF play(content.left(), content.center().y() - 21, 42, 42);
        painter->setPen(Qt::NoPen);
        painter->setBrush(card.isPlaying ? cyan : white(0.08));
        painter->drawEllipse(play);
        drawGlyph(*painter, play, card.isPlaying ? "stop.fill" : "play.fill", 16,
                  card.isPlaying ? QColor(Qt::black) : cyan);

        const double left = play.right() + 12;
        const QRectF column(left, content.top(), content.right() - left, content.height());
        paintTitleLine(*painter, card, QRectF(column.left(), column.top(), column.width(), 24));
        const QRectF wave(column.left(), column.top() + 30, column.width(), 38);
        paintWaveform(*painter, card, wave);
        paintInfoLine(*painter, card, QRectF(column.left(), wave.bottom() + 6, column.width(), 18));
        painter->restore();
    }

private:
    static void paintTitleLine(QPainter& painter, const PeerCard& card, const QRectF& line) {
        double x = line.left();
        drawGlyph(painter, QRectF(x, line.top(), 20, line.height()), card.isFavorite ? "star.fill" : "star",
                  13, card.isFavorite ? amber : white(0.34));
        x += 28;
        drawGlyph(painter, QRectF(x, line.top(), 22, line.height()), "slider.horizontal.3", 13,
                  card.isEdited ? cyan : white(0.34));
        x += 30;
        const QRectF chops(x, line.top(), 86, 24);
        drawCapsule(painter, chops, faded(amber, 0.09), faded(amber, 0.16));
        drawGlyph(painter, QRectF(chops.left() + 8, chops.top(), 12, 24), "scissors", 12, amber);
        painter.setFont(vt::ui::monospacedFont(10, vt::ui::FontWeight::bold));
        painter.drawText(chops.adjusted(24, 0, -6, 0), Qt::AlignVCenter | Qt::AlignLeft,
                         card.chopCount ? QStringLiteral("Chop %1").arg(card.chopCount)
                                        : QStringLiteral("Chop"));
        x += 94;

        const QRectF remove(line.right() - 24, line.top() + 1, 24, 22);
        painter.setPen(Qt::NoPen);
        painter.setBrush(white(0.045));
        painter.drawRoundedRect(remove, 6, 6);
        drawGlyph(painter, remove, "trash", 12, faded(danger, 0.82));
        const QFont dateFont = vt::ui::systemFont(11, vt::ui::FontWeight::medium);
        const double dateWidth = QFontMetricsF(dateFont).horizontalAdvance(card.date);
        painter.setFont(dateFont);
        painter.setPen(white(0.42));
        painter.drawText(QRectF(remove.left() - 8 - dateWidth, line.top(), dateWidth, line.height()),
                         Qt::AlignVCenter | Qt::AlignRight, card.date);

        const QFont titleFont = vt::ui::systemFont(15, vt::ui::FontWeight::semibold);
        const QRectF title(x, line.top(), std::max(0.0, remove.left() - 16 - dateWidth - x), line.height());
        painter.setFont(titleFont);
        painter.setPen(Qt::white);
        painter.drawText(title, Qt::AlignVCenter | Qt::AlignLeft,
                         QFontMetricsF(titleFont).elidedText(card.title, Qt::ElideRight, title.width()));
    }

    static void paintWaveform(QPainter& painter, const PeerCard& card, const QRectF& rect) {
        const std::size_t values = std::max<std::size_t>(card.peaks.size(), 1);
        const std::size_t bars = std::min(values, std::max<std::size_t>(1, std::size_t(rect.width() / 3)));
        const std::size_t stride = std::max<std::size_t>(1, values / bars);
        const double width = std::max(rect.width() / double(bars) * 0.58, 1.5);
        painter.setPen(Qt::NoPen);
        painter.setBrush(white(0.22));
        for (std::size_t bar = 0; bar < bars; ++bar) {
            const std::size_t at = std::min(bar * stride, values - 1);
            const double value = card.peaks.empty() ? 0.0 : std::clamp(double(card.peaks[at]), 0.04, 1.0);
            const double barHeight = std::max(rect.height() * value, 2.0);
            const QRectF shape(rect.left() + rect.width() * double(bar) / double(bars),
                               rect.top() + (rect.height() - barHeight) / 2, width, barHeight);
            painter.drawRoundedRect(shape, width / 2, width / 2);
        }
    }

    static void paintInfoLine(QPainter& painter, const PeerCard& card, const QRectF& line) {
        const QFont infoFont = vt::ui::monospacedFont(11, vt::ui::FontWeight::medium);
        const QString info = card.isPlaying ? QStringLiteral("0.0s / 1.0s") : card.info;
        const double infoWidth = QFontMetricsF(infoFont).horizontalAdvance(info);
        painter.setFont(infoFont);
        painter.setPen(white(0.46));
        painter.drawText(QRectF(line.left(), line.top(), infoWidth + 1, line.height()),
                         Qt::AlignVCenter | Qt::AlignLeft, info);
        const QFont badgeFont = vt::ui::monospacedFont(9, vt::ui::FontWeight::bold);
        double x = line.left() + infoWidth + 8;
        for (const QString& badge : card.badges) {
            const double width = QFontMetricsF(badgeFont).horizontalAdvance(badge) + 14 + 13;
            const QRectF capsule(x, line.top() + 1, width, 16);
            drawCapsule(painter, capsule, faded(cyan, 0.11), faded(cyan, 0.26));
            drawGlyph(painter, QRectF(capsule.left() + 7, capsule.top(), 9, 16), "metronome", 9, cyan);
            painter.setFont(badgeFont);
            painter.drawText(capsule.adjusted(20, 0, -7, 0), Qt::AlignVCenter | Qt::AlignLeft, badge);
            x = capsule.right() + 8;
        }
        drawGlyph(painter, QRectF(line.right() - 14, line.top(), 14, line.height()),
                  card.isPlaying ? "speaker.wave.2.fill" : "waveform", 11,
                  card.isPlaying ? cyan : white(0.26));
    }

    int height;
};

QJsonDocument readJson(const std::filesystem::path& file) {
    QFile in(QString::fromStdString(file.string()));
    if (!in.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(in.readAll());
}

QStringList badgesOf(const QJsonObject& analysis, int chopCount) {
    QStringList badges;
    if (chopCount > 0)
        badges << QStringLiteral("%1 CHOPS").arg(chopCount);
    if (analysis.contains(QLatin1String("bpm")) &&
        analysis.value(QLatin1String("bpmConfidence")).toDouble() >= 0.42)
        badges << QStringLiteral("%1 BPM").arg(qRound(analysis.value(QLatin1String("bpm")).toDouble()));
    if (analysis.contains(QLatin1String("rootNote")) &&
        analysis.value(QLatin1String("rootConfidence")).toDouble() >= 0.43)
        badges << QStringLiteral("Root ") + analysis.value(QLatin1String("rootNote")).toString();
    if (analysis.contains(QLatin1String("musicalKey")) &&
        analysis.value(QLatin1String("keyConfidence")).toDouble() >= 0.5)
        badges << QStringLiteral("Key ") + analysis.value(QLatin1String("musicalKey")).toString();
    return badges;
}

PeerCard cardOf(const QJsonObject& sample, const QJsonObject& extra, const QLocale& locale) {
    PeerCard card;
    card.title =
        extra.value(QLatin1String("titleOverride")).toString(sample.value(QLatin1String("title")).toString());
    card.date = locale.toString(
        QDateTime::fromString(sample.value(QLatin1String("createdAt")).toString(), Qt::ISODate),
        QLocale::ShortFormat);
    card.info = QStringLiteral("%1s · %2 kHz · %3 ch")
                    .arg(sample.value(QLatin1String("duration")).toDouble(), 0, 'f', 1)
                    .arg(sample.value(QLatin1String("sampleRate")).toDouble() / 1000, 0, 'f', 1)
                    .arg(sample.value(QLatin1String("channelCount")).toInt());
    const QJsonArray peaks = sample.value(QLatin1String("peaks")).toArray();
    card.peaks.reserve(std::size_t(peaks.size()));
    for (const QJsonValue& peak : peaks)
        card.peaks.push_back(float(peak.toDouble()));
    card.chopCount = int(extra.value(QLatin1String("chops")).toArray().size());
    card.isFavorite = extra.value(QLatin1String("favoriteOverride"))
                          .toBool(sample.value(QLatin1String("isFavorite")).toBool() ||
                                  extra.value(QLatin1String("isFavorite")).toBool());
    card.isEdited = extra.contains(QLatin1String("edit"));
    card.badges = badgesOf(extra.value(QLatin1String("analysis")).toObject(), card.chopCount);
    return card;
}

} // namespace

std::vector<PeerCard> readPeerCards(const std::filesystem::path& folder) {
    const QJsonArray manifest = readJson(folder / "library.json").array();
    const QJsonObject metadata = readJson(folder / "bridge-metadata.json").object();
    const QLocale locale;
    std::vector<PeerCard> cards;
    cards.reserve(std::size_t(manifest.size()));
    for (const QJsonValue& sample : manifest) {
        const QJsonObject object = sample.toObject();
        const QJsonObject extra = metadata.value(object.value(QLatin1String("id")).toString()).toObject();
        if (!extra.value(QLatin1String("isDeleted")).toBool())
            cards.push_back(cardOf(object, extra, locale));
    }
    return cards;
}

CardListPeer::CardListPeer(std::vector<PeerCard> cards, int cardHeight)
    : model(std::make_unique<CardModel>(std::move(cards))) {
    list.setUniformItemSizes(true);
    list.setSpacing(5); // 10 pixels between two cards
    list.setSelectionMode(QAbstractItemView::NoSelection);
    list.setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list.setItemDelegate(new CardDelegate(cardHeight));
    list.setModel(model.get());
    QPalette palette = list.palette();
    palette.setColor(QPalette::Base, QColor::fromRgbF(0.035f, 0.038f, 0.045f));
    list.setPalette(palette);
}

CardListPeer::~CardListPeer() = default;

void CardListPeer::setPlaying(int row, bool playing) {
    static_cast<CardModel*>(model.get())->setPlaying(row, playing);
}

} // namespace vt::bench

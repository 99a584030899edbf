#pragma once
// The window benchmark's peer for a list of sample cards, built as a Qt developer builds a long
// list: a QListView with uniform item sizes over a list model, and an item delegate that paints
// each card with plain QPainter calls (rounded card, play button, favourite and edit marks, chop
// switch, title, date, delete button, mini waveform, info text and badges), with its cards read from
// a library folder through QJsonDocument.

#include <QColor>
#include <QListView>
#include <QSize>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <memory>
#include <vector>

class QAbstractListModel;

namespace vt::bench {

struct PeerCard {
    QString title;
    QString date;
    QString info;
    QStringList badges;
    std::vector<float> peaks;
    int chopCount = 0;
    bool isFavorite = false;
    bool isEdited = false;
    bool isPlaying = false;
};

// The cards of a library folder's "library.json" and "bridge-metadata.json", in file order, with
// what each card shows: titles and favourites as overridden, chops, analysis badges, peaks.
std::vector<PeerCard> readPeerCards(const std::filesystem::path& folder);

class CardListPeer {
public:
    // Cards of cardHeight pixels, 10 pixels apart, as the windows space theirs.
    CardListPeer(std::vector<PeerCard> cards, int cardHeight);
    ~CardListPeer();

    QListView& view() { return list; }
    // What a preview click changes: the card's play button, waveform and info line.
    void setPlaying(int row, bool playing);

private:
    std::unique_ptr<QAbstractListModel> model;
    QListView list;
};

} // namespace vt::bench

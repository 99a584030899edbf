#include "Platform/UI/Glyphs.h"

#include "Platform/UI/Drawing.h"
#include "Platform/UI/Fonts.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <array>
#include <utility>

namespace vt::ui {

namespace {

// Symbol name → character of the glyph font.
constexpr std::array<std::pair<std::string_view, char16_t>, 66> catalogue{{
    {"antenna.radiowaves.left.and.right", 0xe1e2}, // wifi_tethering
    {"app.badge", 0xef40},                         // app_registration
    {"arrow.clockwise", 0xe5d5},                   // refresh
    {"arrow.counterclockwise", 0xe166},            // undo
    {"arrow.right.circle.fill", 0xeaaa},           // arrow_circle_right
    {"arrow.up.doc", 0xe9fc},                      // upload_file
    {"arrow.up.forward.app", 0xe895},              // launch
    {"arrow.up.right", 0xe89e},                    // open_in_new
    {"bolt.horizontal.circle.fill", 0xe932},       // offline_bolt
    {"book.closed.fill", 0xea19},                  // menu_book
    {"checkmark", 0xe5ca},                         // check
    {"chevron.down", 0xe5cf},                      // expand_more
    {"chevron.right", 0xe5cc},                     // chevron_right
    {"doc.on.clipboard", 0xe14f},                  // content_paste
    {"exclamationmark.triangle.fill", 0xe002},     // warning
    {"folder", 0xe2c8},                            // folder_open
    {"folder.badge.gearshape", 0xe617},            // folder_special
    {"gearshape.fill", 0xe8b8},                    // settings
    {"hourglass", 0xe88b},                         // hourglass_empty
    {"iphone", 0xe325},                            // phone_iphone
    {"iphone.and.arrow.forward", 0xf05c},          // send_to_mobile
    {"iphone.radiowaves.left.and.right", 0xe0dd},  // phonelink_ring
    {"key.fill", 0xe73c},                          // key
    {"line.3.horizontal", 0xe5d2},                 // menu
    {"link.badge.minus", 0xe16f},                  // link_off
    {"lock.circle.fill", 0xe897},                  // lock
    {"lock.open.fill", 0xe898},                    // lock_open
    {"metronome", 0xe01b},                         // av_timer
    {"music.note", 0xe405},                        // music_note
    {"network", 0xeb2f},                           // lan
    {"pencil", 0xe3c9},                            // edit
    {"play.fill", 0xe037},                         // play_arrow
    {"qrcode", 0xef6b},                            // qr_code
    {"repeat", 0xe040},                            // repeat
    {"repeat.circle.fill", 0xe9d6},                // repeat_on
    {"scissors", 0xe14e},                          // content_cut
    {"slider.horizontal.3", 0xe429},               // tune
    {"speaker.slash.fill", 0xe04f},                // volume_off
    {"speaker.wave.2.fill", 0xe050},               // volume_up
    {"square.grid.2x2.fill", 0xe9b0},              // grid_view
    {"square.split.2x1", 0xe949},                  // vertical_split
    {"star", 0xe83a},                              // star_border
    {"star.fill", 0xe838},                         // star
    {"stop.fill", 0xe047},                         // stop
    {"trash", 0xe872},                             // delete
    {"tray.full", 0xe1a1},                         // inventory_2
    {"wand.and.stars", 0xe663},                    // auto_fix_high
    {"waveform", 0xe1b8},                          // graphic_eq
    {"waveform.badge.magnifyingglass", 0xf02f},    // manage_search
    {"waveform.path.badge.plus", 0xe02e},          // library_add
    {"waveform.path.ecg", 0xe6e1},                 // show_chart
    {"xmark", 0xe5cd},                             // close
    {"xmark.circle.fill", 0xe5c9},                 // cancel
    {"checkmark.circle.fill", 0xe86c},             // check_circle
    {"plus", 0xe145},                              // add
    {"minus", 0xe15b},                             // remove
    {"speaker.wave.1.fill", 0xe04d},               // volume_down
    {"music.note.list", 0xe03d},                   // queue_music
    {"square.and.arrow.down", 0xe2c4},             // file_download
    {"arrow.triangle.2.circlepath", 0xe863},       // autorenew
    {"dot.radiowaves.left.and.right", 0xe1e2},     // wifi_tethering
    {"magnifyingglass", 0xe8b6},                   // search
    {"info.circle", 0xe88e},                       // info
    {"pause.fill", 0xe034},                        // pause
    {"circle", 0xef4a},                            // circle
    {"questionmark", 0xeb8b},                      // question_mark
}};

std::optional<char16_t> lookup(std::string_view symbolName) {
    for (const auto& [name, character] : catalogue)
        if (name == symbolName)
            return character;
    return std::nullopt;
}

} // namespace

bool hasGlyph(std::string_view symbolName) {
    return lookup(symbolName).has_value();
}

QString glyphText(std::string_view symbolName) {
    const char16_t character = lookup(symbolName).value_or(char16_t{0xeb8b});
    return QString(QChar(character));
}

void paintGlyph(QPainter& painter, const QRectF& rect, std::string_view symbolName, double pixelSize,
                const QColor& color) {
    painter.save();
    painter.setFont(glyphFont(pixelSize));
    painter.setPen(color);
    painter.drawText(rect, Qt::AlignCenter, glyphText(symbolName));
    painter.restore();
}

void paintGlyphOnCircle(QPainter& painter, const QRectF& rect, std::string_view symbolName, double pixelSize,
                        const QColor& color, const QColor& circleFill) {
    // A translucent circle is a few hundred antialiased spans, enough for the raster engine to
    // hand each paint to its thread pool: it is drawn once and copied.
    paintCached(painter, rect, QStringLiteral("circle:%1").arg(circleFill.rgba64().toArgb32(), 8, 16),
                [circleFill](QPainter& circle, const QRectF& box) {
                    circle.setPen(Qt::NoPen);
                    circle.setBrush(circleFill);
                    circle.drawEllipse(box);
                });
    paintGlyph(painter, rect, symbolName, pixelSize, color);
}

void paintGlyphAndTitle(QPainter& painter, const QRectF& rect, std::string_view symbolName, double glyphSize,
                        const QString& title, const QFont& font, const QColor& color, double spacing) {
    const QFontMetricsF metrics(font);
    const double glyphWidth = symbolName.empty() ? 0 : glyphSize;
    const double gap = symbolName.empty() || title.isEmpty() ? 0 : spacing;
    const double titleWidth = std::min(metrics.horizontalAdvance(title), rect.width() - glyphWidth - gap);
    double x = rect.center().x() - (glyphWidth + gap + titleWidth) / 2;
    if (!symbolName.empty()) {
        paintGlyph(painter, QRectF(x, rect.top(), glyphWidth, rect.height()), symbolName, glyphSize, color);
        x += glyphWidth + gap;
    }
    painter.save();
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(QRectF(x, rect.top(), titleWidth + 1, rect.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     metrics.elidedText(title, Qt::ElideRight, titleWidth + 1));
    painter.restore();
}

QIcon glyphIcon(std::string_view symbolName, int size, const QColor& color) {
    QPixmap pixmap(size * 2, size * 2);
    pixmap.setDevicePixelRatio(2.0);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    paintGlyph(painter, QRectF(0, 0, size, size), symbolName, size, color);
    painter.end();
    return QIcon(pixmap);
}

} // namespace vt::ui

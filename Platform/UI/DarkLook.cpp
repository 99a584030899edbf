#include "Platform/UI/DarkLook.h"

#include "Platform/UI/Palette.h"

#include <QApplication>
#include <QStyleFactory>
#include <QToolTip>
#include <QWidget>

namespace vt::ui {

QPalette darkPalette() {
    QPalette dark;
    const auto set = [&dark](QPalette::ColorRole role, const QColor& color, const QColor& disabled) {
        dark.setColor(QPalette::Active, role, color);
        dark.setColor(QPalette::Inactive, role, color);
        dark.setColor(QPalette::Disabled, role, disabled);
    };
    set(QPalette::Window, palette::background, palette::background);
    set(QPalette::WindowText, Qt::white, white(0.35));
    set(QPalette::Base, palette::surface, palette::surface);
    set(QPalette::AlternateBase, palette::surface2, palette::surface2);
    set(QPalette::Text, Qt::white, white(0.35));
    set(QPalette::PlaceholderText, white(0.3), white(0.2));
    set(QPalette::Button, palette::surface2, palette::surface);
    set(QPalette::ButtonText, Qt::white, white(0.35));
    set(QPalette::Highlight, palette::cyan, white(0.2));
    set(QPalette::HighlightedText, Qt::black, white(0.35));
    set(QPalette::ToolTipBase, palette::surface2, palette::surface2);
    set(QPalette::ToolTipText, Qt::white, Qt::white);
    set(QPalette::Link, palette::cyan, palette::cyan);
    set(QPalette::BrightText, palette::danger, palette::danger);
    // The shades Fusion draws scroll bars, slider grooves and frames with.
    set(QPalette::Light, palette::surface2.lighter(140), palette::surface2);
    set(QPalette::Midlight, palette::surface2.lighter(120), palette::surface2);
    set(QPalette::Mid, palette::surface2, palette::surface);
    set(QPalette::Dark, palette::background, palette::background);
    set(QPalette::Shadow, Qt::black, Qt::black);
    return dark;
}

void applyDarkLook(QApplication& application) {
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        application.setStyle(fusion);
    application.setPalette(darkPalette());
    QToolTip::setPalette(darkPalette());
}

void applyDarkPalette(QWidget& window) {
    window.setPalette(darkPalette());
}

} // namespace vt::ui

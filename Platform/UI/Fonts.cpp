#include "Platform/UI/Fonts.h"

#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>

// The bundled fonts live in the "vellumtide_fonts" resource of this library.
static void registerFontResource() {
    Q_INIT_RESOURCE(vellumtide_fonts);
}

namespace vt::ui {

bool installBundledFonts() {
    static const bool installed = [] {
        registerFontResource();
        bool allRegistered = true;
        const QDir folder(QStringLiteral(":/vellumtide/fonts"));
        for (const QString& name : folder.entryList(QDir::Files))
            allRegistered = QFontDatabase::addApplicationFont(folder.filePath(name)) >= 0 && allRegistered;
        return allRegistered && !folder.isEmpty();
    }();
    return installed;
}

static QFont::Weight qtWeight(FontWeight weight) {
    switch (weight) {
    case FontWeight::regular:
        return QFont::Normal;
    case FontWeight::medium:
        return QFont::Medium;
    case FontWeight::semibold:
        return QFont::DemiBold;
    case FontWeight::bold:
        return QFont::Bold;
    case FontWeight::heavy:
        return QFont::ExtraBold;
    case FontWeight::black:
        return QFont::Black;
    }
    return QFont::Normal;
}

static QFont font(const char* family, double pixelSize, FontWeight weight) {
    installBundledFonts();
    QFont result{QString::fromLatin1(family)};
    result.setPixelSize(std::max(1, static_cast<int>(std::lround(pixelSize))));
    result.setWeight(qtWeight(weight));
    result.setHintingPreference(QFont::PreferNoHinting);
    return result;
}

QFont systemFont(double pixelSize, FontWeight weight) {
    return font(systemFontFamily, pixelSize, weight);
}

QFont monospacedFont(double pixelSize, FontWeight weight) {
    QFont result = font(monospacedFontFamily, pixelSize, weight);
    result.setStyleHint(QFont::Monospace);
    return result;
}

QFont glyphFont(double pixelSize) {
    return font(glyphFontFamily, pixelSize, FontWeight::regular);
}

} // namespace vt::ui

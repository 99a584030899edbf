// Renders the desktop program's icon, the logo mark in the accent colour, into the hicolor PNG
// sizes at build time: <folder>/<N>x<N>/apps/<id>.png. Usage: vellumtide-icon-render <folder> <id>

#include "Platform/UI/Palette.h"
#include "Shared/Interface/VellumtideLogoMark.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

constexpr std::array<int, 8> iconSizes{16, 22, 24, 32, 48, 64, 128, 256};

bool renderIcon(const std::filesystem::path& file, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    VellumtideLogoMark::paint(painter, size, size, vt::ui::palette::cyan);
    painter.end();
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    return image.save(QString::fromStdString(file.string()), "PNG");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: vellumtide-icon-render <folder> <id>\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    const std::string id = argv[2];
    int qtArgc = 3;
    char name[] = "vellumtide-icon-render", platformOption[] = "-platform", platform[] = "offscreen";
    char* qtArgv[] = {name, platformOption, platform, nullptr};
    QGuiApplication application(qtArgc, qtArgv);
    for (int size : iconSizes) {
        const auto file =
            folder / (std::to_string(size) + "x" + std::to_string(size)) / "apps" / (id + ".png");
        if (!renderIcon(file, size)) {
            std::fprintf(stderr, "vellumtide-icon-render: %s could not be written\n", file.c_str());
            return 1;
        }
    }
    return 0;
}

#include "Platform/UI/DragStaging.h"

#include <QUrl>
#include <QUuid>
#include <cstdlib>

namespace vt::ui {

namespace fs = std::filesystem;

fs::path dragStagingFolder() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && *cache == '/')
        return fs::path(cache) / "vellumtide" / "drag";
    const char* home = std::getenv("HOME");
    return fs::path(home ? home : "") / ".cache" / "vellumtide" / "drag";
}

QString sanitizedDragFileName(const QString& suggestedName, const fs::path& source) {
    QString name = suggestedName;
    name.replace(QLatin1Char('/'), QLatin1Char('-')).replace(QChar(0), QLatin1Char('-'));
    const QString extension = QString::fromStdString(source.extension().string());
    if (!extension.isEmpty() && !name.endsWith(extension, Qt::CaseInsensitive))
        name += extension;
    while (name.toUtf8().size() > 255)
        name.remove(name.size() - extension.size() - 1, 1);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = QStringLiteral("file") + extension;
    return name;
}

std::optional<StagedDragFile> stageFileForDrag(const fs::path& file, const QString& suggestedName) {
    std::error_code error;
    if (file.empty() || !fs::is_regular_file(file, error))
        return std::nullopt;
    const fs::path folder =
        dragStagingFolder() / QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
    const fs::path staged = folder / sanitizedDragFileName(suggestedName, file).toStdString();
    fs::create_directories(folder, error);
    if (error)
        return std::nullopt;
    fs::create_hard_link(file, staged, error);
    if (error && !fs::copy_file(file, staged, error))
        return std::nullopt;
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString(staged.string()));
    return StagedDragFile{staged, url.toEncoded() + "\r\n", QString::fromStdString(staged.string())};
}

void sweepStagedDragFiles(std::chrono::system_clock::time_point now) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dragStagingFolder(), error)) {
        const auto written = fs::last_write_time(entry.path(), error);
        if (error || std::chrono::file_clock::to_sys(written) + std::chrono::hours(24) > now)
            continue;
        for (const auto& staged : fs::directory_iterator(entry.path(), error))
            if (staged.is_regular_file(error) && !staged.is_symlink(error))
                fs::remove(staged.path(), error);
        fs::remove(entry.path(), error);
    }
}

} // namespace vt::ui

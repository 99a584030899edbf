#pragma once
// The desktop services the bridge controller calls: opening URLs and folders, the clipboard,
// bringing the program to the front, the folder chooser and a three-button alert. Each is an
// interface so the controller runs headless and tests never touch the real desktop.

#include <QString>
#include <QUrl>
#include <filesystem>
#include <optional>
#include <qcoro/qcorotask.h>
#include <vector>

namespace vt {

class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    // Hands the URL to the desktop's default handler; false when it refused.
    virtual bool openUrl(const QUrl& url) = 0;
    // Shows the folder in the file manager; false when that could not be started.
    virtual bool revealFolder(const std::filesystem::path& folder) = 0;
};

class Clipboard {
public:
    virtual ~Clipboard() = default;
    virtual void setText(const QString& text) = 0;
    // The plain text on the clipboard; nothing when it holds none (or cannot be read).
    virtual std::optional<QString> text() const { return std::nullopt; }
};

class WindowActivator {
public:
    virtual ~WindowActivator() = default;
    // Shows the program's main window and brings it to the front (nothing when there is none).
    virtual void activate() = 0;
};

// What the folder chooser shows.
struct FolderChoice {
    QString title;
    QString message;
    QString prompt;
    std::filesystem::path startingFolder;
    bool canCreateFolders = true;
};

class FolderChooser {
public:
    virtual ~FolderChooser() = default;
    // Resolves with the chosen folder, or nothing when the user cancelled. Never a nested loop:
    // the caller awaits while the main loop keeps running.
    virtual QCoro::Task<std::optional<std::filesystem::path>> chooseFolder(FolderChoice choice) = 0;
};

struct AlertRequest {
    enum class Style { informational, warning, critical };
    QString messageText;
    QString informativeText;
    Style style = Style::informational;
    std::vector<QString> buttons; // in the order shown; the first is the default
};

class AlertPresenter {
public:
    virtual ~AlertPresenter() = default;
    // Resolves with the index of the pressed button, or -1 when the alert was dismissed.
    virtual QCoro::Task<int> present(AlertRequest request) = 0;
};

} // namespace vt

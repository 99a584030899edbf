#pragma once
// The desktop services over Qt: xdg-open through QDesktopServices, the system clipboard, the
// program's windows, and a folder chooser and alert that open window-modal without a nested loop.

#include "Platform/Desktop/DesktopServices.h"

namespace vt {

class QtUrlOpener final : public UrlOpener {
public:
    bool openUrl(const QUrl& url) override;
    bool revealFolder(const std::filesystem::path& folder) override;
};

class QtClipboard final : public Clipboard {
public:
    void setText(const QString& text) override;
    std::optional<QString> text() const override;
};

// Shows, raises and activates the top-level window named "main" (every top-level window when
// none carries that name).
class QtWindowActivator final : public WindowActivator {
public:
    void activate() override;
};

class QtFolderChooser final : public FolderChooser {
public:
    QCoro::Task<std::optional<std::filesystem::path>> chooseFolder(FolderChoice choice) override;
};

class QtAlertPresenter final : public AlertPresenter {
public:
    QCoro::Task<int> present(AlertRequest request) override;
};

} // namespace vt

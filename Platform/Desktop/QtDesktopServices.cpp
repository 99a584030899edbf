#include "Platform/Desktop/QtDesktopServices.h"

#include "Platform/Async/Completion.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QWindow>

namespace vt {

bool QtUrlOpener::openUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

bool QtUrlOpener::revealFolder(const std::filesystem::path& folder) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder.string())));
}

void QtClipboard::setText(const QString& text) {
    if (auto* clipboard = QGuiApplication::clipboard())
        clipboard->setText(text);
}

std::optional<QString> QtClipboard::text() const {
    const auto* clipboard = QGuiApplication::clipboard();
    const auto* data = clipboard ? clipboard->mimeData() : nullptr;
    if (!data || !data->hasText())
        return std::nullopt;
    return data->text();
}

void QtWindowActivator::activate() {
    const auto windows = QGuiApplication::topLevelWindows();
    std::vector<QWindow*> chosen;
    for (QWindow* window : windows)
        if (window->objectName() == QLatin1String("main") || window->title() == QLatin1String("main"))
            chosen.push_back(window);
    if (chosen.empty())
        chosen.assign(windows.begin(), windows.end());
    for (QWindow* window : chosen) {
        window->show();
        window->raise();
        window->requestActivate();
    }
}

namespace {
QWidget* activeParent() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) ? QApplication::activeWindow() : nullptr;
}
} // namespace

QCoro::Task<std::optional<std::filesystem::path>> QtFolderChooser::chooseFolder(FolderChoice choice) {
    Completion<std::optional<std::filesystem::path>> answer;
    auto* dialog =
        new QFileDialog(activeParent(), choice.title, QString::fromStdString(choice.startingFolder.string()));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setOption(QFileDialog::ReadOnly, !choice.canCreateFolders);
    dialog->setLabelText(QFileDialog::Accept, choice.prompt);
    dialog->setToolTip(choice.message);
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog, [answer](const QString& file) mutable {
        answer.resolve(std::filesystem::path(file.toStdString()));
    });
    QObject::connect(dialog, &QFileDialog::finished, dialog,
                     [answer](int) mutable { answer.resolve(std::nullopt); });
    dialog->open();
    co_return co_await answer;
}

QCoro::Task<int> QtAlertPresenter::present(AlertRequest request) {
    Completion<int> answer;
    auto* box = new QMessageBox(activeParent());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setText(request.messageText);
    box->setInformativeText(request.informativeText);
    switch (request.style) {
    case AlertRequest::Style::informational:
        box->setIcon(QMessageBox::Information);
        break;
    case AlertRequest::Style::warning:
        box->setIcon(QMessageBox::Warning);
        break;
    case AlertRequest::Style::critical:
        box->setIcon(QMessageBox::Critical);
        break;
    }
    std::vector<QAbstractButton*> buttons;
    for (const QString& title : request.buttons)
        buttons.push_back(box->addButton(title, QMessageBox::ActionRole));
    if (!buttons.empty())
        box->setDefaultButton(static_cast<QPushButton*>(buttons.front()));
    QObject::connect(box, &QMessageBox::buttonClicked, box,
                     [answer, buttons](QAbstractButton* clicked) mutable {
                         auto found = std::find(buttons.begin(), buttons.end(), clicked);
                         answer.resolve(found == buttons.end() ? -1 : int(found - buttons.begin()));
                     });
    QObject::connect(box, &QMessageBox::finished, box, [answer](int) mutable { answer.resolve(-1); });
    box->open();
    co_return co_await answer;
}

} // namespace vt

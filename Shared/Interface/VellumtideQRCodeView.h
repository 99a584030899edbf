#pragma once
// Shows the QR code of a URL (both windows' companion-app sheets point to the phone app with
// it). The code fills the space the parent gives it, kept square and drawn without smoothing so
// the modules stay sharp; when no code can be made the "qrcode" glyph is shown instead.

#include <QImage>
#include <QUrl>
#include <QWidget>
#include <optional>

class VellumtideQRCodeView final : public QWidget {
public:
    explicit VellumtideQRCodeView(QUrl url, QWidget* parent = nullptr);

    const QUrl& url() const { return url_; }

    // The code of the URL's full text as UTF-8 bytes, error-correction level M, each module
    // 10 × 10 pixels, black on white with a one-module margin; nothing when the text cannot be
    // encoded.
    static std::optional<QImage> makeImage(const QUrl& url);

    // The code of the URL, 128 points square, on a white rounded card with 10 points of margin:
    // the companion-app sheets of both windows show it so.
    static QWidget* makeCard(const QUrl& url, QWidget* parent = nullptr);

    static constexpr const char* accessibilityLabel = "QR code for the Vellumtide iPhone app";
    static constexpr double fallbackGlyphSize = 62;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QUrl url_;
};

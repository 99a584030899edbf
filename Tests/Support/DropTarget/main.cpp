// vt-drop-target --out FILE [--geometry X,Y,W,H]: a plain toolkit window that accepts file drops,
// as a DAW timeline or a file manager would, and records what each drop delivered. It prints
// "READY" once its window is on screen. For each URL of a drop's text/uri-list it appends
// "<url>\t<size in bytes or -1>\t<sha256 hex of the file's bytes, or MISSING>" to FILE, reading
// the file at drop time; a drop without any URL appends "EMPTY". It ends on SIGTERM.

#include <QApplication>
#include <QCommandLineParser>
#include <QCryptographicHash>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QPainter>
#include <QUrl>
#include <QWidget>
#include <cstdio>

namespace {

// The URLs a drop offers, exactly as written in its text/uri-list (comments skipped).
QList<QByteArray> offeredUrls(const QMimeData& data) {
    QList<QByteArray> urls;
    for (QByteArray line : data.data(QStringLiteral("text/uri-list")).split('\n')) {
        line = line.trimmed();
        if (!line.isEmpty() && !line.startsWith('#'))
            urls.append(line);
    }
    return urls;
}

QByteArray describe(const QByteArray& url) {
    QFile file(QUrl::fromEncoded(url).toLocalFile());
    if (file.fileName().isEmpty() || !file.open(QIODevice::ReadOnly))
        return url + "\t-1\tMISSING";
    const QByteArray bytes = file.readAll();
    return url + "\t" + QByteArray::number(bytes.size()) + "\t" +
           QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

class DropTarget final : public QWidget {
public:
    explicit DropTarget(QString outPath) : out(std::move(outPath)) {
        setAcceptDrops(true);
        setWindowTitle(QStringLiteral("vt-drop-target"));
    }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override {
        event->acceptProposedAction();
        hovering = true;
        update();
    }
    void dragMoveEvent(QDragMoveEvent* event) override { event->acceptProposedAction(); }
    void dragLeaveEvent(QDragLeaveEvent*) override {
        hovering = false;
        update();
    }
    void dropEvent(QDropEvent* event) override {
        event->acceptProposedAction();
        hovering = false;
        update();
        const QList<QByteArray> urls = offeredUrls(*event->mimeData());
        QByteArray lines;
        for (const QByteArray& url : urls)
            lines += describe(url) + "\n";
        append(urls.isEmpty() ? QByteArray("EMPTY\n") : lines);
    }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), hovering ? QColor(40, 90, 60) : QColor(50, 50, 60));
        painter.setPen(Qt::white);
        painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("Drop files here"));
        if (!announced) {
            announced = true;
            std::puts("READY");
            std::fflush(stdout);
        }
    }

private:
    void append(const QByteArray& lines) {
        QFile file(out);
        if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
            file.write(lines);
            file.flush();
        }
    }

    QString out;
    bool hovering = false;
    bool announced = false;
};

} // namespace

int main(int argc, char** argv) {
    // Ours, not the toolkit's: Qt's X11 platform would take a geometry option for itself.
    QStringList arguments;
    for (int index = 0; index < argc; ++index)
        arguments.append(QString::fromLocal8Bit(argv[index]));
    int toolkitArgc = 1;
    QApplication application(toolkitArgc, argv);
    QCommandLineParser parser;
    parser.addOption(
        {QStringLiteral("out"), QStringLiteral("File the drops are recorded in."), QStringLiteral("FILE")});
    parser.addOption(
        {QStringLiteral("geometry"), QStringLiteral("Window position and size."), QStringLiteral("X,Y,W,H")});
    parser.process(arguments);
    if (!parser.isSet(QStringLiteral("out"))) {
        std::fputs("vt-drop-target: --out FILE is required\n", stderr);
        return 2;
    }
    DropTarget target(parser.value(QStringLiteral("out")));
    QRect geometry(100, 100, 320, 240);
    const QStringList parts = parser.value(QStringLiteral("geometry")).split(QLatin1Char(','));
    if (parts.size() == 4)
        geometry = QRect(parts[0].toInt(), parts[1].toInt(), parts[2].toInt(), parts[3].toInt());
    target.setGeometry(geometry);
    target.show();
    return application.exec();
}

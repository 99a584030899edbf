// vt-drop-target --out FILE [--geometry X,Y,W,H]
// A drop target in a process of its own, as a file manager or another program would be: a Qt
// window that takes every drop and appends, per dropped URL, "<url>\t<size or -1>\t<sha256 hex or
// MISSING>" to FILE ("EMPTY" for a drop without URLs). Prints READY once its window is on
// screen; ends on SIGTERM.

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

QByteArray describe(const QUrl& url) {
    QByteArray line = url.toEncoded() + '\t';
    QFile file(url.toLocalFile());
    if (!url.isLocalFile() || !file.open(QIODevice::ReadOnly))
        return line + "-1\tMISSING";
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return line + QByteArray::number(file.size()) + '\t' + hash.result().toHex();
}

class DropWindow final : public QWidget {
public:
    explicit DropWindow(QString output) : output(std::move(output)) { setAcceptDrops(true); }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override { event->acceptProposedAction(); }
    void dragMoveEvent(QDragMoveEvent* event) override { event->acceptProposedAction(); }
    void dropEvent(QDropEvent* event) override {
        QByteArray lines;
        const QList<QUrl> urls = event->mimeData()->urls();
        for (const QUrl& url : urls)
            lines += describe(url) + '\n';
        if (urls.isEmpty())
            lines = "EMPTY\n";
        QFile file(output);
        if (file.open(QIODevice::Append))
            file.write(lines);
        event->acceptProposedAction();
    }
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(rect(), QColor(40, 90, 160));
        if (announced)
            return;
        announced = true;
        std::puts("READY");
        std::fflush(stdout);
    }

private:
    QString output;
    bool announced = false;
};

} // namespace

int main(int argc, char** argv) {
    // Read before the application exists: Qt would take --geometry as its own X11 option.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.addOption({"out", "File the drops are appended to.", "file"});
    parser.addOption({"geometry", "Window position and size.", "x,y,w,h", "100,100,400,300"});
    const QStringList geometry =
        parser.parse(arguments) ? parser.value("geometry").split(',') : QStringList();
    if (!parser.isSet("out") || geometry.size() != 4) {
        std::fputs("usage: vt-drop-target --out FILE [--geometry X,Y,W,H]\n", stderr);
        return 2;
    }
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    DropWindow window(parser.value("out"));
    window.setWindowFlag(Qt::X11BypassWindowManagerHint); // exactly where asked, with or without a manager
    window.setGeometry(geometry[0].toInt(), geometry[1].toInt(), geometry[2].toInt(), geometry[3].toInt());
    window.show();
    return application.exec();
}

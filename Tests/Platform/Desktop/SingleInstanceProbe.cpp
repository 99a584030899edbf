// A small program around SingleInstance for the two-process tests: the first one prints
// "primary" and then every message it receives; a later one forwards its arguments and exits
// with 0 when they were delivered. Exits with 3 when the folder cannot be used.

#include "Platform/Desktop/SingleInstance.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2)
        return 2;
    vt::SingleInstance instance(arguments[1].toStdString(), QStringLiteral("probe"));
    QStringList messages = arguments.mid(2);
    vt::SingleInstance::Claim claim = instance.claim();
    if (claim == vt::SingleInstance::Claim::unavailable) {
        std::printf("unavailable\n");
        return 3;
    }
    if (claim == vt::SingleInstance::Claim::primary) {
        std::printf("primary\n");
        std::fflush(stdout);
        QObject::connect(&instance, &vt::SingleInstance::messagesReceived, [](const QStringList& received) {
            std::printf("received %d\n", int(received.size()));
            for (const QString& message : received)
                std::printf("got:%s\n", message.toUtf8().constData());
            std::fflush(stdout);
        });
        return app.exec();
    }
    QObject::connect(&instance, &vt::SingleInstance::forwarded,
                     [](bool delivered) { QCoreApplication::exit(delivered ? 0 : 1); });
    instance.forward(messages);
    return app.exec();
}

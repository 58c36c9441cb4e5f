// Prepares the update a manifest file announces, against a given running
// bundle, and prints the outcome ("success" or the error's short form); or
// removes a folder tree as the engine does. Tests run it with lowered
// privileges.
#include "UpdateFixtures.h"
#include "updater/UpdateEngine.h"

#include <QCoreApplication>
#include <QFile>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // "--remove PATH": the work folder clean-up alone.
    if (argc == 3 && qstrcmp(argv[1], "--remove") == 0) {
        std::puts(UpdateEngine::removeTree(QString::fromLocal8Bit(argv[2])) ? "removed" : "left");
        return 0;
    }
    if (argc != 4)
        return 2;
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadOnly))
        return 2;
    const auto manifest = UpdateManifest::decode(file.readAll());
    const auto running = Bundle::at(QString::fromLocal8Bit(argv[3]));
    if (!manifest || !running)
        return 2;
    const UpdateConfig config {QUrl("http://127.0.0.1/"), QString::fromLatin1(argv[2]), true};
    const auto prepared = Fixtures::await(UpdateEngine::prepare(*manifest, config, {}, *running));
    std::puts(prepared ? "success" : qPrintable(prepared.error().shortForm()));
    return 0;
}

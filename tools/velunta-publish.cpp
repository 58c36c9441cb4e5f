// velunta-publish: the publisher's side of Velunta's updates.
//
//   velunta-publish keygen KEYFILE
//   velunta-publish public-key KEYFILE
//   velunta-publish sign --key KEYFILE BUNDLE.app
//   velunta-publish verify BUNDLE.app
//   velunta-publish pack BUNDLE.app ARCHIVE.zip
//   velunta-publish manifest --key KEYFILE --archive ARCHIVE.zip --build N
//       --version V --url URL --minimum-system S (--notes TEXT | --notes-file FILE)
//       [--rollout PERCENT] [--paused] [--channel stable|beta] --out FOLDER
#include "tools/Publisher.h"
#include "updater/CodeSignature.h"
#include "updater/UpdateEngine.h"

#include <QCoreApplication>
#include <QFile>
#include <QMap>
#include <QTextStream>
#include <cstdio>

namespace {

QTextStream out(stdout);
QTextStream err(stderr);

int usage()
{
    err << "usage:\n"
           "  velunta-publish keygen KEYFILE\n"
           "  velunta-publish public-key KEYFILE\n"
           "  velunta-publish sign --key KEYFILE BUNDLE.app\n"
           "  velunta-publish verify BUNDLE.app\n"
           "  velunta-publish pack BUNDLE.app ARCHIVE.zip\n"
           "  velunta-publish manifest --key KEYFILE --archive ARCHIVE.zip --build N --version V --url URL\n"
           "      --minimum-system S (--notes TEXT | --notes-file FILE) [--rollout PERCENT] [--paused]\n"
           "      [--channel stable|beta] --out FOLDER\n";
    return 2;
}

int fail(const QString &message)
{
    err << "velunta-publish: " << message << "\n";
    return 1;
}

// "--name value" options, "--paused" as a flag, and the rest as positional.
struct Arguments {
    QMap<QString, QString> options;
    QStringList flags;
    QStringList positional;
    bool valid = true;
};

Arguments parse(const QStringList &arguments, const QStringList &flagNames)
{
    Arguments parsed;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (flagNames.contains(a)) {
            parsed.flags.append(a);
        } else if (a.startsWith(QLatin1String("--"))) {
            if (i + 1 >= arguments.size()) {
                parsed.valid = false;
                break;
            }
            parsed.options.insert(a.mid(2), arguments[++i]);
        } else {
            parsed.positional.append(a);
        }
    }
    return parsed;
}

std::optional<UpdateCrypto::SigningKey> loadKey(const QString &path)
{
    auto key = UpdateCrypto::SigningKey::readFile(path);
    if (!key) {
        fail(key.error());
        return std::nullopt;
    }
    return *key;
}

int keygen(const Arguments &args)
{
    if (args.positional.size() != 1)
        return usage();
    const QString path = args.positional[0];
    if (QFile::exists(path))
        return fail(path + QStringLiteral(" exists already; not overwriting a private key"));
    const auto key = UpdateCrypto::SigningKey::generate();
    if (auto written = key.writeFile(path); !written)
        return fail(written.error());
    out << key.publicKeyBase64() << "\n";
    return 0;
}

int publicKey(const Arguments &args)
{
    if (args.positional.size() != 1)
        return usage();
    const auto key = loadKey(args.positional[0]);
    if (!key)
        return 1;
    out << key->publicKeyBase64() << "\n";
    return 0;
}

int sign(const Arguments &args)
{
    if (args.positional.size() != 1 || !args.options.contains(QStringLiteral("key")))
        return usage();
    const auto key = loadKey(args.options.value(QStringLiteral("key")));
    if (!key)
        return 1;
    if (auto signedBundle = Publisher::signBundle(args.positional[0], *key); !signedBundle)
        return fail(signedBundle.error());
    out << "signed " << args.positional[0] << " with " << key->publicKeyBase64() << "\n";
    return 0;
}

int verify(const Arguments &args)
{
    if (args.positional.size() != 1)
        return usage();
    const auto key = CodeSignature::verify(args.positional[0]);
    if (!key)
        return fail(key.error().message());
    out << "valid, signed by " << UpdateCrypto::encodeBase64(*key) << "\n";
    return 0;
}

int pack(const Arguments &args)
{
    if (args.positional.size() != 2)
        return usage();
    if (!CodeSignature::verify(args.positional[0]))
        err << "velunta-publish: warning: " << args.positional[0]
            << " has no valid code signature; installations will refuse it\n";
    if (auto packed = Publisher::packBundle(args.positional[0], args.positional[1]); !packed)
        return fail(packed.error());
    const auto digest = UpdateEngine::sha256(args.positional[1]);
    out << args.positional[1] << " size " << QFile(args.positional[1]).size() << " sha256 "
        << (digest ? *digest : digest.error().message()) << "\n";
    return 0;
}

int manifest(const Arguments &args)
{
    const QStringList required {"key", "archive", "build", "version", "url", "minimum-system", "out"};
    for (const QString &name : required) {
        if (!args.options.contains(name))
            return fail(QStringLiteral("--") + name + QStringLiteral(" is required"));
    }
    Publisher::Release release;
    const auto build = UpdateEngine::parseInteger(args.options.value("build"));
    if (!build)
        return fail(QStringLiteral("--build must be a decimal integer"));
    release.build = *build;
    release.version = args.options.value("version");
    release.url = args.options.value("url");
    release.minimumSystem = args.options.value("minimum-system");
    if (args.options.contains("notes-file")) {
        QFile notes(args.options.value("notes-file"));
        if (!notes.open(QIODevice::ReadOnly))
            return fail(notes.fileName() + QStringLiteral(": ") + notes.errorString());
        release.notes = QString::fromUtf8(notes.readAll());
    } else if (args.options.contains("notes")) {
        release.notes = args.options.value("notes");
    } else {
        return fail(QStringLiteral("--notes or --notes-file is required"));
    }
    if (args.options.contains("rollout")) {
        const auto rollout = UpdateEngine::parseInteger(args.options.value("rollout"));
        if (!rollout || *rollout < 0 || *rollout > 100)
            return fail(QStringLiteral("--rollout must be a percentage from 0 to 100"));
        release.rollout = *rollout;
    }
    if (args.flags.contains(QStringLiteral("--paused")))
        release.paused = true;
    const QString channel = args.options.value("channel", QStringLiteral("stable"));
    if (channel != QLatin1String("stable") && channel != QLatin1String("beta"))
        return fail(QStringLiteral("--channel is stable or beta"));

    const auto key = loadKey(args.options.value("key"));
    if (!key)
        return 1;
    const auto made = Publisher::makeManifest(release, args.options.value("archive"), *key);
    if (!made)
        return fail(made.error());
    const auto written = Publisher::writeManifest(*made, args.options.value("out"), channel == QLatin1String("beta"));
    if (!written)
        return fail(written.error());
    out << "wrote " << *written << "\n";
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    if (arguments.isEmpty())
        return usage();
    const QString command = arguments.takeFirst();
    const Arguments args = parse(arguments, {QStringLiteral("--paused")});
    if (!args.valid)
        return usage();
    if (command == QLatin1String("keygen"))
        return keygen(args);
    if (command == QLatin1String("public-key"))
        return publicKey(args);
    if (command == QLatin1String("sign"))
        return sign(args);
    if (command == QLatin1String("verify"))
        return verify(args);
    if (command == QLatin1String("pack"))
        return pack(args);
    if (command == QLatin1String("manifest"))
        return manifest(args);
    return usage();
}

#include "UpdateFixtures.h"
#include "core/Bundle.h"
#include "updater/UpdateConfig.h"
#include "updater/UpdateCrypto.h"
#include "updater/UpdateEngine.h"
#include "updater/UpdateError.h"
#include "updater/UpdateManifest.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using UpdateEngine::Decision;
using UpdateEngine::SystemVersion;

namespace {

UpdateManifest manifest(qint64 build)
{
    UpdateManifest m;
    m.build = build;
    m.version = "1." + QString::number(build);
    m.url = "https://example.com/v.zip";
    m.sha256 = "ab";
    m.size = 10;
    m.signature = "x";
    m.minimumSystem = "2.31";
    m.notes = "";
    return m;
}

const SystemVersion system236 {2, 36, 0};

QByteArray json(const QByteArray &extra = {})
{
    return "{\"build\": 7, \"version\": \"1.1\", \"url\": \"https://h/u.zip\", \"sha256\": \"AB\", \"size\": 10,"
           " \"signature\": \"s\", \"minimumSystem\": \"14.0\", \"notes\": \"\""
        + extra + "}";
}

} // namespace

TEST(UpdateDecision, RulesApplyInOrder)
{
    auto m = manifest(10);
    EXPECT_EQ(UpdateEngine::decide(m, 9, 0, 0, system236, false), Decision::offer);
    EXPECT_EQ(UpdateEngine::decide(m, 10, 0, 0, system236, true), Decision::upToDate);
    EXPECT_EQ(UpdateEngine::decide(m, 11, 0, 0, system236, true), Decision::upToDate);

    m.paused = true;
    EXPECT_EQ(UpdateEngine::decide(m, 10, 0, 0, system236, false), Decision::upToDate) << "equal build wins over pause";
    EXPECT_EQ(UpdateEngine::decide(m, 9, 0, 0, system236, true), Decision::paused) << "even a manual check";
    m.paused = false;
    EXPECT_EQ(UpdateEngine::decide(m, 9, 0, 0, system236, false), Decision::offer);

    m.minimumSystem = "2.37";
    EXPECT_EQ(UpdateEngine::decide(m, 9, 0, 0, system236, true), Decision::systemTooOld);
}

TEST(UpdateDecision, RolloutAndSkippedBuildOnlyLimitAutomaticChecks)
{
    auto m = manifest(10);
    m.rollout = 30;
    EXPECT_EQ(UpdateEngine::decide(m, 9, 29, 0, system236, false), Decision::offer);
    EXPECT_EQ(UpdateEngine::decide(m, 9, 30, 0, system236, false), Decision::outsideRollout);
    EXPECT_EQ(UpdateEngine::decide(m, 9, 30, 0, system236, true), Decision::offer);
    m.rollout = 0;
    EXPECT_EQ(UpdateEngine::decide(m, 9, 0, 0, system236, false), Decision::outsideRollout);
    m.rollout.reset();
    EXPECT_EQ(UpdateEngine::decide(m, 9, 99, 0, system236, false), Decision::offer) << "absent rollout is 100";

    EXPECT_EQ(UpdateEngine::decide(m, 9, 0, 10, system236, false), Decision::skipped);
    EXPECT_EQ(UpdateEngine::decide(m, 9, 0, 10, system236, true), Decision::offer);
    EXPECT_EQ(UpdateEngine::decide(m, 9, 0, 11, system236, false), Decision::offer);
    EXPECT_EQ(UpdateEngine::decisionName(Decision::outsideRollout), "outsideRollout");
}

TEST(SystemVersion, MinimumIsComparedAsAPaddedTriple)
{
    EXPECT_FALSE(UpdateEngine::systemSatisfies("14.2", {14, 1, 9}));
    EXPECT_TRUE(UpdateEngine::systemSatisfies("14.2", {14, 2, 0}));
    EXPECT_TRUE(UpdateEngine::systemSatisfies("14", {14, 0, 0}));
    EXPECT_TRUE(UpdateEngine::systemSatisfies("14.x.1", {14, 0, 1}));
    EXPECT_FALSE(UpdateEngine::systemSatisfies("14.x.2", {14, 0, 1}));
    EXPECT_TRUE(UpdateEngine::systemSatisfies("", {0, 0, 0}));
    EXPECT_TRUE(UpdateEngine::systemSatisfies("15.0.0.9", {15, 0, 0}));
    EXPECT_TRUE(UpdateEngine::systemSatisfies("..2..36..", {2, 36, 0})) << "empty pieces are dropped";
    EXPECT_TRUE(UpdateEngine::systemSatisfies("+2.36", {2, 36, 0}));
    EXPECT_FALSE(UpdateEngine::systemSatisfies("3", {2, 99, 99}));
}

TEST(SystemVersion, RunningSystemIsTheCLibraryVersion)
{
    const SystemVersion v = UpdateEngine::systemVersion();
    EXPECT_GE(v.major, 2);
    EXPECT_GT(v.minor, 0);
    EXPECT_EQ(v.patch, 0);
}

TEST(UpdateIntegers, DecimalWithOptionalSign)
{
    EXPECT_EQ(UpdateEngine::parseInteger("57"), 57);
    EXPECT_EQ(UpdateEngine::parseInteger("+57"), 57);
    EXPECT_EQ(UpdateEngine::parseInteger("-3"), -3);
    EXPECT_EQ(UpdateEngine::parseInteger(" 5"), std::nullopt);
    EXPECT_EQ(UpdateEngine::parseInteger("5a"), std::nullopt);
    EXPECT_EQ(UpdateEngine::parseInteger("+"), std::nullopt);
    EXPECT_EQ(UpdateEngine::parseInteger(""), std::nullopt);
    EXPECT_EQ(UpdateEngine::parseInteger("99999999999999999999"), std::nullopt);
}

TEST(SignedMessage, EightLinesWithTheNotesHashed)
{
    UpdateManifest m = *UpdateManifest::decode(json());
    m.url = "U";
    const QByteArray expected = "velunta-update-v1\n7\n1.1\nU\nAB\n10\n14.0\n"
                                "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
    EXPECT_EQ(m.signedMessage(), expected);
    m.build = -4;
    m.notes = "a\nb";
    EXPECT_TRUE(m.signedMessage().startsWith("velunta-update-v1\n-4\n"));
    EXPECT_EQ(m.signedMessage().count('\n'), 7) << "notes enter only through their hash";
}

TEST(SignedMessage, RolloutAndPauseAreOutsideTheSignatureButNotesAreNot)
{
    const auto key = UpdateCrypto::SigningKey::generate();
    UpdateManifest m = manifest(3);
    m.notes = "Correções.";
    m.signature = QString::fromLatin1(UpdateCrypto::encodeBase64(key.sign(m.signedMessage())));
    const QString publicKey = key.publicKeyBase64();
    EXPECT_TRUE(UpdateCrypto::verifyEd25519Base64(publicKey, m.signedMessage(), m.signature));
    m.rollout = 10;
    m.paused = true;
    EXPECT_TRUE(UpdateCrypto::verifyEd25519Base64(publicKey, m.signedMessage(), m.signature));
    m.notes = "Correções!";
    EXPECT_FALSE(UpdateCrypto::verifyEd25519Base64(publicKey, m.signedMessage(), m.signature));
}

TEST(Base64, DecodingIsStrict)
{
    const QByteArray key(32, '\x7f');
    const QByteArray text = UpdateCrypto::encodeBase64(key);
    ASSERT_EQ(text.size(), 44);
    EXPECT_EQ(UpdateCrypto::decodeBase64(text, 32), key);
    EXPECT_EQ(UpdateCrypto::decodeBase64(text, 64), std::nullopt) << "wrong length";
    EXPECT_EQ(UpdateCrypto::decodeBase64(text.left(22) + "\n" + text.mid(22), 32), std::nullopt);
    EXPECT_EQ(UpdateCrypto::decodeBase64(text.left(22) + " " + text.mid(22), 32), std::nullopt);
    EXPECT_EQ(UpdateCrypto::decodeBase64(" " + text, 32), std::nullopt);
    EXPECT_EQ(UpdateCrypto::decodeBase64(text + "\n", 32), std::nullopt);
    EXPECT_EQ(UpdateCrypto::decodeBase64(text.chopped(1), 32), std::nullopt) << "missing padding";
    EXPECT_EQ(UpdateCrypto::decodeBase64(text.chopped(1) + "==", 32), std::nullopt) << "extra padding";
    QByteArray urlSafe = UpdateCrypto::encodeBase64(QByteArray(32, '\xfb'));
    ASSERT_TRUE(urlSafe.contains('+') || urlSafe.contains('/'));
    urlSafe.replace('+', '-').replace('/', '_');
    EXPECT_EQ(UpdateCrypto::decodeBase64(urlSafe, 32), std::nullopt) << "only the standard alphabet";
    EXPECT_EQ(UpdateCrypto::decodeBase64("", 0), std::nullopt);

    // A non-canonical final character (unused bits set) decodes leniently
    // in OpenSSL; re-encoding catches it.
    QByteArray loose = text;
    loose[42] = loose[42] == 'A' ? 'B' : char(loose[42] + 1);
    EXPECT_EQ(UpdateCrypto::decodeBase64(loose, 32), std::nullopt);

    const auto signing = UpdateCrypto::SigningKey::generate();
    const QByteArray signature = UpdateCrypto::encodeBase64(signing.sign("m"));
    EXPECT_TRUE(UpdateCrypto::verifyEd25519Base64(signing.publicKeyBase64(), "m", signature));
    EXPECT_FALSE(UpdateCrypto::verifyEd25519Base64(signing.publicKeyBase64() + "\n", "m", signature));
    EXPECT_FALSE(UpdateCrypto::verifyEd25519Base64(signing.publicKeyBase64(), "m", signature + " "));
}

TEST(ManifestDecoding, OptionalKeysMayBeAbsentOrNull)
{
    const auto plain = UpdateManifest::decode(json());
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->build, 7);
    EXPECT_EQ(plain->sha256, "AB");
    EXPECT_EQ(plain->rollout, std::nullopt);
    EXPECT_EQ(plain->paused, std::nullopt);

    const auto nulls = UpdateManifest::decode(json(", \"paused\": null, \"rollout\": null, \"extra\": [1]"));
    ASSERT_TRUE(nulls);
    EXPECT_EQ(*nulls, *plain);

    const auto set = UpdateManifest::decode(json(", \"paused\": true, \"rollout\": 50"));
    ASSERT_TRUE(set);
    EXPECT_EQ(set->rollout, 50);
    EXPECT_EQ(set->paused, true);
    EXPECT_NE(*set, *plain);
}

TEST(ManifestDecoding, WrongTypesAndMissingKeysAreInvalid)
{
    EXPECT_FALSE(UpdateManifest::decode(json(", \"rollout\": \"50\"")));
    EXPECT_FALSE(UpdateManifest::decode(json(", \"paused\": 1")));
    EXPECT_FALSE(UpdateManifest::decode(json(", \"rollout\": 5.5")));
    EXPECT_FALSE(UpdateManifest::decode(R"({"build": "7", "version": "1", "url": "u", "sha256": "a", "size": 1,
        "signature": "s", "minimumSystem": "1", "notes": ""})"));
    EXPECT_FALSE(UpdateManifest::decode(R"({"build": 7, "version": "1", "url": "u", "sha256": "a", "size": 1,
        "signature": "s", "minimumSystem": "1", "notes": null})"));
    EXPECT_FALSE(UpdateManifest::decode(R"({"build": 7, "version": "1", "url": "u", "sha256": "a", "size": 1,
        "signature": "s", "minimumSystem": "1"})"));
    EXPECT_FALSE(UpdateManifest::decode(R"({"build": 7.5, "version": "1", "url": "u", "sha256": "a", "size": 1,
        "signature": "s", "minimumSystem": "1", "notes": ""})"));
    EXPECT_FALSE(UpdateManifest::decode("[1, 2]"));
    EXPECT_FALSE(UpdateManifest::decode("not json"));
    EXPECT_FALSE(UpdateManifest::decode(json() + " trailing"));
}

TEST(ManifestDecoding, IntegersAreSixtyFourBitAndSurviveTheRoundTrip)
{
    auto m = UpdateManifest::decode(json(", \"rollout\": 9007199254740993"));
    ASSERT_TRUE(m);
    EXPECT_EQ(m->rollout, 9007199254740993LL) << "no rounding through a double";
    m->size = 5000000000LL;
    m->notes = "Olá\n\"mundo\"";
    EXPECT_EQ(UpdateManifest::decode(m->toJson()), m);
}

TEST(ManifestDecoding, BodyLimitIs65535Bytes)
{
    QByteArray body = json();
    body.insert(1, QByteArray(UpdateManifest::maximumBodySize - body.size(), ' '));
    ASSERT_EQ(body.size(), 65535);
    EXPECT_TRUE(UpdateManifest::decode(body));
    body.insert(1, ' ');
    EXPECT_FALSE(UpdateManifest::decode(body));
}

TEST(UpdateConfig, OnlyHttpsOrLocalHttpToTheLoopbackAddress)
{
    UpdateConfig strict {QUrl("https://u.example/updates"), "k", false};
    UpdateConfig local = strict;
    local.allowsLocalHTTP = true;
    for (const UpdateConfig &config : {strict, local}) {
        EXPECT_TRUE(config.isAllowed(QUrl("https://example.com/x.zip")));
        EXPECT_TRUE(config.isAllowed(QUrl("https://example.com:8443/x.zip")));
        EXPECT_FALSE(config.isAllowed(QUrl("http://localhost:8000/x")));
        EXPECT_FALSE(config.isAllowed(QUrl("http://[::1]:8000/x")));
        EXPECT_FALSE(config.isAllowed(QUrl("ftp://127.0.0.1/x")));
        EXPECT_FALSE(config.isAllowed(QUrl("file:///tmp/x")));
        EXPECT_FALSE(config.isAllowed(QUrl("127.0.0.1/x")));
        EXPECT_FALSE(config.isAllowed(QUrl("https:///x")));
        EXPECT_FALSE(config.isAllowed(QUrl()));
    }
    EXPECT_FALSE(strict.isAllowed(QUrl("http://127.0.0.1:8000/x")));
    EXPECT_TRUE(local.isAllowed(QUrl("http://127.0.0.1:8000/x")));
    EXPECT_TRUE(local.isAllowed(QUrl("http://127.0.0.1/x")));
    EXPECT_FALSE(local.isAllowed(QUrl("http://127.0.0.2/x")));
}

TEST(UpdateConfig, AddressesAreJudgedAsWritten)
{
    UpdateConfig local {QUrl("https://u.example/updates"), "k", true};
    const auto allowed = [&](const char *text) { return local.isAllowed(QString::fromLatin1(text)); };
    EXPECT_TRUE(allowed("https://example.com/x.zip"));
    EXPECT_TRUE(allowed("http://127.0.0.1:8000/x"));
    EXPECT_TRUE(allowed("http://127.0.0.1/x"));
    EXPECT_TRUE(allowed("http://127.0.0.1"));
    EXPECT_TRUE(allowed("http://127.0.0.1?x=1"));
    // Other spellings of the loopback address, which a parsed URL turns into 127.0.0.1.
    for (const char *other :
        {"http://127.1/x", "http://127.0.1:8000/x", "http://0x7f.0.0.1/x", "http://0x7f000001/x", "http://2130706433/x",
            "http://0177.0.0.1/x", "http://127.000.000.001/x", "http://user@127.0.0.1/x", "http://127.0.0.1.:80/x"})
        EXPECT_FALSE(allowed(other)) << other;
    // The scheme exactly as the rule names it.
    for (const char *other : {"HTTPS://example.com/x.zip", "Https://example.com/x", "HTTP://127.0.0.1/x",
             "hTtp://127.0.0.1/x", " https://example.com/x", "https:example.com/x"})
        EXPECT_FALSE(allowed(other)) << other;
    UpdateConfig strict = local;
    strict.allowsLocalHTTP = false;
    EXPECT_FALSE(strict.isAllowed(QStringLiteral("http://127.0.0.1/x")));
    EXPECT_TRUE(strict.isAllowed(QStringLiteral("https://127.0.0.1/x")));
}

TEST(UpdateConfig, ChannelFileIsOnePathComponentOfTheBase)
{
    UpdateConfig config {QUrl("https://u.example/updates"), "k", false};
    EXPECT_EQ(config.channelURL(false), QUrl("https://u.example/updates/manifest.json"));
    config.baseURL = QUrl("https://u.example/updates/");
    EXPECT_EQ(config.channelURL(true), QUrl("https://u.example/updates/beta.json"));
    config.baseURL = QUrl("https://u.example");
    EXPECT_EQ(config.channelURL(false), QUrl("https://u.example/manifest.json"));
}

TEST(UpdateConfig, ComesFromTheBundleInfoPlist)
{
    QTemporaryDir dir;
    const QString plist = dir.path() + "/X.app/Contents/Info.plist";
    auto configOf = [&](const QList<QPair<QString, QString>> &entries) {
        Fixtures::writeInfoPlist(plist, entries);
        const auto bundle = Bundle::at(dir.path() + "/X.app");
        EXPECT_TRUE(bundle);
        return UpdateConfig::fromBundle(*bundle);
    };
    const auto full = configOf({{"VLUpdateBaseURL", "<string>https://u.example/up</string>"},
        {"VLUpdatePublicKey", "<string>KEY=</string>"}, {"VLUpdateAllowLocalHTTP", "<true/>"}});
    ASSERT_TRUE(full);
    EXPECT_EQ(*full, (UpdateConfig {QUrl("https://u.example/up"), "KEY=", true}));

    const auto noFlag = configOf({{"VLUpdateBaseURL", "<string>https://u.example/up</string>"},
        {"VLUpdatePublicKey", "<string>KEY=</string>"}, {"VLUpdateAllowLocalHTTP", "<string>true</string>"}});
    ASSERT_TRUE(noFlag);
    EXPECT_FALSE(noFlag->allowsLocalHTTP) << "only a real boolean counts";

    EXPECT_FALSE(configOf({{"VLUpdateBaseURL", "<string></string>"}, {"VLUpdatePublicKey", "<string>K</string>"}}));
    EXPECT_FALSE(configOf({{"VLUpdateBaseURL", "<string>https://u.example</string>"}}));
    EXPECT_FALSE(configOf(
        {{"VLUpdateBaseURL", "<string>https://u.example</string>"}, {"VLUpdatePublicKey", "<string></string>"}}));
    EXPECT_FALSE(configOf({{"VLUpdateBaseURL", "<integer>3</integer>"}, {"VLUpdatePublicKey", "<string>K</string>"}}));
    EXPECT_FALSE(
        configOf({{"VLUpdateBaseURL", "<string>http://a b</string>"}, {"VLUpdatePublicKey", "<string>K</string>"}}));
    EXPECT_FALSE(UpdateConfig::fromBundle(Bundle())) << "no Info.plist at all";
}

TEST(UpdateError, MessagesAndShortForms)
{
    EXPECT_EQ(UpdateError(UpdateError::server, 503).message(), "O servidor de atualizações respondeu com o erro 503.");
    EXPECT_EQ(UpdateError(UpdateError::server, 404).shortForm(), "server(404)");
    const UpdateError bundle(UpdateError::wrongBundle, UpdateError::differentIdentifier);
    EXPECT_EQ(bundle.message(), "O app da atualização não confere: identificador diferente.");
    EXPECT_EQ(bundle.shortForm(), "wrongBundle(\"identificador diferente\")");
    EXPECT_EQ(UpdateError(UpdateError::wrongBundle, UpdateError::differentBuild).message(),
        "O app da atualização não confere: número de versão diferente do anunciado.");
    EXPECT_EQ(
        UpdateError(UpdateError::notConfigured).message(), "As atualizações não estão configuradas nesta versão.");
    EXPECT_EQ(UpdateError(UpdateError::insecureURL).message(), "O endereço da atualização não usa HTTPS.");
    EXPECT_EQ(
        UpdateError(UpdateError::invalidManifest).message(), "O servidor enviou informações de versão inválidas.");
    EXPECT_EQ(UpdateError(UpdateError::wrongSize).message(), "O arquivo baixado não tem o tamanho esperado.");
    EXPECT_EQ(UpdateError(UpdateError::wrongHash).message(), "O arquivo baixado está corrompido ou foi alterado.");
    EXPECT_EQ(UpdateError(UpdateError::wrongSignature).message(), "A assinatura da atualização não é válida.");
    EXPECT_EQ(UpdateError(UpdateError::invalidPackage).message(), "O pacote da atualização não contém um app válido.");
    EXPECT_EQ(UpdateError(UpdateError::wrongCodeSignature).message(),
        "O app da atualização não tem a mesma assinatura de código deste app.");
    EXPECT_EQ(UpdateError(UpdateError::installerMissing).message(),
        "O instalador de atualizações não foi encontrado neste app.");
    EXPECT_EQ(UpdateError(UpdateError::installerMissing).shortForm(), "installerMissing");
    const UpdateError platform(UpdateError::platform, "Connection refused");
    EXPECT_EQ(platform.message(), "Connection refused");
    EXPECT_EQ(platform.shortForm(), "Connection refused");
}

TEST(RunningBundle, OutsideABundleThereIsNoBuildOrVersion)
{
    EXPECT_EQ(UpdateEngine::currentBuild(), 0);
    EXPECT_EQ(UpdateEngine::currentVersion(), "?");
    EXPECT_FALSE(UpdateEngine::canInstallInPlace());
}

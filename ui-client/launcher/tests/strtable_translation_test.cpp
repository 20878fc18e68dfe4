// The compiled-in translation resource "texts": which files it holds, how
// they are stored, what each .qm contains, and LoadStr through a translator.

#include <QCoreApplication>
#include <QDir>
#include <QResource>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTranslator>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cstring>

#include "strtable.h"

namespace {

const QStringList kLanguages = {"chs", "cht", "csy", "dan", "enu", "fre", "ger", "hun",
                                "ita", "jpn", "krn", "nld", "nor", "plk", "ptb",
                                "ptg", "rus", "spn", "sve", "tha", "trk"};
const QStringList kUncompressed = {"chs", "cht", "jpn", "krn"};
const int kDistinctTexts = 924;

// The launcher's own texts, which every language translates.
const int kLauncherTexts[] = {521, 537, 841, 562, 563};

QString ResourcePath(const QString& code)
{
    return ":/" + code + ".qm";
}

// Sections of a compiled translation file, by tag, with their sizes.
struct QmLayout {
    bool valid = false;
    QList<int> tags;
    quint32 hash_bytes = 0;
};

QmLayout ParseQm(const QByteArray& data)
{
    static const uchar kMagic[16] = {0x3c, 0xb8, 0x64, 0x18, 0xca, 0xef, 0x9c, 0x95,
                                     0xcd, 0x21, 0x1c, 0xbf, 0x60, 0xa1, 0xbd, 0xdd};
    QmLayout layout;
    if (data.size() < 16 || std::memcmp(data.constData(), kMagic, 16) != 0)
        return layout;
    const uchar* bytes = reinterpret_cast<const uchar*>(data.constData());
    qsizetype pos = 16;
    while (pos + 5 <= data.size()) {
        const int tag = bytes[pos];
        const quint32 length = qFromBigEndian<quint32>(bytes + pos + 1);
        pos += 5;
        if (pos + qsizetype(length) > data.size())
            return layout;
        layout.tags.append(tag);
        if (tag == 0x42)
            layout.hash_bytes = length;
        pos += length;
    }
    layout.valid = pos == data.size();
    return layout;
}

QStringList DistinctSources()
{
    QStringList sources;
    QSet<QString> seen;
    for (int i = 0; i < StrTable::kStrCount; ++i) {
        const QString text = QString::fromUtf8(StrTable::stab[i]);
        if (!seen.contains(text)) {
            seen.insert(text);
            sources.append(text);
        }
    }
    return sources;
}

// Installs the translation of one language for the lifetime of the object.
class InstalledLanguage {
public:
    explicit InstalledLanguage(const QString& code)
    {
        loaded_ = translator_.load(ResourcePath(code));
        installed_ = loaded_ && QCoreApplication::installTranslator(&translator_);
    }
    ~InstalledLanguage()
    {
        if (installed_)
            QCoreApplication::removeTranslator(&translator_);
    }
    bool installed() const { return installed_; }

private:
    QTranslator translator_;
    bool loaded_ = false;
    bool installed_ = false;
};

}  // namespace

TEST(TranslationResource, HoldsOneFilePerLanguageStoredAsRequired)
{
    QStringList expected;
    for (const QString& code : kLanguages)
        expected.append(code + ".qm");
    QStringList present = QDir(":/").entryList({"*.qm"}, QDir::Files, QDir::Name);
    EXPECT_EQ(present, expected);

    for (const QString& code : kLanguages) {
        QResource resource(ResourcePath(code));
        ASSERT_TRUE(resource.isValid()) << qPrintable(code);
        const QResource::Compression wanted =
            kUncompressed.contains(code) ? QResource::NoCompression : QResource::ZlibCompression;
        EXPECT_EQ(resource.compressionAlgorithm(), wanted) << qPrintable(code);
        if (wanted == QResource::ZlibCompression) {
            // Stored form: big-endian length of the plain data, then the stream.
            const QByteArray stored(reinterpret_cast<const char*>(resource.data()), int(resource.size()));
            ASSERT_GT(stored.size(), 6);
            EXPECT_EQ(qFromBigEndian<quint32>(stored.constData()), quint32(resource.uncompressedSize()))
                << qPrintable(code);
            EXPECT_EQ(quint8(stored[4]), 0x78) << qPrintable(code);  // zlib header
        }
    }
}

TEST(TranslationResource, EachFileHasOnlyHashAndMessagesForEveryText)
{
    const QStringList sources = DistinctSources();
    ASSERT_EQ(sources.size(), kDistinctTexts);
    for (const QString& code : kLanguages) {
        QResource resource(ResourcePath(code));
        const QmLayout layout = ParseQm(resource.uncompressedData());
        ASSERT_TRUE(layout.valid) << qPrintable(code);
        EXPECT_EQ(layout.tags, (QList<int>{0x42, 0x69})) << qPrintable(code);
        EXPECT_EQ(layout.hash_bytes, quint32(kDistinctTexts * 8)) << qPrintable(code);

        QTranslator translator;
        ASSERT_TRUE(translator.load(ResourcePath(code))) << qPrintable(code);
        EXPECT_FALSE(translator.isEmpty()) << qPrintable(code);
        int missing = 0;
        for (const QString& source : sources) {
            const QByteArray utf8 = source.toUtf8();
            if (translator.translate("global", utf8.constData()).isEmpty())
                ++missing;
        }
        EXPECT_EQ(missing, 0) << qPrintable(code);
    }
}

TEST(TranslationResource, EnglishMapsEveryTextToItself)
{
    QTranslator english;
    ASSERT_TRUE(english.load(ResourcePath("enu")));
    for (const QString& source : DistinctSources()) {
        const QByteArray utf8 = source.toUtf8();
        EXPECT_EQ(english.translate("global", utf8.constData()), source);
    }
}

TEST(TranslationResource, EveryLanguageTranslatesTheLauncherTexts)
{
    for (const QString& code : kLanguages) {
        if (code == "enu")
            continue;
        QTranslator translator;
        ASSERT_TRUE(translator.load(ResourcePath(code))) << qPrintable(code);
        for (int id : kLauncherTexts) {
            const QString english = QString::fromUtf8(StrTable::stab[id]);
            const QString translated = translator.translate("global", StrTable::stab[id]);
            EXPECT_NE(translated, english) << qPrintable(code) << " id " << id;
            // Placeholders survive and the product name stays as it is.
            EXPECT_EQ(translated.count("%1"), english.count("%1")) << qPrintable(code) << " id " << id;
            EXPECT_EQ(translated.contains("Lumora"), english.contains("Lumora"))
                << qPrintable(code) << " id " << id;
        }
        EXPECT_EQ(translator.translate("global", StrTable::stab[559]), QStringLiteral("Lumora"))
            << qPrintable(code);
    }
}

TEST(TranslationLoad, GermanReplacesEnglishWhileInstalled)
{
    const QString english = StrTable::LoadStr(537);
    EXPECT_EQ(english, QStringLiteral("%1 is initializing..."));
    {
        InstalledLanguage german("ger");
        ASSERT_TRUE(german.installed());
        EXPECT_EQ(StrTable::LoadStr(537), QStringLiteral("%1 wird initialisiert..."));
        EXPECT_EQ(StrTable::LoadStr(537).arg(StrTable::LoadStr(841)),
                  QStringLiteral("Lumora-Client wird initialisiert..."));
        EXPECT_EQ(StrTable::LoadStr(559), QStringLiteral("Lumora"));
        // Texts without a German form yet come back in English.
        EXPECT_EQ(StrTable::LoadStr(0), QStringLiteral("Deleted"));
    }
    EXPECT_EQ(StrTable::LoadStr(537), english);
}

TEST(TranslationLoad, LanguageWithoutFileLeavesEnglish)
{
    QTranslator translator;
    EXPECT_FALSE(translator.load(ResourcePath("xyz")));
    EXPECT_TRUE(translator.isEmpty());
    EXPECT_FALSE(QResource(ResourcePath("xyz")).isValid());
    EXPECT_EQ(StrTable::LoadStr(841), QStringLiteral("Lumora Client"));
    EXPECT_EQ(StrTable::LoadStr(521), QStringLiteral("%1 is ready."));
}

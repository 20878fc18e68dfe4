// The compiled-in translation resource "texts": which files it holds, how they
// are stored, what each .qm contains, and LoadStr through a translator.
#include <QCoreApplication>
#include <QDir>
#include <QResource>
#include <QSet>
#include <QTranslator>
#include <QtEndian>
#include <gtest/gtest.h>
#include <cstring>
#include "strtable.h"

// The section tags of a compiled translation file and the hash section's size.
static bool ParseQm(const QByteArray& data, QList<int>* tags, quint32* hashBytes)
{
    static const char kMagic[] = "\x3c\xb8\x64\x18\xca\xef\x9c\x95\xcd\x21\x1c\xbf\x60\xa1\xbd\xdd";
    if (data.size() < 16 || std::memcmp(data.constData(), kMagic, 16) != 0)
        return false;
    const uchar* bytes = reinterpret_cast<const uchar*>(data.constData());
    qsizetype pos = 16;
    while (pos + 5 <= data.size()) {
        const quint32 length = qFromBigEndian<quint32>(bytes + pos + 1);
        tags->append(bytes[pos]);
        if (bytes[pos] == 0x42)
            *hashBytes = length;
        pos += 5 + qsizetype(length);
    }
    return pos == data.size();
}

TEST(TranslationResource, HoldsEveryTextForEachLanguageStoredAsRequired)
{
    const QStringList codes = {"chs", "cht", "csy", "dan", "enu", "fre", "ger", "hun", "ita", "jpn", "krn",
                               "nld", "nor", "plk", "ptb", "ptg", "rus", "spn", "sve", "tha", "trk"};
    EXPECT_EQ(QDir(":/").entryList({"*.qm"}).size(), codes.size());  // and no other
    QSet<QString> sources;
    for (int i = 0; i < StrTable::kStrCount; ++i)
        sources.insert(StrTable::stab[i]);
    ASSERT_EQ(sources.size(), 924);

    for (const QString& code : codes) {
        const QResource resource(":/" + code + ".qm");
        ASSERT_TRUE(resource.isValid()) << qPrintable(code);
        const bool plain = QStringList{"chs", "cht", "jpn", "krn"}.contains(code);
        EXPECT_EQ(resource.compressionAlgorithm(), plain ? QResource::NoCompression : QResource::ZlibCompression)
            << qPrintable(code);
        QList<int> tags;  // with the hash section's size
        quint32 hashBytes = 0;
        ASSERT_TRUE(ParseQm(resource.uncompressedData(), &tags, &hashBytes)) << qPrintable(code);
        EXPECT_EQ(tags, (QList<int>{0x42, 0x69})) << qPrintable(code);  // hashes and messages only
        EXPECT_EQ(hashBytes, 924u * 8) << qPrintable(code);

        QTranslator translator;
        ASSERT_TRUE(translator.load(":/" + code + ".qm")) << qPrintable(code);
        int missing = 0;
        for (const QString& source : sources) {
            const QString text = translator.translate("global", source.toUtf8().constData());
            missing += text.isEmpty() || (code == "enu" && text != source);
        }
        EXPECT_EQ(missing, 0) << qPrintable(code);
    }
}

TEST(TranslationResource, InstalledLanguageReplacesEnglishUntilRemoved)
{
    QTranslator german;
    ASSERT_TRUE(german.load(":/ger.qm"));
    ASSERT_TRUE(QCoreApplication::installTranslator(&german));
    const QString initializing = StrTable::LoadStr(537).arg(StrTable::LoadStr(841));
    EXPECT_TRUE(initializing.contains("Lumora") && initializing != "Lumora Client is initializing...")
        << initializing.toStdString();
    EXPECT_EQ(StrTable::LoadStr(559).toStdString(), "Lumora");  // a name stays as it is
    QCoreApplication::removeTranslator(&german);
    EXPECT_EQ(StrTable::LoadStr(537).toStdString(), "%1 is initializing...");

    // A code without a file loads nothing and leaves English.
    QTranslator none;
    EXPECT_FALSE(none.load(":/xyz.qm"));
    EXPECT_EQ(StrTable::LoadStr(841).toStdString(), "Lumora Client");
}

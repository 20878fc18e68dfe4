#include "strtable.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QLatin1String>
#include <QtGlobal>

#include "strtable_data.h"

static_assert(StrTable::Generated::kCount == StrTable::kStrCount,
              "strings.tsv does not hold the expected number of entries");

namespace StrTable {

const char* ktab[kStrCount] = {};
const char* stab[kStrCount] = {};

void InitStrTable()
{
    for (int i = 0; i < kStrCount; ++i) {
        ktab[i] = Generated::kKeys[i];
        stab[i] = Generated::kTexts[i];
    }
}

QString LoadStr(int id)
{
    if (id < 0 || id >= kStrCount || !stab[id])
        return QString();
    QString text = QCoreApplication::translate("global", stab[id], nullptr, -1);
    text.replace(QLatin1String("\\n"), QLatin1String("\n"));
    text.replace(QLatin1String("\\t"), QLatin1String("\t"));
    return text;
}

int LookupStrID(QString key)
{
    const QByteArray local = key.toLocal8Bit();
    for (int i = 0; i < kStrCount; ++i) {
        if (ktab[i] && qstricmp(local.constData(), ktab[i]) == 0)
            return i;
    }
    return -1;
}

}  // namespace StrTable

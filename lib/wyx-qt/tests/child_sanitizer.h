// Leak checking of child processes that build an application object.
#pragma once

#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QString>

namespace wyxqt_test {

// Qt 5.15's offscreen plug-in never frees its screen: under AddressSanitizer, children on that
// platform get the project's leak suppressions plus one for it, in a file in scratchDir.
inline void SuppressOffscreenLeaks([[maybe_unused]] QProcessEnvironment& env, [[maybe_unused]] const QString& scratchDir)
{
#if defined(__SANITIZE_ADDRESS__)
    QString options = env.value(QStringLiteral("LSAN_OPTIONS"));
    QByteArray rules;
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("suppressions=([^: ,]+)")).match(options);
    if (m.hasMatch()) {
        QFile shared(m.captured(1));
        if (shared.open(QIODevice::ReadOnly))
            rules = shared.readAll() + '\n';
        options.remove(m.capturedStart(), m.capturedLength());
    }
    rules += "leak:libqoffscreen\n";
    QFile file(scratchDir + QStringLiteral("/lsan-children.supp"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(rules) != rules.size())
        return;
    options += (options.isEmpty() ? QString() : QStringLiteral(":")) + QStringLiteral("suppressions=") + file.fileName();
    env.insert(QStringLiteral("LSAN_OPTIONS"), options);
#endif
}

}  // namespace wyxqt_test

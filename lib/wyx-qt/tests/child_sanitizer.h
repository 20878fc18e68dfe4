// Leak checking of child processes that build an application object.
#pragma once

#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QString>

namespace wyxqt_test {

// Qt 5.15's offscreen platform plug-in never frees its screen. In a build
// with AddressSanitizer, children that run on that platform get the
// project's leak suppressions plus one for the plug-in, written to a file in
// scratchDir. Other builds leave the environment alone.
inline void SuppressOffscreenLeaks(QProcessEnvironment& env, const QString& scratchDir)
{
#if defined(__SANITIZE_ADDRESS__)
    const QRegularExpression option(QStringLiteral("suppressions=([^: ,]+)"));
    QString options = env.value(QStringLiteral("LSAN_OPTIONS"));
    QByteArray rules;
    const QRegularExpressionMatch m = option.match(options);
    if (m.hasMatch()) {
        QFile shared(m.captured(1));
        if (shared.open(QIODevice::ReadOnly))
            rules = shared.readAll() + '\n';
        options.remove(m.capturedStart(), m.capturedLength());
    }
    rules += "leak:libqoffscreen\n";
    const QString path = scratchDir + QStringLiteral("/lsan-children.supp");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(rules) != rules.size())
        return;
    file.close();
    options += (options.isEmpty() ? QString() : QStringLiteral(":")) + QStringLiteral("suppressions=") + path;
    env.insert(QStringLiteral("LSAN_OPTIONS"), options);
#else
    (void)env;
    (void)scratchDir;
#endif
}

}  // namespace wyxqt_test

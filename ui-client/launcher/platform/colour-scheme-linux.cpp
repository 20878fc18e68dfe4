#include "platform/colour-scheme.h"

#include <QColor>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace {

bool DarkThemeName(const QString& name)
{
    const QString lower = name.trimmed().toLower();
    return lower.endsWith(QLatin1String(":dark")) || lower.endsWith(QLatin1String("-dark"));
}

}  // namespace

// GTK_THEME (a session-wide override such as "Adwaita:dark"), then GTK 3's
// own settings file: the choices GNOME-like desktops leave where other
// toolkits can read them without a session bus.
bool DesktopPrefersDark()
{
    if (DarkThemeName(qEnvironmentVariable("GTK_THEME")))
        return true;
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    QSettings settings(config + QStringLiteral("/gtk-3.0/settings.ini"), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("Settings"));
    const QString prefer = settings.value(QStringLiteral("gtk-application-prefer-dark-theme")).toString().toLower();
    return prefer == QLatin1String("1") || prefer == QLatin1String("true") ||
           DarkThemeName(settings.value(QStringLiteral("gtk-theme-name")).toString());
}

QPalette DarkPalette(const QPalette& base)
{
    QPalette dark(base);
    const QColor window(0x2d, 0x2d, 0x2d), text(0xee, 0xee, 0xee), field(0x1e, 0x1e, 0x1e);
    dark.setColor(QPalette::Window, window);
    dark.setColor(QPalette::WindowText, text);
    dark.setColor(QPalette::Base, field);
    dark.setColor(QPalette::AlternateBase, window);
    dark.setColor(QPalette::Text, text);
    dark.setColor(QPalette::Button, window);
    dark.setColor(QPalette::ButtonText, text);
    dark.setColor(QPalette::ToolTipBase, window);
    dark.setColor(QPalette::ToolTipText, text);
    dark.setColor(QPalette::Highlight, QColor(0x35, 0x84, 0xe4));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    dark.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
    return dark;
}

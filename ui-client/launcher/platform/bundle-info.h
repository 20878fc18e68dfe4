// What the launcher reads from a bundle's Contents/Info.plist.
#pragma once

#include <QString>

class BundleInfo {
public:
    // The CFBundleExecutable value of the property list at `plistPath`: a
    // plain file name. Empty, with the reason in `error`, when the file is
    // missing or malformed, the key is absent, or the value is not a plain name.
    static QString ExecutableName(const QString& plistPath, QString* error);

    // `bundle`/Contents/MacOS/<CFBundleExecutable>; empty on failure as above.
    static QString ExecutablePath(const QString& bundle, QString* error);
};

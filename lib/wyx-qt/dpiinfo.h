// Display scale of the primary screen, and style sheets adapted to it.
#pragma once

#include <QString>

#include <atomic>

// The scale is the primary screen's logical DPI over 96, rounded to a
// quarter and never below 1.0. On Linux, Qt lays widgets out in device
// pixels unless its own high-DPI scaling is on, while fonts follow the
// logical DPI; scaling fixed pixel sizes by the same ratio keeps a window
// in proportion with its text. When Qt scales itself the logical DPI stays
// at 96 and the ratio at 1.0, so nothing is scaled twice. With no screen
// (or no GUI application yet) the scale is 1.0.
class DPIinfo {
public:
    static DPIinfo* getInstance();

    double getDPI() const;

    // Fixes the scale (tests, or a user override); a value of 0 or less
    // returns to measuring the screen.
    void setDPI(double scale);

    // The sheet with every pixel length ("12px", "1.5px") multiplied by the
    // scale and rounded to whole pixels.
    QString getScaledStyleSheet(const QString& styleSheet) const;

    static QString scaleStyleSheet(const QString& styleSheet, double scale);

    // The scale for a logical DPI value, by the rule above.
    static double scaleForLogicalDpi(double logicalDpi);

private:
    DPIinfo() = default;

    std::atomic<double> m_override{0.0};
};

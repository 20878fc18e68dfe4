// The client's window: its name and version.
#pragma once

#include <QWidget>

class ClientWindow : public QWidget {
    Q_OBJECT

public:
    ClientWindow(const QString& name, const QString& version, QWidget* parent = nullptr);
};

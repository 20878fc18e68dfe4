// Opens the bundle as a new application instance with /usr/bin/open.
#pragma once

#include "platform/app-opener.h"

class MacAppOpener : public AppOpener {
public:
    bool OpenNewInstance(const QString& bundle, QString* error) override;
};

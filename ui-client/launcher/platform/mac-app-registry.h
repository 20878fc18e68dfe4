// Unregisters the bundle with the LaunchServices registration tool.
#pragma once

#include "platform/app-registry.h"

class MacAppRegistry : public AppRegistry {
public:
    int Unregister(const QString& bundle, QString* error) override;
};

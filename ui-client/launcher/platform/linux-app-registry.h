// Forgets the client's desktop entry when it points into the bundle.
#pragma once

#include "platform/app-registry.h"

class LinuxAppRegistry : public AppRegistry {
public:
    int Unregister(const QString& bundle, QString* error) override;

    // True when `program` lies below the folder `bundle`.
    static bool PointsInto(const QString& program, const QString& bundle);
};

// The platform half of the upgrade service: the upgrade decision, the order
// of the steps, stopping the client through its process-id file and starting
// the per-user bundle. The platform tools it needs are reached through the
// small interfaces of platform/ so tests can substitute them.
#pragma once

#include <QString>

#include "cloud-service.h"

class MacService : public Service {
public:
    MacService();
    ~MacService() override;

    void StopService() override;
    int HandlePackageUpgrade() override;
    void PostUpgrade() override;
    void PreUpgrade() override;
    bool IsNeedUpgrade() override;

    // Stops the client whose "ui.pid" lies in `folder`; uses no member.
    void StopServiceByPath(const QString& folder);
    // True when the per-user client executable exists (type and mode not examined).
    bool PerUserBinPathExist();
    // Unregisters and starts the per-user bundle: 0 when started, -1 otherwise.
    int LaunchPerUserBin();

    void LoadSourceVerInfo();
    void LoadTargetVerInfo();

    // Process-wide instance, built on first use; the worker makes its own.
    static MacService* GetInstace();

private:
    bool StopClientByPath(const QString& folder);
    void MigrateIfStopped(const QString& earlier);

    bool migration_tried = false;  // this run has stopped the earlier client to migrate
};

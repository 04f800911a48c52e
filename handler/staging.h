// Installer staging: the patch's dependency archive is downloaded (ordinary
// mode), its oracle folder extracted with the agent's archive tool and copied
// into the system profile's LocalLow folder; in software-deployment mode the
// installer is run too and obsolete updates are removed after it.
#pragma once
#include <cstdint>

// 0, -1 (download failed), the extraction's result, the installer's result or
// the result of the obsolete-update removal.
int32_t JavaPreInstaller();

// The batch run's options taken from the settings model at the moment a run acts on them.
#pragma once

#include "engine/BatchRun.h"
#include "settings/Settings.h"

namespace qk::core {

void SyncBatchOptions(const settings::SettingsModel& model, engine::BatchOptions& options);

} // namespace qk::core

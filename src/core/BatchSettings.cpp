#include "core/BatchSettings.h"

namespace qk::core {

void SyncBatchOptions(const settings::SettingsModel& model, engine::BatchOptions& options) {
  options.Engine.ProcessMsgInterval = model.ProcessMsgInterval;
  options.Engine.SkipNonHMAC = model.SkipNonHMAC;
  options.WipeSource = model.WipeSource;
  options.WipeDecSource = model.WipeDecSource;
  options.ReEnc = model.ReEnc;
  options.SaveHint = model.SaveHint;
  options.DontClearPassBox = model.DontClearPassBox;
  options.AddHMAC = model.AddHMAC;
  options.Algorithm = model.Algorithm;
  options.NameMode = model.NameMode();
  options.OwnExtStr = model.OwnExtStr;
}

} // namespace qk::core

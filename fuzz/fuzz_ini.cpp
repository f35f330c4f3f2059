// INI reader over arbitrary files: every lookup decodes, and an update keeps a readable file
// whose value reads back.
#include "settings/IniUnit.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  qk::settings::IniDocument doc(text);
  for (const char* key : {"SECLEVEL", "PASSHINT", "X", "OWN_EXT_STR", "DBCHK"}) {
    (void)doc.GetInteger("SYSTEM", key, 2);
    (void)doc.GetBool("SYSTEM", key, true);
    (void)doc.GetString("SYSTEM", key, "");
    (void)qk::settings::DecodeIniInteger(doc.GetString("SYSTEM", key, ""), 0);
  }
  doc.Set("SYSTEM", "PASSHINT", "ヒント value");
  doc.SetInteger("WINDOWPOS", "X", -123);
  const qk::settings::IniDocument again(doc.Text());
  if (again.GetString("SYSTEM", "PASSHINT", "") != "ヒント value") std::abort();
  if (again.GetInteger("WINDOWPOS", "X", 0) != -123) std::abort();
  return 0;
}

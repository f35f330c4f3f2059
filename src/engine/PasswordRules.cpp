#include "engine/PasswordRules.h"

#include "platform/CodePage.h"
#include "platform/Hardening.h"
#include "platform/SecretText.h"

namespace qk::engine {

std::size_t MinimumPasswordBytes(int secLevel) {
  switch (secLevel) {
  case 2:
    return 6;
  case 3:
    return 10;
  case 4:
    return 20;
  default:
    return 1;
  }
}

std::string SecurityLevelMessage(int secLevel) {
  const char* level = "";
  const char* count = "";
  switch (secLevel) {
  case 2:
    level = "２";
    count = "６";
    break;
  case 3:
    level = "３";
    count = "１０";
    break;
  case 4:
    level = "４";
    count = "２０";
    break;
  default:
    return std::string();
  }
  return std::string("セキュリティレベルが") + level + "に設定されており、このレベルでは" + count +
         "文字以上のパスワードを入力する必要があります。「オプション」でセキュリティレベルを変更す"
         "るか"
         "、パスワードを長くしてください。";
}

std::optional<std::string> CheckPassword(std::string_view password,
                                         std::optional<std::string_view> confirmation,
                                         bool forDecrypt, int secLevel, std::string_view hint) {
  if (confirmation && *confirmation != password) return std::string(kPasswordMismatch);
  if (password.empty()) return std::string(kPasswordEmpty);
  if (!forDecrypt) {
    // Counted in the bytes the key is made from; the copy is cleared before it is freed.
    std::string bytes = platform::ToSystemCodePage(password);
    const std::size_t length = bytes.size();
    platform::SecureClear(bytes);
    if (length < MinimumPasswordBytes(secLevel)) return SecurityLevelMessage(secLevel);
    if (hint.find(password) != std::string_view::npos) return std::string(kHintHoldsPassword);
  }
  return std::nullopt;
}

} // namespace qk::engine

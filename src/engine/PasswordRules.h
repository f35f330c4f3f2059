// The checks a typed password passes before a run, shared by the password dialog and the
// command-line front end.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qk::engine {

inline constexpr const char* kPasswordMismatch =
    "入力されたパスワードが再入力されたパスワードと一致しません。再度入力してください。";
inline constexpr const char* kPasswordEmpty = "パスワードが入力されていません。";
inline constexpr const char* kHintHoldsPassword =
    "ヒントにパスワードが含まれています。ヒントは暗号化ファイルに記録され、パスワードなしで誰でも"
    "読めます。パスワードを含まないヒントにしてください。";

// Minimum length in system-code-page bytes for a security level (1 for level 1 and others).
std::size_t MinimumPasswordBytes(int secLevel);
// The refusal text of a level whose minimum the password misses.
std::string SecurityLevelMessage(int secLevel);

// The first failing check, in the dialog's order: confirmation (when given), empty, minimum
// length for encryption, and for encryption a hint that holds the password (the hint is stored
// readable in every container). None when the password passes.
std::optional<std::string> CheckPassword(std::string_view password,
                                         std::optional<std::string_view> confirmation,
                                         bool forDecrypt, int secLevel, std::string_view hint = {});

} // namespace qk::engine

// What happened to one file: the outcome of an encryption, decryption, wipe or verification, with
// the path it was given, the output it wrote and the system's error number. The Japanese result
// texts of the list and the stable English keys of scripts are both made from the outcome, in one
// table; nothing decides on a text.
#pragma once

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qk::engine {

enum class Outcome {
  Encrypted,       // "暗号化成功："
  EncryptFailed,   // "＊暗号化失敗＊：" (open, read, write, a proof that failed ...)
  SourceChanged,   // "＊暗号化失敗＊：": the source's size changed while it was read
  EncryptReadOnly, // "＊暗号化失敗(読み取り専用です)："
  EncryptNameTooLong, // "＊暗号化失敗(処理元ファイル名が半角200文字以上です。)："
  UnexpectedError,       // "＊予期せぬエラー：" (no naming mode)
  Decrypted,             // "復号成功(改ざん検知照合OK) : "
  DecryptedNoTamperCode, // "復号成功(改ざん検知情報無し) : "
  OldFormat,             // "＊古い形式です。Ver2.1で復号して下さい："
  InvalidFormat,         // "＊不正なファイル形式です："
  NoTamperCode,          // the refusal of a container without a code (SKIPNONHMAC)
  WrongPassword,         // "＊パスワードが違います："
  TamperMismatch,        // "＊復号できません。…（HMAC値不一致）："
  InvalidFile,           // "＊ファイルが不正です："
  DecryptFailed,         // "＊復号不可："
  DecryptReadOnly,       // "＊復号失敗(読み取り専用です)："
  DecryptNameTooLong, // "＊復号失敗(処理元ファイル名が半角200文字以上です。)："
  Wiped,              // "抹消成功 : "
  WipeFailed,         // "＊抹消不可(…) : "
  FolderUnreadable, // "＊フォルダを読めません(reason)：" a folder whose files were not reached
  HintUnreadable, // "＊エラー：形式外または読み取り専用です。＊" (the hint column)
  Verified,       // a container proved sound, its tamper code included
  VerifiedNoTamperCode, // proved sound as far as password and structure go: it has no code
  // Found in a folder by a run that resumes an earlier one: neither a success nor a failure.
  SkippedContainer, // a container already, by its content: not encrypted again
  AlreadyEncrypted, // its container beside it holds exactly this file already
  AlreadyDecrypted, // its decrypted file beside it holds exactly its plaintext already
  SkippedPlain,     // not a container, by its content: nothing to decrypt
};

// What became of the source after a successful operation.
enum class SourceWipe {
  NotAsked, // no wipe was asked for (or the operation failed)
  Wiped,
  Failed,  // the wipe failed: the entry counts as a failure, the output stays
  Changed, // not wiped: the source changed after it was read; a failure, the output stays
  Skipped, // its overwrite was cut short (the skip button, a run that stopped): only deleted
  Stopped, // not begun: the run stopped before it; the source stays beside its output
};

struct FileResult {
  Outcome outcome = Outcome::EncryptFailed;
  std::string path;   // the file the operation was given
  std::string output; // the file written, when one was; empty otherwise
  int error = 0;      // errno of the system call that failed, when one did
  SourceWipe sourceWipe = SourceWipe::NotAsked;
  // A decryption that wrote its output: the date stored for it (packed; -1 for none), and whether
  // it takes the container's name once the container is gone (it was named aside meanwhile).
  std::int32_t fileDate = -1;
  bool renameAfter = false;
  // The permission bits of the file the operation was given, as it was opened (0 when it was not).
  std::uint32_t sourceMode = 0;
};

// The Japanese result text of an outcome, as the list shows it in front of the path.
std::string_view ResultText(Outcome outcome);
// The text of a whole result: the outcome's text (for an unreadable folder with the reason in
// it), and the wipe failure text after it when the source wipe failed. The list writes the path
// after it.
std::string ResultText(const FileResult& result);
// A stable English key of the outcome ("encrypted", "wrong-password", ...), for scripts.
std::string_view ResultKey(Outcome outcome);
// "wiped", "wipe-failed" or "source-changed" for a source wipe; empty when none was asked for.
std::string_view SourceWipeKey(SourceWipe wipe);
// Why the source of result was not wiped, in English, when it was kept because it changed;
// empty otherwise.
std::string_view SourceWipeReason(const FileResult& result);

// The error a file carries when it ends before its container does: too short to be a container,
// or one cut short. No system call fails with it on a regular file.
inline constexpr int ContainerCutShort = ENODATA;

// Why a system call failed, in Japanese, from its error number ("空き容量が不足しています", ...);
// empty for 0. A number without a reason of its own is shown with its value.
std::string ErrorReason(int error);
// Why a file failed, in Japanese, beside the result text (which stays as it is): the reason of
// the error number, refined where the folder tells more (an access refused in a folder that
// cannot take new files), or the reason an outcome carries by itself (a source that changed
// while it was read). Empty for a success, and when the result text says all that is known.
std::string FailureReason(const FileResult& result);

// True for the outcomes of work done as asked.
bool Succeeded(Outcome outcome);
// True when the entry counts as a failure: the outcome, or the source wipe after it.
bool Failed(const FileResult& result);
// True for the outcomes of a resumed run's files whose work was done before.
bool DoneBefore(Outcome outcome);

// The hint stored in a container, or why it could not be read.
struct StoredHint {
  std::optional<std::string> hint; // UTF-8; set when the hint could be read (maybe empty)
  Outcome failure = Outcome::HintUnreadable;
  int error = 0;
  // The text of the hint column: the hint, or the failure's text.
  std::string Text() const;
};

} // namespace qk::engine

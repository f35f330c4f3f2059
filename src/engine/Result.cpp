#include "engine/Result.h"

#include "platform/FileSystem.h"
#include "platform/PathText.h"

#include <array>
#include <cerrno>
#include <cstring>

namespace qk::engine {

namespace {

struct Row {
  Outcome outcome;
  std::string_view key;
  std::string_view text;
};

constexpr std::string_view kEncryptFailedText = "＊暗号化失敗＊：";

// Every outcome, its key and its text. The order follows the enumeration.
constexpr std::array kTable{
    Row{Outcome::Encrypted, "encrypted", "暗号化成功："},
    Row{Outcome::EncryptFailed, "encrypt-failed", kEncryptFailedText},
    Row{Outcome::SourceChanged, "source-changed", kEncryptFailedText},
    Row{Outcome::EncryptReadOnly, "read-only", "＊暗号化失敗(読み取り専用です)："},
    Row{Outcome::EncryptNameTooLong, "name-too-long",
        "＊暗号化失敗(処理元ファイル名が半角200文字以上です。)："},
    Row{Outcome::UnexpectedError, "unexpected-error", "＊予期せぬエラー："},
    Row{Outcome::Decrypted, "decrypted", "復号成功(改ざん検知照合OK) : "},
    Row{Outcome::DecryptedNoTamperCode, "decrypted-without-tamper-code",
        "復号成功(改ざん検知情報無し) : "},
    Row{Outcome::OldFormat, "old-format", "＊古い形式です。Ver2.1で復号して下さい："},
    Row{Outcome::InvalidFormat, "invalid-format", "＊不正なファイル形式です："},
    Row{Outcome::NoTamperCode, "no-tamper-code",
        "＊改ざん検知情報がないため処理できません。処理したい場合はオプション画面で「改ざん検知情報"
        "が無いファイルは復号しない」をオフにして下さい。："},
    Row{Outcome::WrongPassword, "wrong-password", "＊パスワードが違います："},
    Row{Outcome::TamperMismatch, "tamper-mismatch",
        "＊復号できません。データが破損または変更されているか、パスワードが違います。（HMAC値不一致"
        "）："},
    Row{Outcome::InvalidFile, "invalid-file", "＊ファイルが不正です："},
    Row{Outcome::DecryptFailed, "decrypt-failed", "＊復号不可："},
    Row{Outcome::DecryptReadOnly, "read-only", "＊復号失敗(読み取り専用です)："},
    Row{Outcome::DecryptNameTooLong, "name-too-long",
        "＊復号失敗(処理元ファイル名が半角200文字以上です。)："},
    Row{Outcome::Wiped, "wiped", "抹消成功 : "},
    Row{Outcome::WipeFailed, "wipe-failed",
        "＊抹消不可(ファイルが無効or読み取り専用orロックされている可能性があります。) : "},
    Row{Outcome::FolderUnreadable, "folder-unreadable", "＊フォルダを読めません："},
    Row{Outcome::HintUnreadable, "hint-unreadable", "＊エラー：形式外または読み取り専用です。＊"},
    Row{Outcome::Verified, "verified", "検証成功(改ざん検知照合OK) : "},
    Row{Outcome::VerifiedNoTamperCode, "verified-without-tamper-code",
        "検証成功(改ざん検知情報無し・パスワードと構造のみ確認) : "},
    Row{Outcome::SkippedContainer, "skipped-container", "スキップ(暗号化ファイルです)："},
    Row{Outcome::AlreadyEncrypted, "already-encrypted",
        "スキップ(同じ内容の暗号化ファイルがあります)："},
    Row{Outcome::AlreadyDecrypted, "already-decrypted",
        "スキップ(同じ内容の復号済みファイルがあります)："},
    Row{Outcome::SkippedPlain, "skipped-not-container", "スキップ(暗号化ファイルではありません)："},
};

constexpr bool TableInOrder() {
  for (std::size_t i = 0; i < kTable.size(); ++i)
    if (static_cast<std::size_t>(kTable[i].outcome) != i) return false;
  return kTable.back().outcome == Outcome::SkippedPlain;
}
static_assert(TableInOrder(), "one row per outcome, in the enumeration's order");

const Row& RowOf(Outcome outcome) {
  return kTable[static_cast<std::size_t>(outcome)];
}

} // namespace

std::string_view ResultText(Outcome outcome) {
  return RowOf(outcome).text;
}

namespace {

// Why a folder could not be read, in words for the list.
std::string FolderReason(int error) {
  switch (error) {
  case EACCES:
  case EPERM:
    return "アクセス権がありません";
  case ELOOP:
    return "シンボリックリンクに置き換えられています";
  case ESTALE:
    return "一覧の作成後に別のフォルダに置き換えられています";
  case ENOTDIR:
    return "フォルダではなくなっています";
  case EMFILE:
  case ENFILE:
    return "開いているファイルが多すぎます";
  case EIO:
    return "入出力エラー";
  default:
    return std::strerror(error);
  }
}

} // namespace

std::string ResultText(const FileResult& result) {
  if (result.outcome == Outcome::FolderUnreadable && result.error != 0)
    return "＊フォルダを読めません(" + FolderReason(result.error) + ")：";
  std::string text(ResultText(result.outcome));
  // Work done before that this run only finished with the wipe.
  if (DoneBefore(result.outcome) && result.sourceWipe == SourceWipe::Wiped)
    text.replace(0, std::string_view("スキップ").size(), "抹消のみ");
  switch (result.sourceWipe) {
  case SourceWipe::Failed:
  case SourceWipe::Changed:
    text += ResultText(Outcome::WipeFailed);
    break;
  case SourceWipe::Skipped:
    text += "抹消をスキップ(削除のみ)：";
    break;
  case SourceWipe::Stopped:
    text += "中断(元のファイルは残っています)：";
    break;
  default:
    break;
  }
  return text;
}

std::string_view ResultKey(Outcome outcome) {
  return RowOf(outcome).key;
}

std::string_view SourceWipeKey(SourceWipe wipe) {
  switch (wipe) {
  case SourceWipe::Wiped:
    return "wiped";
  case SourceWipe::Failed:
    return "wipe-failed";
  case SourceWipe::Changed:
    return "source-changed";
  case SourceWipe::Skipped:
    return "wipe-skipped";
  case SourceWipe::Stopped:
    return "not-wiped-stopped";
  case SourceWipe::NotAsked:
    break;
  }
  return {};
}

std::string ErrorReason(int error) {
  switch (error) {
  case 0:
    return {};
  case ENOSPC:
  case EDQUOT:
    return "空き容量が不足しています";
  case EROFS:
    return "書き込みできないフォルダです（読み取り専用のファイルシステム）";
  case ENOENT:
    return "ファイルが見つかりません";
  case ENAMETOOLONG:
    return "名前が長すぎます (255バイト)";
  case EACCES:
  case EPERM:
    return "アクセスが拒否されました";
  case EWOULDBLOCK:
  case EBUSY:
  case ETXTBSY:
    return "他のプログラムが使用中です";
  case ESTALE:
    return "一覧に加えた後で別のファイルに置き換えられました";
  case ELOOP:
    return "シンボリックリンクです（たどりません）";
  case ENXIO:
    return "通常のファイルではありません（パイプ・ソケット・デバイスなど）";
  case EMLINK:
    return "名前（ハードリンク）が２つ以上あるファイルです";
  case EISDIR:
    return "フォルダです";
  case ENOTDIR:
    return "途中にフォルダでないものがあります";
  case EEXIST:
    return "同じ名前のファイルがあります";
  case EIO:
    return "読み書き中に入出力エラーが発生しました";
  case ContainerCutShort:
    return "暗号化ファイルではないか、途中で切れています";
  case EFBIG:
    return "ファイルが大きすぎます";
  case EMFILE:
  case ENFILE:
    return "開いているファイルが多すぎます";
  case ENOMEM:
    return "メモリが不足しています";
  case EINVAL:
    return "出力先が不正です（入力と同じファイルなど）";
  case EXDEV:
    return "別のファイルシステムをまたいでいます";
  default:
    return "システムエラー（エラー番号 " + std::to_string(error) + "）";
  }
}

std::string FailureReason(const FileResult& result) {
  // An unreadable folder's text carries its reason already.
  if (!Failed(result) || result.outcome == Outcome::FolderUnreadable) return {};
  if (result.error == EACCES || result.error == EPERM) {
    // A wipe refused for a file without the owner-write bit is refused for that bit.
    if (result.outcome == Outcome::WipeFailed && platform::IsReadOnly(result.path))
      return "読み取り専用です";
    const bool writing =
        result.outcome == Outcome::EncryptFailed || result.outcome == Outcome::DecryptFailed ||
        result.outcome == Outcome::WipeFailed || result.sourceWipe == SourceWipe::Failed;
    // A file of another user's is refused for being theirs, wherever it lies.
    if (writing && platform::OwnedByAnotherUser(result.path)) return "ほかのユーザーのファイルです";
    // The same refusal from a folder that takes no new files (or lets none go) is the folder's.
    const std::string folder = platform::ExtractFilePath(result.path);
    if (writing && !platform::FolderWritable(folder.empty() ? std::string(".") : folder))
      return "書き込みできないフォルダです";
  }
  if (result.error != 0) return ErrorReason(result.error);
  switch (result.outcome) {
  case Outcome::SourceChanged:
    return "読み込み中にファイルの大きさが変わりました";
  case Outcome::UnexpectedError:
    return "暗号化ファイルの名前の付け方が設定されていません";
  default:
    return {};
  }
}

std::string_view SourceWipeReason(const FileResult& result) {
  if (result.sourceWipe != SourceWipe::Changed) return {};
  return result.outcome == Outcome::Encrypted ? "the source changed after it was encrypted"
                                              : "the container changed after it was decrypted";
}

bool Succeeded(Outcome outcome) {
  switch (outcome) {
  case Outcome::Encrypted:
  case Outcome::Decrypted:
  case Outcome::DecryptedNoTamperCode:
  case Outcome::Wiped:
  case Outcome::Verified:
  case Outcome::VerifiedNoTamperCode:
    return true;
  default:
    return false;
  }
}

bool DoneBefore(Outcome outcome) {
  return outcome == Outcome::SkippedContainer || outcome == Outcome::AlreadyEncrypted ||
         outcome == Outcome::AlreadyDecrypted || outcome == Outcome::SkippedPlain;
}

bool Failed(const FileResult& result) {
  return (!Succeeded(result.outcome) && !DoneBefore(result.outcome)) ||
         result.sourceWipe == SourceWipe::Failed || result.sourceWipe == SourceWipe::Changed;
}

std::string StoredHint::Text() const {
  return hint ? *hint : std::string(ResultText(failure));
}

} // namespace qk::engine

// What qk-cli writes on standard output for the files it processed: one line per file and a
// closing line, as text for people or, with --json, as one JSON object per line for scripts.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <optional>
#include <string>

namespace qk::cli {

// One processed file.
struct ReportLine {
  std::string path;       // the file given
  std::string outcome;    // a stable English key ("decrypted", "wrong-password", ...)
  std::string text;       // the Japanese result text (or, for a hint, the hint column's text)
  std::string output;     // the file written, if any
  std::string sourceWipe; // "wiped" or "wipe-failed" when a source wipe was asked for
  bool failed = false;
  // Work an earlier run did: skipped altogether, or only its source's wipe done now.
  bool skipped = false;
  bool onlyWiped = false;
  // Fields only some commands have: empty when absent.
  std::string hint; // hint: the stored hint
  bool hasHint = false;
  std::string sha1;   // sha1: the digest as five words
  std::string error;  // a system error's description
  std::string reason; // why it failed, in Japanese (empty when the text says all)
};

class Report {
public:
  // With reasons, a failed result's reason follows its line on that stream (text output only:
  // the result lines stay as they are).
  Report(std::ostream& out, bool json, std::ostream* reasons = nullptr)
      : out_(out), json_(json), reasons_(reasons) {}

  // A result of encrypt, decrypt, wipe or verify: text, path (and a TAB and the output when one
  // was written by a decryption).
  void Result(const ReportLine& line, bool showOutput);
  // A stored hint: the hint alone when only one file was asked for, else path, TAB, hint.
  void Hint(const ReportLine& line, bool withPath);
  // A digest: the five words, two spaces, the path.
  void Sha1(const ReportLine& line);
  // The closing line: the Japanese closing text, or the counts as JSON (with the number of named
  // paths that were not found, when there were any, and for a run that was broken off, the
  // number of entries it did not process).
  void Close(const std::string& text, int notFound = 0,
             std::optional<std::size_t> notProcessed = std::nullopt);

  int Failures() const { return failed_; }

private:
  void Json(const ReportLine& line);

  std::ostream& out_;
  bool json_;
  std::ostream* reasons_;
  void Count(const ReportLine& line);

  int files_ = 0;
  int failed_ = 0;
  int skipped_ = 0;
  int onlyWiped_ = 0;
};

} // namespace qk::cli

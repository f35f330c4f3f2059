#include "cli/Report.h"

#include "platform/Utf8.h"
#include "platform/VisibleText.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include <nlohmann/json.hpp>
#include <ostream>

namespace qk::cli {

namespace {

// The dumped JSON with every character that acts on a terminal (DEL, C1 controls, line
// separators, bidirectional controls) as a \\u escape, as the dump already writes the C0 ones.
// Outside strings a dump holds none of them, so the text stays valid JSON of the same value.
std::string EscapeTerminalControls(const std::string& json) {
  std::string out;
  out.reserve(json.size());
  std::string_view rest = json;
  while (!rest.empty()) {
    char32_t c = 0;
    std::size_t length = platform::utf8::Decode(rest, c);
    if (length == 0) length = 1; // the dump writes only valid UTF-8; kept as it is otherwise
    if (length > 0 && c >= 0x7F && platform::ActsOnTerminal(c)) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    } else {
      out.append(rest.substr(0, length));
    }
    rest.remove_prefix(length);
  }
  return out;
}

// One object on one line; control characters escaped, bytes that are not UTF-8 (a Linux name may
// hold any) replaced by U+FFFD.
void WriteObject(std::ostream& out, const nlohmann::ordered_json& object) {
  out << EscapeTerminalControls(
             object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace))
      << '\n'
      << std::flush;
}

// Standard Base64 (RFC 4648, "=" padding), as any decoder reads it.
std::string StandardBase64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      group = (group << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    }
    for (std::size_t k = 0; k < 4; ++k) {
      out += k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
  }
  return out;
}

// A text field, and beside it the exact bytes in Base64 when they are not UTF-8: the text then
// shows U+FFFD for what is not, and two different names could show the same.
void PutText(nlohmann::ordered_json& object, const std::string& key, const std::string& bytes) {
  object[key] = bytes;
  if (!platform::utf8::IsValid(bytes)) object[key + "_bytes"] = StandardBase64(bytes);
}

} // namespace

void Report::Json(const ReportLine& line) {
  nlohmann::ordered_json object;
  PutText(object, "path", line.path);
  object["outcome"] = line.outcome;
  if (!line.output.empty()) PutText(object, "output", line.output);
  if (!line.sourceWipe.empty()) object["source-wipe"] = line.sourceWipe;
  if (line.hasHint) PutText(object, "hint", line.hint);
  if (!line.sha1.empty()) object["sha1"] = line.sha1;
  if (!line.error.empty()) object["error"] = line.error;
  if (!line.reason.empty()) object["reason"] = line.reason;
  object["text"] = line.text;
  WriteObject(out_, object);
}

void Report::Count(const ReportLine& line) {
  ++files_;
  if (line.failed) ++failed_;
  if (line.skipped) ++skipped_;
  if (line.onlyWiped) ++onlyWiped_;
}

void Report::Result(const ReportLine& line, bool showOutput) {
  Count(line);
  if (json_) return Json(line);
  out_ << platform::VisibleText(line.text) << platform::VisibleText(line.path);
  if (showOutput && !line.output.empty()) out_ << '\t' << platform::VisibleText(line.output);
  // Each line goes out whole as it is made: a run broken off keeps every line written so far.
  out_ << '\n' << std::flush;
  if (reasons_ && !line.reason.empty()) {
    *reasons_ << "qk-cli: " << platform::VisibleText(line.path) << ": " << line.reason << '\n';
  }
}

void Report::Hint(const ReportLine& line, bool withPath) {
  Count(line);
  if (json_) return Json(line);
  if (withPath) out_ << platform::VisibleText(line.path) << '\t';
  out_ << platform::VisibleText(line.text) << '\n';
}

void Report::Sha1(const ReportLine& line) {
  Count(line);
  if (json_) return Json(line);
  if (!line.failed) out_ << line.sha1 << "  " << platform::VisibleText(line.path) << '\n';
}

void Report::Close(const std::string& text, int notFound, std::optional<std::size_t> notProcessed) {
  if (!json_) {
    if (!text.empty()) out_ << platform::VisibleText(text) << '\n' << std::flush;
    return;
  }
  nlohmann::ordered_json object;
  object["files"] = files_;
  object["succeeded"] = files_ - failed_ - skipped_ - onlyWiped_;
  object["failed"] = failed_;
  if (skipped_ != 0) object["skipped"] = skipped_;
  if (onlyWiped_ != 0) object["only-wiped"] = onlyWiped_;
  if (notFound != 0) object["not-found"] = notFound;
  if (notProcessed) {
    object["interrupted"] = true;
    object["not-processed"] = *notProcessed;
  }
  if (!text.empty()) object["text"] = text;
  WriteObject(out_, object);
}

} // namespace qk::cli

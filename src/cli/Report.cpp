#include "cli/Report.h"

#include "cli/VisibleText.h"

#include <nlohmann/json.hpp>
#include <ostream>

namespace qk::cli {

namespace {

// One object on one line; control characters escaped as JSON escapes them, bytes that are not
// UTF-8 (a Linux name may hold any) replaced by U+FFFD.
void WriteObject(std::ostream& out, const nlohmann::ordered_json& object) {
  out << object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

} // namespace

void Report::Json(const ReportLine& line) {
  nlohmann::ordered_json object;
  object["path"] = line.path;
  object["outcome"] = line.outcome;
  if (!line.output.empty()) object["output"] = line.output;
  if (!line.sourceWipe.empty()) object["source-wipe"] = line.sourceWipe;
  if (line.hasHint) object["hint"] = line.hint;
  if (!line.sha1.empty()) object["sha1"] = line.sha1;
  if (!line.error.empty()) object["error"] = line.error;
  if (!line.reason.empty()) object["reason"] = line.reason;
  object["text"] = line.text;
  WriteObject(out_, object);
}

void Report::Result(const ReportLine& line, bool showOutput) {
  ++files_;
  if (line.failed) ++failed_;
  if (json_) return Json(line);
  out_ << line.text << VisibleText(line.path);
  if (showOutput && !line.output.empty()) out_ << '\t' << VisibleText(line.output);
  out_ << '\n';
  if (reasons_ && !line.reason.empty()) {
    out_ << std::flush;
    *reasons_ << "qk-cli: " << VisibleText(line.path) << ": " << line.reason << '\n';
  }
}

void Report::Hint(const ReportLine& line, bool withPath) {
  ++files_;
  if (line.failed) ++failed_;
  if (json_) return Json(line);
  if (withPath) out_ << VisibleText(line.path) << '\t';
  out_ << VisibleText(line.text) << '\n';
}

void Report::Sha1(const ReportLine& line) {
  ++files_;
  if (line.failed) ++failed_;
  if (json_) return Json(line);
  if (!line.failed) out_ << line.sha1 << "  " << VisibleText(line.path) << '\n';
}

void Report::Close(const std::string& text, int notFound) {
  if (!json_) {
    if (!text.empty()) out_ << text << '\n';
    return;
  }
  nlohmann::ordered_json object;
  object["files"] = files_;
  object["succeeded"] = files_ - failed_;
  object["failed"] = failed_;
  if (notFound != 0) object["not-found"] = notFound;
  if (!text.empty()) object["text"] = text;
  WriteObject(out_, object);
}

} // namespace qk::cli

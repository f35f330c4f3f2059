// The whole program in one process, over a temporary folder: QK.ini and the files live there, the
// message boxes and the file dialog answer by script, and the end of the program is counted
// instead of ending the test.
#pragma once

#include "settings/IniUnit.h"
#include "support/TestSupport.h"
#include "windows/ConfDlg.h"
#include "windows/FileChooser.h"
#include "windows/Main.h"
#include "windows/MessageBoxes.h"
#include "windows/OptDlg.h"
#include "windows/Program.h"

#include <QCoreApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QStringList>
#include <QTest>
#include <QUrl>
#include <QWidget>
#include <deque>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace qk::test {

using windows::BoxKind;

struct Box {
  BoxKind kind;
  QString text;
};

class ProgramHarness {
public:
  TempDir dir;
  std::string ini = dir / "QK.ini";
  std::vector<Box> boxes;
  std::deque<bool> answers;              // Yes/No answers in order; No when none left
  std::function<void(const Box&)> onBox; // runs inside the box, before it answers
  std::deque<QStringList> choices;       // what the file dialog returns, in order
  int chooserCalls = 0;
  std::unique_ptr<windows::TQKProgram> program;
  int ended = 0;
  std::ostringstream report; // what the program writes to standard error

  ProgramHarness() {
    windows::SetBoxResponder([this](BoxKind kind, const QString& text) {
      boxes.push_back({kind, text});
      if (onBox) onBox(boxes.back());
      if (answers.empty()) return kind != BoxKind::Confirmation;
      const bool answer = answers.front();
      answers.pop_front();
      return answer;
    });
    windows::SetFileChooser([this](QWidget*) {
      ++chooserCalls;
      if (choices.empty()) return QStringList();
      QStringList files = choices.front();
      choices.pop_front();
      return files;
    });
  }
  ~ProgramHarness() {
    program.reset();
    windows::SetBoxResponder({});
    windows::SetFileChooser({});
  }
  ProgramHarness(const ProgramHarness&) = delete;
  ProgramHarness& operator=(const ProgramHarness&) = delete;

  void WriteIni(const std::string& text) { WriteAll(ini, text); }
  std::string Ini() const { return Exists(ini) ? ReadAll(ini) : std::string(); }
  std::string File(const std::string& name, const std::string& bytes) {
    const std::string path = dir / name;
    WriteAll(path, bytes);
    return path;
  }

  // Creates the six windows; the program's folder is left as the current directory unless given.
  void Create(std::vector<std::string> args = {}, std::string startDir = {},
              std::string programDir = {}) {
    program = std::make_unique<windows::TQKProgram>(windows::TQKProgram::Setup{
        ini, std::move(args), startDir.empty() ? dir.path() : std::move(startDir),
        std::move(programDir), &report});
    QObject::connect(Main(), &windows::TMainForm::ProgramEnded, [this] { ++ended; });
  }
  // Shows the main window and lets the posted start-up step run.
  bool Start() {
    Main()->show();
    return QTest::qWaitFor([this] { return Main()->StartupDone(); }, 5000) && Settle();
  }
  // Lets posted events run.
  static bool Settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    return true;
  }

  windows::TMainForm* Main() const { return program->MainForm.get(); }
  windows::TConfirmationDlg* Conf() const { return program->ConfirmationDlg.get(); }
  windows::TOptionDlg* Options() const { return program->OptionDlg.get(); }
  engine::BatchRun& Run() const { return program->ConfirmationDlg->Run(); }
  settings::SettingsModel& Model() const { return program->Model; }

  std::vector<std::string> EntryPaths() const {
    std::vector<std::string> paths;
    for (const auto& entry : Run().Entries()) paths.push_back(entry.Path);
    return paths;
  }
  QStringList BoxTexts() const {
    QStringList texts;
    for (const Box& box : boxes) texts << box.text;
    return texts;
  }

  // A value of QK.ini as the program would read it; fallback when the key is missing.
  std::string IniValue(const std::string& section, const std::string& key,
                       const std::string& fallback = "<missing>") const {
    const auto value = settings::IniDocument::Load(ini).Get(section, key);
    return value ? *value : fallback;
  }
};

// A drag of local paths from a file manager, dropped on the widget.
inline bool DropPaths(QWidget& widget, const QStringList& paths) {
  QMimeData mime;
  QList<QUrl> urls;
  for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
  mime.setUrls(urls);
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&widget, &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&widget, &drop);
  return drop.isAccepted();
}

} // namespace qk::test

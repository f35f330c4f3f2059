// The program's message boxes: a warning with OK for rejected input, a Yes/No confirmation before
// an irreversible step, an information box with OK after one, and a plain box for notes. Tests
// install a responder that records the box and answers it instead of showing it.
#pragma once

#include <QString>
#include <functional>

class QPoint;
class QRect;
class QWidget;

namespace qk::windows {

enum class BoxKind { Warning, Confirmation, Information, Note };

// Returns the answer to a box: true for Yes (or OK).
using BoxResponder = std::function<bool(BoxKind kind, const QString& text)>;
// Replaces the real boxes; an empty responder restores them.
void SetBoxResponder(BoxResponder responder);

void ShowWarning(QWidget* parent, const QString& text);
bool AskYesNo(QWidget* parent, const QString& text);
void ShowInformation(QWidget* parent, const QString& text);
void ShowNote(QWidget* parent, const QString& text);

// Loads Qt's own Japanese texts for the standard buttons (OK, キャンセル, はい, いいえ).
void InstallJapaneseTranslations();

// UTF-8 std::string to QString and back.
QString Q(const std::string& text);
std::string S(const QString& text);

// A text read from outside (a path, or a name or hint stored in a container) as one line that
// shows what it holds: control characters become visible symbols (the control pictures of C0
// and DEL, the replacement character for C1 controls, line or paragraph separators and the
// bidirectional controls), so that no text can break, reorder or forge a line of the list or of
// a report.
QString ShownText(const std::string& text);

// A tooltip that shows text as it is (never as markup), its long lines broken so that it stays
// on the screen; an empty text hides the tooltip. The arguments are those of QToolTip::showText.
void ShowPlainToolTip(const QPoint& at, const QString& text, QWidget* widget, const QRect& rect);

} // namespace qk::windows

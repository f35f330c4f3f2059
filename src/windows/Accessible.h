// What assistive technology (screen readers) is told about a control whose kind Qt cannot see:
// the main window is a frame (a top-level widget otherwise reads as a filler).
#pragma once

class QWidget;

namespace qk::windows {

// Marks window as the program's main frame for assistive technology.
void MarkAsFrame(QWidget* window);
} // namespace qk::windows

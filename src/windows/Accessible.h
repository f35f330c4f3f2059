// What assistive technology (screen readers) is told about a control whose kind Qt cannot see:
// the main window is a frame (a top-level widget otherwise reads as a filler).
#pragma once

#include <QAccessible>

class QWidget;

namespace qk::windows {

// Marks window as the program's main frame for assistive technology.
void MarkAsFrame(QWidget* window);

// Drops an interface Qt made for widget before its own kind was known (some Qt versions make one
// as the widget is built, cached with the role of a plain widget), unless it already has role
// wanted: the next question then gets the right one.
void ForgetEarlyInterface(QWidget* widget, QAccessible::Role wanted);
} // namespace qk::windows

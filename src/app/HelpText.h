#pragma once

// The texts of Help and About: what the program does, which direction is better for the
// measure and the score, and what each parameter of the model does.  Pure functions of the
// default parameters, tested without a window.

#include <QString>

namespace lumetra {

// How to use the window, the two results and every parameter with its rule and default.
QString helpText();

// Every key of the comparison viewer, one per line: the Help lists them, and the viewer
// shows them over its pictures on ? or F1.
QString viewerKeysText();

// The program, its version, and the results' directions in one paragraph.
QString aboutText(const QString& version);

}  // namespace lumetra

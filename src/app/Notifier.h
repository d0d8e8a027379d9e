#pragma once

// How the windows tell the user that something went wrong, or show what the user asked to
// read.  Production shows message boxes (MessageBoxNotifier); tests record the texts.

#include <QString>

namespace lumetra {

class Notifier {
  public:
    virtual ~Notifier() = default;

    // A failure the user must acknowledge; `text` names the file and the reason.
    virtual void warning(const QString& text) = 0;
    // Text the user asked to read (help, about), under `title`.
    virtual void information(const QString& title, const QString& text) = 0;
    // Asks before something the user would lose (results discarded); true to go on.
    virtual bool confirm(const QString& text) = 0;
};

}  // namespace lumetra

#pragma once

// How the windows tell the user that something went wrong.  Production shows a message box
// (MessageBoxNotifier); tests record the texts.

#include <QString>

namespace lumetra {

class Notifier {
  public:
    virtual ~Notifier() = default;

    // A failure the user must acknowledge; `text` names the file and the reason.
    virtual void warning(const QString& text) = 0;
};

}  // namespace lumetra

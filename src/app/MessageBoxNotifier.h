#pragma once

#include "app/Notifier.h"

class QWidget;

namespace lumetra {

// Shows each warning in a modal warning box, and each text asked for in an information box,
// over `parent`.
class MessageBoxNotifier : public Notifier {
  public:
    explicit MessageBoxNotifier(QWidget* parent) : _parent(parent) {}

    void warning(const QString& text) override;
    void information(const QString& title, const QString& text) override;
    bool confirm(const QString& text) override;

  private:
    QWidget* _parent;
};

}  // namespace lumetra

#pragma once

#include "app/FileChooser.h"

class QWidget;

namespace lumetra {

// Asks the user with the platform's file dialogs, centred on `parent`, each starting in the
// folder last used (QSettings of the application's organisation and name).
class DialogFileChooser : public FileChooser {
  public:
    explicit DialogFileChooser(QWidget* parent) : _parent(parent) {}

    QString original() override;
    QStringList degraded() override;
    QString resultsTarget() override;
    QString imageTarget(const QString& proposedName) override;
    QString exportFolder() override;
    QString profile() override;

  private:
    QWidget* _parent;
};

}  // namespace lumetra

#pragma once

// A window showing the error map of one comparison: one screen pixel per image pixel, black
// where the model sees no difference and full blue at the largest error, in a scroll area so
// that a map larger than the window can be scrolled.  Titled "<original> - <degraded>".  It
// copies the picture at construction and depends on nothing afterwards; its context menu (and
// Ctrl+S) saves the picture as PNG, adding ".png" to a name without a suffix.

#include <QDialog>
#include <QSize>
#include <QString>
#include <memory>

#include "app/FileChooser.h"
#include "app/Notifier.h"
#include "image/Array.h"
#include "ui_QLumetraErrorMapDialog.h"

namespace lumetra {

class QLumetraErrorMapDialog : public QDialog {
    Q_OBJECT

  public:
    // A top-level window (no parent).  Without a chooser or a notifier it asks with a file
    // dialog and warns with a message box.  The caller shows it.
    QLumetraErrorMapDialog(const QString& originalFile, const QString& degradedFile,
                           const Array<float>& errorMap, std::unique_ptr<FileChooser> chooser = {},
                           std::unique_ptr<Notifier> notifier = {});
    ~QLumetraErrorMapDialog() override;

    // The size that shows the whole map without scroll bars; the opener fits it to the screen.
    QSize wantedSize() const;

    // Writes the picture as PNG; warns and returns false when it cannot be written.
    bool saveImage(const QString& path);

  private:
    void chooseAndSave();

    Ui_QLumetraErrorMapDialog ui;
    // The save dialog's proposal: the degraded file's name and the map's.
    QString _proposedName;
    std::unique_ptr<FileChooser> _chooser;
    std::unique_ptr<Notifier> _notifier;
};

}  // namespace lumetra

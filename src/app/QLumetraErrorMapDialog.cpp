#include "app/QLumetraErrorMapDialog.h"

#include <QAction>
#include <QFileInfo>
#include <QKeySequence>
#include <QPixmap>

#include "app/DialogFileChooser.h"
#include "app/ErrorMapPicture.h"
#include "app/FileNames.h"
#include "app/FileSaving.h"
#include "app/MessageBoxNotifier.h"

namespace lumetra {

QLumetraErrorMapDialog::QLumetraErrorMapDialog(const QString& originalFile,
                                               const QString& degradedFile,
                                               const Array<float>& errorMap,
                                               std::unique_ptr<FileChooser> chooser,
                                               std::unique_ptr<Notifier> notifier)
    : QDialog(nullptr),
      _proposedName(QFileInfo(degradedFile).completeBaseName() + QStringLiteral("_error-map.png")),
      _chooser(std::move(chooser)),
      _notifier(std::move(notifier)) {
    ui.setupUi(this);
    if (!_chooser) _chooser = std::make_unique<DialogFileChooser>(this);
    if (!_notifier) _notifier = std::make_unique<MessageBoxNotifier>(this);

    setWindowTitle(originalFile + QStringLiteral(" - ") + degradedFile);
    ui.label->setPixmap(QPixmap::fromImage(errorMapImage(errorMap)));
    ui.label->adjustSize();

    auto* save = new QAction(tr("Save image…"), this);
    save->setObjectName(QStringLiteral("actionSaveImage"));
    save->setShortcut(QKeySequence::Save);
    addAction(save);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(save, &QAction::triggered, this, &QLumetraErrorMapDialog::chooseAndSave);
}

QLumetraErrorMapDialog::~QLumetraErrorMapDialog() = default;

QSize QLumetraErrorMapDialog::wantedSize() const {
    const int frame = 2 * ui.scrollArea->frameWidth();
    return ui.label->size() + QSize(frame, frame);
}

bool QLumetraErrorMapDialog::saveImage(const QString& path) {
    const QString problem = savePng(path, ui.label->pixmap().toImage());
    if (problem.isEmpty()) return true;
    _notifier->warning(tr("The image was not saved: %1").arg(problem));
    return false;
}

void QLumetraErrorMapDialog::chooseAndSave() {
    const QString path = _chooser->imageTarget(_proposedName);
    if (!path.isEmpty()) saveImage(withDefaultSuffix(path, QStringLiteral("png")));
}

}  // namespace lumetra

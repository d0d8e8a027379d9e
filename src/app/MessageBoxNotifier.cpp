#include "app/MessageBoxNotifier.h"

#include <QMessageBox>
#include <QObject>

namespace lumetra {

void MessageBoxNotifier::warning(const QString& text) {
    QMessageBox::warning(_parent, QObject::tr("Lumetra"), text);
}

}  // namespace lumetra

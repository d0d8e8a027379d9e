#include "app/MessageBoxNotifier.h"

#include <QMessageBox>
#include <QObject>

namespace lumetra {

void MessageBoxNotifier::warning(const QString& text) {
    QMessageBox::warning(_parent, QObject::tr("Lumetra"), text);
}

void MessageBoxNotifier::information(const QString& title, const QString& text) {
    QMessageBox::information(_parent, title, text);
}

}  // namespace lumetra

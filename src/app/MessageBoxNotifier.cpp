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

bool MessageBoxNotifier::confirm(const QString& text) {
    return QMessageBox::question(_parent, QObject::tr("Lumetra"), text,
                                 QMessageBox::Yes | QMessageBox::Cancel,
                                 QMessageBox::Cancel) == QMessageBox::Yes;
}

}  // namespace lumetra

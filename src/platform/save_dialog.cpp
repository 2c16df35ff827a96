#include "save_dialog.h"

#include <QFileDialog>
#include <QSettings>

namespace kestrova::platform {

SaveDialog::SaveDialog(QObject* parent) : QObject(parent) {}

void SaveDialog::keepNoHistory() {
    // A path under /dev/null can be neither read nor created.
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
        for (const QSettings::Scope scope : {QSettings::UserScope, QSettings::SystemScope})
            QSettings::setPath(format, scope, QStringLiteral("/dev/null"));
}

QString SaveDialog::askSavePath(const QString& filter) {
    // No caption, folder, file name or suffix of our own: the dialog's defaults, and a name
    // typed without an extension stays as typed. Qt's own replace confirmation stays on.
    QFileDialog dialog;
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(filter);
    // The dialog only picks a name; it must not rename or delete files itself.
    dialog.setOption(QFileDialog::ReadOnly);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles().value(0);
}

} // namespace kestrova::platform

#include "save_dialog.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <utility>

namespace kestrova::platform {
namespace {

// Qt's file dialog opens at a size of its own, which at a large scale or font is taller than
// the screen: at 200 % on 1280x800 its "Files of type" row and Cancel were out of sight. Its
// file list can shrink, so the dialog is made to fit the screen's free area with room for a
// window manager's frame; Qt places it on show, as before. A dialog that fits is untouched.
void fitOnScreen(QDialog& dialog) {
    const QScreen* screen = dialog.screen();
    if (screen == nullptr)
        return;
    const QStyle* style = dialog.style();
    const int border = 2 * style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth);
    const int titleBar = style->pixelMetric(QStyle::PM_TitleBarHeight);
    const QSize frame(border, titleBar + border);
    const QRect available = screen->availableGeometry();
    dialog.resize(
        dialog.size().boundedTo(available.size() - frame).expandedTo(dialog.minimumSizeHint()));
}

// Qt's dialog leaves "Look in:" and "Files of type:" unattached to their lists, so a screen
// reader read them out as the dialog's own text and named each list by its entry alone. As
// the lists' buddies they label them, as "File name:" labels the name field.
void labelTheLists(QFileDialog& dialog) {
    for (const auto& [labelName, listName] :
         {std::pair{"lookInLabel", "lookInCombo"}, std::pair{"fileTypeLabel", "fileTypeCombo"}}) {
        auto* label = dialog.findChild<QLabel*>(QLatin1String(labelName));
        auto* list = dialog.findChild<QComboBox*>(QLatin1String(listName));
        if (label != nullptr && list != nullptr && label->buddy() == nullptr)
            label->setBuddy(list);
    }
}

} // namespace

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
    labelTheLists(dialog);
    fitOnScreen(dialog);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles().value(0);
}

} // namespace kestrova::platform

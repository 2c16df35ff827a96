#pragma once

#include <QObject>
#include <QString>

namespace kestrova::platform {

// The window's Save dialog. It holds no widget of its own: each call builds a fresh
// QFileDialog, so nothing of one run's choice leaks into the next.
class SaveDialog : public QObject {
    Q_OBJECT
public:
    explicit SaveDialog(QObject* parent = nullptr);

    // Runs the modal Save dialog with one filter entry; returns the chosen path as the
    // dialog gives it, or an empty string when the user cancelled.
    QString askSavePath(const QString& filter);

    // Qt's file dialog keeps its history and last folder in QtProject.conf, shared by every Qt
    // program of the user: read, it opens the dialog where another program's was last;
    // written, it leaves state behind. Pointing Qt's settings where no file can be read or
    // made keeps the program free of both. Call once, before the first dialog.
    static void keepNoHistory();
};

} // namespace kestrova::platform

#pragma once

#include <QFileDialog>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <functional>

namespace kestrova::test {

// Stands in for the user in front of a run: answers each modal dialog that comes to the top,
// one action per dialog in the order they come, and records what each one showed. A dialog
// that comes back on top, as Qt's Save dialog does after "No" to its replace question, takes
// the next action again. A dialog that arrives with no action left is recorded and
// dismissed, so that a run never hangs.
class ModalDriver : public QObject {
    Q_OBJECT
public:
    using Action = std::function<void(QWidget& dialog)>;

    struct Seen {
        QString className; // "QFileDialog", "QMessageBox", ...
        QString title;
        QSize size;
        bool expected = true;
        // A message box's face.
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        // A file dialog's set-up.
        QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptOpen;
        QFileDialog::FileMode fileMode = QFileDialog::ExistingFile;
        QFileDialog::Options options;
        QStringList nameFilters;
        QString defaultSuffix;
        QString typedName; // the file name box as the dialog opened
        QString directory;
    };

    ModalDriver();

    // The answer to the next dialog.
    ModalDriver& then(Action action);
    const QList<Seen>& seen() const { return seen_; }
    int unusedActions() const { return static_cast<int>(actions_.size()); }
    // The class names of the dialogs seen, in order: "QFileDialog,QMessageBox".
    QString sequence() const;

    // Types path into a Save or Open dialog's file name box and presses Return.
    static Action typeName(const QString& path);
    // Closes the dialog as Cancel or Escape would.
    static Action cancel();
    // Clicks one of a message box's buttons.
    static Action press(QMessageBox::StandardButton button);
    // Runs look with the dialog first, then answers it with action.
    static Action observe(std::function<void(QWidget&)> look, Action action);

private:
    void poll();

    QTimer timer_;
    std::deque<Action> actions_;
    QList<Seen> seen_;
    QPointer<QWidget> candidate_; // on top at the last poll
    QPointer<QWidget> answered_;  // the last dialog given an action
};

} // namespace kestrova::test

#include "support/modal_driver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTest>

namespace kestrova::test {
namespace {

ModalDriver::Seen describe(QWidget& dialog) {
    ModalDriver::Seen seen;
    seen.className = QString::fromLatin1(dialog.metaObject()->className());
    seen.title = dialog.windowTitle();
    seen.size = dialog.size();
    if (const auto* box = qobject_cast<QMessageBox*>(&dialog)) {
        seen.text = box->text();
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
    }
    if (const auto* files = qobject_cast<QFileDialog*>(&dialog)) {
        seen.acceptMode = files->acceptMode();
        seen.fileMode = files->fileMode();
        seen.options = files->options();
        seen.nameFilters = files->nameFilters();
        seen.defaultSuffix = files->defaultSuffix();
        seen.directory = files->directory().absolutePath();
        if (const auto* name = files->findChild<QLineEdit*>("fileNameEdit"))
            seen.typedName = name->text();
    }
    return seen;
}

} // namespace

ModalDriver::ModalDriver() {
    // A repeating timer keeps firing inside every nested dialog loop, because each action
    // runs later from the loop of the dialog it answers, never inside this timer's slot.
    timer_.setInterval(5);
    connect(&timer_, &QTimer::timeout, this, &ModalDriver::poll);
    timer_.start();
}

ModalDriver& ModalDriver::then(Action action) {
    actions_.push_back(std::move(action));
    return *this;
}

QString ModalDriver::sequence() const {
    QStringList names;
    for (const Seen& seen : seen_)
        names << seen.className;
    return names.join(',');
}

void ModalDriver::poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && !modal->isVisible())
        modal = nullptr;
    // A dialog counts once it stayed on top from one pass of the event loop to the next: a
    // dialog that is about to close, like a Save dialog just after its replace question was
    // answered, comes back on top only for the rest of one pass.
    if (modal != candidate_.data()) {
        candidate_ = modal;
        return;
    }
    if (modal == nullptr || modal == answered_.data())
        return;
    answered_ = modal;
    Seen seen = describe(*modal);
    Action action = cancel();
    if (actions_.empty()) {
        seen.expected = false;
    } else {
        action = std::move(actions_.front());
        actions_.pop_front();
    }
    seen_.append(seen);
    QTimer::singleShot(0, modal, [modal, action = std::move(action)] { action(*modal); });
}

ModalDriver::Action ModalDriver::typeName(const QString& path) {
    return [path](QWidget& dialog) {
        auto* name = dialog.findChild<QLineEdit*>("fileNameEdit");
        if (name == nullptr) {
            qWarning("ModalDriver: the dialog has no file name box");
            dialog.close();
            return;
        }
        name->clear();
        QTest::keyClicks(name, path);
        QTest::keyClick(name, Qt::Key_Return);
    };
}

ModalDriver::Action ModalDriver::cancel() {
    return [](QWidget& dialog) {
        if (auto* modal = qobject_cast<QDialog*>(&dialog))
            modal->reject();
        else
            dialog.close();
    };
}

ModalDriver::Action ModalDriver::press(QMessageBox::StandardButton button) {
    return [button](QWidget& dialog) {
        auto* box = qobject_cast<QMessageBox*>(&dialog);
        QAbstractButton* target = box ? box->button(button) : nullptr;
        if (target == nullptr) {
            qWarning("ModalDriver: no such button here");
            cancel()(dialog);
            return;
        }
        target->click();
    };
}

ModalDriver::Action ModalDriver::observe(std::function<void(QWidget&)> look, Action action) {
    return [look = std::move(look), action = std::move(action)](QWidget& dialog) {
        look(dialog);
        action(dialog);
    };
}

} // namespace kestrova::test

#pragma once

#include "app/conversion_run.h"
#include "platform/qt_desktop.h"
#include "platform/qt_speech_control.h"
#include "support/modal_driver.h"
#include "support/test_support.h"
#include "ui/frmConvert.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <filesystem>
#include <functional>
#include <memory>

namespace kestrova::test {

// The window program's flow as its main assembles it, offscreen: the real window, Save
// dialog and speech control, a ModalDriver in front, a scratch folder. A QtTest class
// derives from it, calls setUpFlow() from init() and tearDownFlow() from cleanup().
class WindowFlowFixture : public QObject {
    Q_OBJECT
protected:
    // Once, from initTestCase(): Qt's own dialogs, which the driver can answer, even in a
    // desktop session.
    static void useQtDialogs();

    void setUpFlow();
    // Fails the test if a dialog it expected did not come or one came that it did not
    // expect, or if a modal dialog or the busy pointer is left.
    void tearDownFlow();

    QString path(const QString& name) const { return dir_->filePath(name); }
    static std::filesystem::path fileName(const QString& path);
    const ModalDriver::Seen& seen(int index) const { return driver_->seen().at(index); }

    app::ExitStatus run(const QString& handOff);
    app::ExitStatus run(const QString& handOff, app::SpeechControl& speech);
    app::ExitStatus run(const QString& handOff, app::Desktop& desktop);

    // Calls act at each progress after the rendering began until it returns true.
    void onceRenderingBegan(std::function<bool()> act);
    // The dialog at index is the program's failure box, its text holding every part.
    void expectFailureBox(int index, const QStringList& textParts) const;

    // The shared file and sound helpers, for Qt's types.
    static QByteArray readFile(const QString& path);
    static void writeFile(const QString& path, const QByteArray& content);
    static QByteArray sentences(std::size_t bytes);
    // A zeroed header when libsndfile cannot open the file.
    static SF_INFO soundInfo(const QString& path);
    static Snapshot snapshot(const QString& folder);

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<ui::frmConvert> window_;
    std::unique_ptr<platform::QtDesktop> desktop_;
    std::unique_ptr<platform::QtSpeechControl> speech_;
    std::unique_ptr<ModalDriver> driver_;
};

} // namespace kestrova::test

// Stop signals in the window program's real flow, offscreen: while it renders, while a
// message or the replace question is up, and at the real program's Save dialog. Nothing at
// the chosen path changes and the text file stays.

#include "platform/stop_signals.h"
#include "speech/voice.h"
#include "support/process_support.h"
#include "support/running_program.h"
#include "support/window_flow_fixture.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace kestrova;
using test::ModalDriver;

namespace {

constexpr auto voiceName = "eSpeak NG English (America)";

} // namespace

class GuiStopTest : public test::WindowFlowFixture {
    Q_OBJECT
private slots:
    void initTestCase() { useQtDialogs(); }
    void init() { setUpFlow(); }
    void cleanup();

    void stopSignalDuringRendering_data();
    void stopSignalDuringRendering();
    void stopSignalAtTheCompletionMessage();
    void stopSignalAtTheReplaceQuestion();
    void stopSignalAtTheSaveDialogOfTheProgram_data();
    void stopSignalAtTheSaveDialogOfTheProgram();

private:
    app::ExitStatus convert(const QString& textFile, app::Desktop& desktop) {
        return run(QString(voiceName) + "%" + textFile, desktop);
    }
};

void GuiStopTest::cleanup() {
    tearDownFlow();
    QVERIFY(test::survivors().empty());
}

void GuiStopTest::stopSignalDuringRendering_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("fileThere");
    QTest::newRow("SIGINT") << SIGINT << false;
    QTest::newRow("SIGTERM over a file") << SIGTERM << true;
    QTest::newRow("SIGHUP") << SIGHUP << false;
}

// As the program's main sets it up: the signal closes the window, which cancels the
// rendering. Nothing at the path, a file already there untouched, the text kept.
void GuiStopTest::stopSignalDuringRendering() {
    QFETCH(int, signal);
    QFETCH(bool, fileThere);
    const QString text = path("t.txt");
    writeFile(text, sentences(102000));
    const QString wave = path("speech.wav");
    if (fileThere)
        writeFile(wave, "an older file");
    const auto before = snapshot(dir_->path());
    platform::StopSignals stops([this] { window_->close(); });
    platform::QtDesktop desktop(window_->saveDialog(), &stops);
    onceRenderingBegan([signal] { return ::raise(signal) == 0; });
    driver_->then(ModalDriver::typeName(wave));
    if (fileThere)
        driver_->then(ModalDriver::press(QMessageBox::Yes));
    QCOMPARE(convert(text, desktop), app::ExitSuccess);
    QCOMPARE(stops.signal(), signal);
    QCOMPARE(snapshot(dir_->path()), before);
    QVERIFY(!window_->isVisible());
}

// Stopped while "Wave file created." is up: the wave file is complete and stays; the user
// never pressed OK, so the text file stays too.
void GuiStopTest::stopSignalAtTheCompletionMessage() {
    const QString text = path("t.txt");
    writeFile(text, "A short text.");
    const QString wave = path("speech.wav");
    platform::StopSignals stops([this] { window_->close(); });
    platform::QtDesktop desktop(window_->saveDialog(), &stops);
    driver_->then(ModalDriver::typeName(wave)).then([](QWidget&) { ::raise(SIGHUP); });
    QCOMPARE(convert(text, desktop), app::ExitSuccess);
    QCOMPARE(stops.signal(), SIGHUP);
    QCOMPARE(driver_->seen().at(1).text, QString("Wave file created."));
    QVERIFY(soundInfo(wave).frames > 0);
    QCOMPARE(readFile(text), QByteArray("A short text."));
}

// Qt's replace question sits in the Save dialog's own exec: the signal closes both, not the
// question alone, and the file asked about is untouched.
void GuiStopTest::stopSignalAtTheReplaceQuestion() {
    const QString text = path("t.txt");
    writeFile(text, "A short text.");
    const QString wave = path("speech.wav");
    writeFile(wave, "an older file");
    const auto before = snapshot(dir_->path());
    platform::StopSignals stops([this] { window_->close(); });
    platform::QtDesktop desktop(window_->saveDialog(), &stops);
    driver_->then(ModalDriver::typeName(wave)).then([](QWidget&) { ::raise(SIGTERM); });
    QCOMPARE(convert(text, desktop), app::ExitSuccess);
    QCOMPARE(stops.signal(), SIGTERM);
    QCOMPARE(driver_->sequence(), QString("QFileDialog,QMessageBox"));
    QCOMPARE(snapshot(dir_->path()), before);
}

void GuiStopTest::stopSignalAtTheSaveDialogOfTheProgram_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGHUP") << SIGHUP;
}

// The real kestrova-wav, offscreen, stopped while its Save dialog waits: 128 + the signal,
// as the command line ends, and the text file kept.
void GuiStopTest::stopSignalAtTheSaveDialogOfTheProgram() {
    QFETCH(int, signal);
    const QString text = path("t.txt");
    writeFile(text, "A short text.");
    const auto before = snapshot(dir_->path());
    test::RunningProgram program(KESTROVA_WAV_PATH,
                                 {(QString(voiceName) + "%" + text).toStdString()},
                                 QFile::encodeName(dir_->path()).toStdString());
    // Once the program, not the test's child on its way to it, catches the signal.
    const auto catches = [&] {
        std::error_code error;
        if (std::filesystem::read_symlink("/proc/" + std::to_string(program.pid()) + "/exe",
                                          error) != std::filesystem::path(KESTROVA_WAV_PATH))
            return 0ull;
        std::ifstream status("/proc/" + std::to_string(program.pid()) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.starts_with("SigCgt:"))
                return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
        return 0ull;
    };
    QVERIFY(program.waitFor([&] { return catches() != 0; }));
    ::kill(program.pid(), signal);
    const test::Outcome outcome = program.wait(std::chrono::seconds(30));
    QCOMPARE(outcome.exitStatus(), 128 + signal);
    QCOMPARE(snapshot(dir_->path()), before);
}

int main(int argc, char** argv) {
    test::adoptOrphans();
    QApplication application(argc, argv);
    GuiStopTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "gui_stop_test.moc"

#include "support/failing_speech_control.h"
#include "support/standard_error_capture.h"
#include "support/window_flow_fixture.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProgressBar>
#include <QScreen>
#include <QTest>
#include <sndfile.h>

using namespace kestrova;
using test::ModalDriver;

namespace {

constexpr auto voiceName = "eSpeak NG English (America)";

} // namespace

class ConversionFlowTest : public test::WindowFlowFixture {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void withoutHandOffOnlyRefuses_data();
    void withoutHandOffOnlyRefuses();
    void saveDialogIsSetUpAsDesigned();
    void cancelledSaveLeavesEverything();
    void wholeConversion();
    void nameWithoutExtensionIsKept();
    void replacingAnExistingFileAsksFirst_data();
    void replacingAnExistingFileAsksFirst();
    void theTextFileItselfIsRefused();
    void unknownEngineIsReported();
    void aHugeNameIsCutInTheMiddle_data();
    void aHugeNameIsCutInTheMiddle();
    void aLongNameThatFitsIsShownWhole();
    void missingTextFileIsReported();
    void closingTheWindowCancelsQuietly();
    void escapeCancelsToo();
    void renderingFailureRestoresThePointer();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString textFile(const QByteArray& content = "Hello from the window program.");

    int windowShows_ = 0;
};

void ConversionFlowTest::initTestCase() {
    useQtDialogs();
}

void ConversionFlowTest::init() {
    setUpFlow();
    window_->installEventFilter(this);
    windowShows_ = 0;
}

void ConversionFlowTest::cleanup() {
    tearDownFlow();
}

bool ConversionFlowTest::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_.get() && event->type() == QEvent::Show)
        ++windowShows_;
    return QObject::eventFilter(watched, event);
}

QString ConversionFlowTest::textFile(const QByteArray& content) {
    const QString file = path("t.txt");
    writeFile(file, content);
    return file;
}

void ConversionFlowTest::withoutHandOffOnlyRefuses_data() {
    QTest::addColumn<QString>("handOff");
    QTest::newRow("empty") << QString();
    QTest::newRow("no percent sign") << QString("no percent here");
}

void ConversionFlowTest::withoutHandOffOnlyRefuses() {
    QFETCH(QString, handOff);
    driver_->then(ModalDriver::press(QMessageBox::Ok));
    QCOMPARE(run(handOff), app::ExitRefused);
    QCOMPARE(driver_->sequence(), QString("QMessageBox"));
    QCOMPARE(seen(0).text, QString("This program cannot be run outside of the main Kestrova "
                                   "Text-to-Speech Reader application"));
    QCOMPARE(seen(0).title, QString("Error"));
    QCOMPARE(seen(0).icon, QMessageBox::NoIcon);
    QCOMPARE(seen(0).buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(windowShows_, 0);
}

void ConversionFlowTest::saveDialogIsSetUpAsDesigned() {
    const QString text = textFile();
    driver_->then(ModalDriver::cancel());
    QCOMPARE(run(QString(voiceName) + "%" + text), app::ExitSuccess);
    QCOMPARE(driver_->sequence(), QString("QFileDialog"));
    const ModalDriver::Seen& dialog = seen(0);
    QCOMPARE(dialog.acceptMode, QFileDialog::AcceptSave);
    QCOMPARE(dialog.fileMode, QFileDialog::AnyFile);
    QCOMPARE(dialog.nameFilters, QStringList{"Windows PCM (*.wav)"});
    QVERIFY(dialog.options.testFlag(QFileDialog::ReadOnly));
    QVERIFY(!dialog.options.testFlag(QFileDialog::DontConfirmOverwrite));
    QVERIFY(dialog.defaultSuffix.isEmpty());
    QVERIFY(dialog.typedName.isEmpty());
    QCOMPARE(dialog.directory, QDir::currentPath());
    // Qt's own caption for a Save dialog, none of ours.
    QFileDialog reference;
    reference.setAcceptMode(QFileDialog::AcceptSave);
    QCOMPARE(dialog.title, reference.windowTitle());
}

void ConversionFlowTest::cancelledSaveLeavesEverything() {
    const QString text = textFile();
    bool windowVisibleAtDialog = true;
    driver_->then(ModalDriver::observe(
        [&](QWidget&) { windowVisibleAtDialog = window_->isVisible(); }, ModalDriver::cancel()));
    QCOMPARE(run(QString(voiceName) + "%" + text), app::ExitSuccess);
    QCOMPARE(driver_->sequence(), QString("QFileDialog"));
    QVERIFY(!windowVisibleAtDialog);
    QCOMPARE(windowShows_, 0);
    QVERIFY(QFile::exists(text));
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files), QStringList{"t.txt"});
}

void ConversionFlowTest::wholeConversion() {
    const QString text = textFile(sentences(2700));
    const QString wave = path("out.wav");

    bool windowVisibleAtDialog = true;
    bool busyWhileRendering = false;
    bool shownWhileRendering = false;
    const auto* bar = window_->findChild<QProgressBar*>("progressBar");
    connect(bar, &QProgressBar::valueChanged, this, [&] {
        busyWhileRendering |= QApplication::overrideCursor() &&
                              QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        shownWhileRendering |= window_->isVisible();
    });
    bool barFullAtNotice = false;
    bool windowVisibleAtNotice = false;
    bool pointerRestoredAtNotice = false;
    bool bothFilesAtNotice = false;
    driver_
        ->then(ModalDriver::observe([&](QWidget&) { windowVisibleAtDialog = window_->isVisible(); },
                                    ModalDriver::typeName(wave)))
        .then(ModalDriver::observe(
            [&](QWidget&) {
                barFullAtNotice = bar->value() == bar->maximum();
                windowVisibleAtNotice = window_->isVisible();
                pointerRestoredAtNotice = QApplication::overrideCursor() == nullptr;
                bothFilesAtNotice = QFile::exists(text) && QFile::exists(wave);
            },
            ModalDriver::press(QMessageBox::Ok)));

    QCOMPARE(run(QString(voiceName) + "%" + text), app::ExitSuccess);

    QCOMPARE(driver_->sequence(), QString("QFileDialog,QMessageBox"));
    QVERIFY(!windowVisibleAtDialog);
    QVERIFY(busyWhileRendering);
    QVERIFY(shownWhileRendering);
    QVERIFY(barFullAtNotice);
    QVERIFY(windowVisibleAtNotice);
    QVERIFY(pointerRestoredAtNotice);
    QVERIFY(bothFilesAtNotice);
    QCOMPARE(seen(1).text, QString("Wave file created."));
    QCOMPARE(seen(1).title, QString("Kestrova WAV Converter"));
    QCOMPARE(seen(1).icon, QMessageBox::NoIcon);
    QCOMPARE(seen(1).buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    // Wide enough for its caption in a bold title font beside a window icon and three
    // title-bar buttons, though its text is short.
    QFont titleFont = QApplication::font();
    titleFont.setBold(true);
    const QFontMetrics title(titleFont);
    QVERIFY(seen(1).size.width() >= title.horizontalAdvance(seen(1).title) + 4 * title.height());

    QVERIFY(!QFile::exists(text));
    QVERIFY(!window_->isVisible());
    const SF_INFO facts = soundInfo(wave);
    QCOMPARE(facts.samplerate, 22050);
    QCOMPARE(facts.channels, 1);
    QCOMPARE(facts.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    QVERIFY(facts.frames > 22050); // 40 sentences last far longer than a second
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"out.wav"});
}

void ConversionFlowTest::nameWithoutExtensionIsKept() {
    const QString text = textFile();
    const QString wave = path("speech");
    driver_->then(ModalDriver::typeName(wave)).then(ModalDriver::press(QMessageBox::Ok));
    QCOMPARE(run(QString(voiceName) + "%" + text), app::ExitSuccess);
    QCOMPARE(seen(1).text, QString("Wave file created."));
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"speech"});
    QCOMPARE(soundInfo(wave).format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
}

void ConversionFlowTest::replacingAnExistingFileAsksFirst_data() {
    QTest::addColumn<bool>("replace");
    QTest::newRow("yes") << true;
    QTest::newRow("no") << false;
}

void ConversionFlowTest::replacingAnExistingFileAsksFirst() {
    QFETCH(bool, replace);
    const QString text = textFile();
    const QString wave = path("old.wav");
    writeFile(wave, "an older file");
    driver_->then(ModalDriver::typeName(wave));
    if (replace) {
        driver_->then(ModalDriver::press(QMessageBox::Yes))
            .then(ModalDriver::press(QMessageBox::Ok));
    } else {
        // Qt's dialog stays open after "No"; the user then gives up.
        driver_->then(ModalDriver::press(QMessageBox::No)).then(ModalDriver::cancel());
    }
    QCOMPARE(run(QString(voiceName) + "%" + text), app::ExitSuccess);

    QCOMPARE(seen(1).className, QString("QMessageBox"));
    QVERIFY2(seen(1).text.contains("old.wav"), qPrintable(seen(1).text));
    QCOMPARE(seen(1).buttons, QMessageBox::Yes | QMessageBox::No);
    if (replace) {
        QCOMPARE(driver_->sequence(), QString("QFileDialog,QMessageBox,QMessageBox"));
        QCOMPARE(seen(2).text, QString("Wave file created."));
        QCOMPARE(soundInfo(wave).samplerate, 22050);
        QVERIFY(!QFile::exists(text));
    } else {
        QCOMPARE(driver_->sequence(), QString("QFileDialog,QMessageBox,QFileDialog"));
        QCOMPARE(readFile(wave), QByteArray("an older file"));
        QVERIFY(QFile::exists(text));
        QCOMPARE(windowShows_, 0);
    }
}

void ConversionFlowTest::theTextFileItselfIsRefused() {
    const QByteArray content = "Do not lose me.";
    const QString text = textFile(content);
    driver_->then(ModalDriver::typeName(text))
        .then(ModalDriver::press(QMessageBox::Yes))
        .then(ModalDriver::press(QMessageBox::Ok));
    QCOMPARE(run(QString(voiceName) + "%" + text), app::ExitFailure);
    QCOMPARE(driver_->sequence(), QString("QFileDialog,QMessageBox,QMessageBox"));
    expectFailureBox(2, {"\"" + text + "\""});
    QCOMPARE(readFile(text), content);
    QCOMPARE(windowShows_, 0);
}

void ConversionFlowTest::unknownEngineIsReported() {
    const QString text = textFile();
    const QString wave = path("out.wav");
    driver_->then(ModalDriver::typeName(wave)).then(ModalDriver::press(QMessageBox::Ok));
    QCOMPARE(run("No Such Voice 9%" + text), app::ExitFailure);
    QCOMPARE(driver_->sequence(), QString("QFileDialog,QMessageBox"));
    expectFailureBox(1, {"\"No Such Voice 9\""});
    QVERIFY(QFile::exists(text));
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"t.txt"});
}

void ConversionFlowTest::aHugeNameIsCutInTheMiddle_data() {
    QTest::addColumn<QString>("engineName");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::newRow("one word of a megabyte")
        << "Start" + QString(1 << 20, 'x') + "End" << QString("\"Startxxx") << QString("xxxEnd\"");
    QTest::newRow("a megabyte of words") << "Start " + QString("word ").repeated(1 << 18) + "End"
                                         << QString("\"Start word") << QString("word End\"");
}

// A hand-off of a megabyte: the box shows the start and the end of the name and a readable
// amount of text, not the whole of it.
void ConversionFlowTest::aHugeNameIsCutInTheMiddle() {
    QFETCH(QString, engineName);
    QFETCH(QString, start);
    QFETCH(QString, end);
    const QString text = textFile();
    driver_->then(ModalDriver::typeName(path("out.wav"))).then(ModalDriver::press(QMessageBox::Ok));
    QCOMPARE(run(engineName + "%" + text), app::ExitFailure);
    QCOMPARE(driver_->sequence(), QString("QFileDialog,QMessageBox"));
    expectFailureBox(1, {start});
    const QString& shown = seen(1).text;
    QVERIFY2(shown.contains(end + " (\"kestrova-wav-cli voices\""), qPrintable(shown.right(200)));
    QVERIFY2(shown.contains(QChar(0x2026)), "no ellipsis");
    QVERIFY2(shown.size() < 2100, qPrintable(QString::number(shown.size())));
    QVERIFY(seen(1).size.width() < 1000);
    QVERIFY(QFile::exists(text));
}

// A name wider than sixty characters but narrower than the screen is shown whole, wrapped
// onto a line of its own rather than cut, and the box still fits the screen.
void ConversionFlowTest::aLongNameThatFitsIsShownWhole() {
    const QString engineName = "Voice" + QString(60, 'n');
    driver_->then(ModalDriver::typeName(path("out.wav"))).then(ModalDriver::press(QMessageBox::Ok));
    QCOMPARE(run(engineName + "%" + textFile()), app::ExitFailure);
    expectFailureBox(1, {"\"" + engineName + "\""});
    QVERIFY(!seen(1).text.contains(QChar(0x2026)));
    QVERIFY(seen(1).size.width() <= QApplication::primaryScreen()->availableGeometry().width());
}

void ConversionFlowTest::missingTextFileIsReported() {
    const QString text = path("missing.txt");
    const QString wave = path("keep.wav");
    writeFile(wave, "keep me");
    driver_->then(ModalDriver::typeName(wave))
        .then(ModalDriver::press(QMessageBox::Yes))
        .then(ModalDriver::press(QMessageBox::Ok));
    QCOMPARE(run(QString(voiceName) + "%" + text), app::ExitFailure);
    QCOMPARE(driver_->sequence(), QString("QFileDialog,QMessageBox,QMessageBox"));
    expectFailureBox(2, {"missing.txt"});
    QCOMPARE(readFile(wave), QByteArray("keep me"));
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"keep.wav"});
    QVERIFY(!window_->isVisible());
}

void ConversionFlowTest::closingTheWindowCancelsQuietly() {
    const QString text = textFile(sentences(140000));
    const QString wave = path("out.wav");
    const auto* bar = window_->findChild<QProgressBar*>("progressBar");
    connect(bar, &QProgressBar::valueChanged, window_.get(), [this](int value) {
        if (value > 0)
            window_->close();
    });
    driver_->then(ModalDriver::typeName(wave));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(run(QString(voiceName) + "%" + text), app::ExitSuccess);
    QCOMPARE(driver_->sequence(), QString("QFileDialog"));
    QCOMPARE(windowShows_, 1);
    QVERIFY(bar->value() < bar->maximum());
    QVERIFY(QFile::exists(text));
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"t.txt"});
    QVERIFY2(clock.elapsed() < 20000, "the rendering did not stop soon after the close");
}

void ConversionFlowTest::escapeCancelsToo() {
    const QString text = textFile(sentences(140000));
    const auto* bar = window_->findChild<QProgressBar*>("progressBar");
    connect(bar, &QProgressBar::valueChanged, window_.get(), [this](int value) {
        if (value > 0 && window_->isVisible())
            QTest::keyClick(window_.get(), Qt::Key_Escape);
    });
    driver_->then(ModalDriver::typeName(path("out.wav")));
    QCOMPARE(run(QString(voiceName) + "%" + text), app::ExitSuccess);
    QCOMPARE(driver_->sequence(), QString("QFileDialog"));
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"t.txt"});
}

void ConversionFlowTest::renderingFailureRestoresThePointer() {
    const QString text = textFile();
    test::FailingSpeechControl failing("the engine fell over");
    bool busyAtFailure = true;
    driver_->then(ModalDriver::typeName(path("out.wav")))
        .then(ModalDriver::observe(
            [&](QWidget&) { busyAtFailure = QApplication::overrideCursor() != nullptr; },
            ModalDriver::press(QMessageBox::Ok)));
    test::StandardErrorCapture capture;
    const app::ExitStatus status = run(QString(voiceName) + "%" + text, failing);
    const std::string errors = capture.release();
    QCOMPARE(status, app::ExitFailure);
    // Qt may log lines of its own there; ours is one whole line.
    QVERIFY2(test::linesStartingWith(errors, "kestrova-wav:") ==
                 std::vector<std::string>{"kestrova-wav: the engine fell over"},
             errors.c_str());
    QCOMPARE(failing.renderings(), 1);
    QCOMPARE(driver_->sequence(), QString("QFileDialog,QMessageBox"));
    expectFailureBox(1, {"the engine fell over"});
    QVERIFY(!busyAtFailure);
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QCOMPARE(windowShows_, 1);
    QVERIFY(!window_->isVisible());
    QVERIFY(QFile::exists(text));
}

QTEST_MAIN(ConversionFlowTest)
#include "conversion_flow_test.moc"

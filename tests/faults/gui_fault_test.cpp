// Faults in the window program's real flow, offscreen: the real Save dialog, notice window,
// message boxes and speech control, answered by ModalDriver, with real files and voices.
// The disk fills up, the folder refuses the file, the text file goes away during the
// rendering, a speech worker is killed in the middle of the text.

#include "app/conversion_run.h"
#include "modal_driver.h"
#include "platform/qt_desktop.h"
#include "platform/qt_speech_control.h"
#include "process_support.h"
#include "speech/voice.h"
#include "ui/frmConvert.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <sndfile.h>
#include <sys/stat.h>

using namespace kestrova;
using gui_test::ModalDriver;

namespace {

constexpr auto voiceName = "eSpeak NG English (America)";

QByteArray sentences(int count) {
    QByteArray text;
    for (int i = 1; i <= count; ++i)
        text += "Sentence number " + QByteArray::number(i) + " keeps the speech engine busy. ";
    return text;
}

void writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

sf_count_t waveFrames(const QString& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (file == nullptr)
        return -1;
    sf_close(file);
    return info.frames;
}

// Every file in a folder, hidden ones included, with its bytes.
QMap<QString, QByteArray> contents(const QString& folder) {
    QMap<QString, QByteArray> files;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        files[name] = readAll(folder + "/" + name);
    return files;
}

// Limits the size of any file this process writes; a write past it fails with EFBIG.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, saved_.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &saved_); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
};

} // namespace

class GuiFaultTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void diskFullLeavesNothing_data();
    void diskFullLeavesNothing();
    void readOnlyFolderIsReported_data();
    void readOnlyFolderIsReported();
    void textDeletedWhileRenderingStillGivesTheWave();
    void killedWorkerIsReported();

private:
    QString path(const QString& name) const { return dir_->filePath(name); }
    app::ExitStatus run(const QString& textFile);
    // Calls act once, at the first progress after the rendering began.
    void onceRenderingBegan(std::function<bool()> act);
    void expectFailureBox(int index, const QStringList& textParts) const;

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<ui::frmConvert> window_;
    std::unique_ptr<platform::QtDesktop> desktop_;
    std::unique_ptr<platform::QtSpeechControl> speech_;
    std::unique_ptr<ModalDriver> driver_;
};

void GuiFaultTest::initTestCase() {
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    // Start the engines now: eSpeak NG's start probes for a sound server, and that probe
    // sizes a 64 MiB shared memory file, which a file size limit set later would refuse.
    const speech::VoiceRegistry voices;
    QVERIFY(!voices.voices().empty());
}

void GuiFaultTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    window_ = std::make_unique<ui::frmConvert>();
    desktop_ = std::make_unique<platform::QtDesktop>(window_->saveDialog());
    ui::frmConvert& window = *window_;
    speech_ = std::make_unique<platform::QtSpeechControl>(
        window, [&window](double done) { window.setProgress(done); }, window.cancelFlag());
    driver_ = std::make_unique<ModalDriver>();
}

void GuiFaultTest::cleanup() {
    const int unused = driver_->unusedActions();
    bool unexpected = false;
    for (const ModalDriver::Seen& dialog : driver_->seen())
        unexpected |= !dialog.expected;
    driver_.reset();
    speech_.reset();
    desktop_.reset();
    window_.reset();
    dir_.reset();
    QCOMPARE(unused, 0);
    QVERIFY(!unexpected);
    QVERIFY(QApplication::overrideCursor() == nullptr);
    // No worker, and no process of a worker, outlives a run.
    QVERIFY(faults::survivors().empty());
}

app::ExitStatus GuiFaultTest::run(const QString& textFile) {
    app::ConversionPlatform platform{*desktop_, *window_, *speech_};
    return app::launchHandOff((QString(voiceName) + "%" + textFile).toStdString(), platform);
}

void GuiFaultTest::onceRenderingBegan(std::function<bool()> act) {
    const auto* bar = window_->findChild<QProgressBar*>("progressBar");
    auto done = std::make_shared<bool>(false);
    connect(bar, &QProgressBar::valueChanged, window_.get(), [act, done](int value) {
        if (value > 0 && !*done)
            *done = act();
    });
}

void GuiFaultTest::expectFailureBox(int index, const QStringList& textParts) const {
    const ModalDriver::Seen& box = driver_->seen().at(index);
    QCOMPARE(box.className, QString("QMessageBox"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.title, QString("Kestrova WAV Converter"));
    for (const QString& part : textParts)
        QVERIFY2(box.text.contains(part), qPrintable(box.text));
}

void GuiFaultTest::diskFullLeavesNothing_data() {
    QTest::addColumn<bool>("smallDisk"); // else a file size limit
    QTest::addColumn<bool>("fileThere");
    QTest::newRow("small disk") << true << false;
    QTest::newRow("small disk, over a file") << true << true;
    QTest::newRow("file size limit") << false << false;
    QTest::newRow("file size limit, over a file") << false << true;
}

void GuiFaultTest::diskFullLeavesNothing() {
    QFETCH(bool, smallDisk);
    QFETCH(bool, fileThere);
    const QString text = path("t.txt");
    writeFile(text, sentences(100)); // over a minute of speech: megabytes of wave
    QDir(dir_->path()).mkdir("out");
    std::optional<faults::TmpfsMount> mount;
    if (smallDisk) {
        if (!faults::privateMountTable())
            QSKIP("mounting a small file system needs root");
        mount.emplace(QFile::encodeName(path("out")).toStdString(), 256 << 10);
        QVERIFY(mount->mounted());
    }
    const QString wave = path("out/speech.wav");
    if (fileThere)
        writeFile(wave, "an older file");
    const auto before = contents(path("out"));
    driver_->then(ModalDriver::typeName(wave));
    if (fileThere)
        driver_->then(ModalDriver::press(QMessageBox::Yes));
    driver_->then(ModalDriver::press(QMessageBox::Ok));

    app::ExitStatus status;
    {
        std::optional<FileSizeLimit> limit;
        if (!smallDisk)
            limit.emplace(256 << 10);
        status = run(text);
    }
    QCOMPARE(status, app::ExitFailure);
    QCOMPARE(driver_->sequence(), fileThere ? QString("QFileDialog,QMessageBox,QMessageBox")
                                            : QString("QFileDialog,QMessageBox"));
    expectFailureBox(fileThere ? 2 : 1, {"\"" + wave + "\"",
                                         smallDisk ? "No space left on device" : "File too large"});
    QCOMPARE(contents(path("out")), before);
    QCOMPARE(readAll(text), sentences(100));
}

void GuiFaultTest::readOnlyFolderIsReported_data() {
    QTest::addColumn<bool>("fileThere");
    QTest::newRow("new file") << false;
    QTest::newRow("over a file") << true;
}

void GuiFaultTest::readOnlyFolderIsReported() {
    QFETCH(bool, fileThere);
    const QString text = path("t.txt");
    writeFile(text, "A short text.");
    QDir(dir_->path()).mkdir("ro");
    const QString wave = path("ro/speech.wav");
    std::optional<faults::TmpfsMount> mount;
    QString reason = "Permission denied";
    if (::geteuid() == 0) {
        // Permissions do not stop root: a file system mounted read-only does.
        if (!faults::privateMountTable())
            QSKIP("root without a private mount table cannot make a read-only folder");
        mount.emplace(QFile::encodeName(path("ro")).toStdString(), 1 << 20);
        QVERIFY(mount->mounted());
        if (fileThere)
            writeFile(wave, "an older file");
        QVERIFY(mount->makeReadOnly());
        reason = "Read-only file system";
    } else {
        if (fileThere)
            writeFile(wave, "an older file");
        QVERIFY(QFile::setPermissions(path("ro"), QFile::ReadOwner | QFile::ExeOwner));
    }
    const auto before = contents(path("ro"));
    driver_->then(ModalDriver::typeName(wave));
    if (fileThere)
        driver_->then(ModalDriver::press(QMessageBox::Yes));
    driver_->then(ModalDriver::press(QMessageBox::Ok));
    QCOMPARE(run(text), app::ExitFailure);
    expectFailureBox(fileThere ? 2 : 1, {"\"" + wave + "\"", reason});
    QCOMPARE(contents(path("ro")), before);
    QVERIFY(QFile::exists(text));
    QFile::setPermissions(path("ro"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The text file is read through the file the rendering opened: the wave file is complete.
// Its deletion at the end then fails, as any failed deletion does: the program says so and
// ends with status 1, and the wave file stays.
void GuiFaultTest::textDeletedWhileRenderingStillGivesTheWave() {
    // More than the 64 KiB the rendering reads at a time: most of it is read after the
    // deletion.
    const QString text = path("t.txt");
    writeFile(text, sentences(1500));
    QVERIFY(QFileInfo(text).size() > 65536);
    const QString wave = path("speech.wav");
    onceRenderingBegan([&] { return QFile::remove(text); });
    driver_->then(ModalDriver::typeName(wave))
        .then(ModalDriver::press(QMessageBox::Ok))
        .then(ModalDriver::press(QMessageBox::Ok));
    QCOMPARE(run(text), app::ExitFailure);
    QCOMPARE(driver_->sequence(), QString("QFileDialog,QMessageBox,QMessageBox"));
    QCOMPARE(driver_->seen().at(1).text, QString("Wave file created."));
    expectFailureBox(2, {"cannot delete the text file", "\"" + text + "\""});
    QVERIFY(waveFrames(wave) > 22050 * 60 * 60); // over an hour of speech, not a part of it
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"speech.wav"});
}

// A speech worker killed in the middle of the text, as a crash in an engine would end it.
void GuiFaultTest::killedWorkerIsReported() {
    const QString text = path("t.txt");
    writeFile(text, sentences(2000));
    const QString wave = path("speech.wav");
    writeFile(wave, "an older file");
    bool killed = false;
    onceRenderingBegan([&] {
        for (const pid_t worker : faults::childrenOf(::getpid()))
            if (!faults::childrenOf(worker).empty()) // busy with a chunk
                return killed = ::kill(worker, SIGKILL) == 0;
        return false;
    });
    driver_->then(ModalDriver::typeName(wave))
        .then(ModalDriver::press(QMessageBox::Yes))
        .then(ModalDriver::press(QMessageBox::Ok));
    QCOMPARE(run(text), app::ExitFailure);
    QVERIFY(killed);
    QCOMPARE(driver_->sequence(), QString("QFileDialog,QMessageBox,QMessageBox"));
    expectFailureBox(2, {"\"" + text + "\"", "killed by signal"});
    QCOMPARE(readAll(wave), QByteArray("an older file"));
    QCOMPARE(readAll(text), sentences(2000));
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"speech.wav", "t.txt"}));
}

int main(int argc, char** argv) {
    // Before any thread starts: a private mount table (as root), and orphans adopted here.
    faults::privateMountTable();
    faults::adoptOrphans();
    QApplication application(argc, argv);
    GuiFaultTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "gui_fault_test.moc"

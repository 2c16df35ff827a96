// Faults in the window program's real flow, offscreen: the real Save dialog, notice window,
// message boxes and speech control, answered by ModalDriver, with real files and voices.
// The disk fills up, the folder refuses the file, the text file goes away during the
// rendering, a speech worker is killed in the middle of the text.

#include "speech/voice.h"
#include "support/process_support.h"
#include "support/standard_error_capture.h"
#include "support/window_flow_fixture.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProgressBar>
#include <QTest>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace kestrova;
using test::ModalDriver;

namespace {

constexpr auto voiceName = "eSpeak NG English (America)";

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

class GuiFaultTest : public test::WindowFlowFixture {
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
    void deviceIsWrittenIntoAndTheTextKept();
    void fifoIsRefusedBeforeRendering();
    void linkIsWrittenThrough();
    void textReplacedBeforeOkIsKept_data();
    void textReplacedBeforeOkIsKept();

private:
    // The text file handed to the program with the fast voice.
    app::ExitStatus convert(const QString& textFile);
    app::ExitStatus convert(const QString& textFile, app::Desktop& desktop);
};

void GuiFaultTest::initTestCase() {
    useQtDialogs();
    // Start the engines now: eSpeak NG's start probes for a sound server, and that probe
    // sizes a 64 MiB shared memory file, which a file size limit set later would refuse.
    const speech::VoiceRegistry voices;
    QVERIFY(!voices.voices().empty());
}

void GuiFaultTest::init() {
    setUpFlow();
}

void GuiFaultTest::cleanup() {
    tearDownFlow();
    // No worker, and no process of a worker, outlives a run.
    QVERIFY(test::survivors().empty());
}

app::ExitStatus GuiFaultTest::convert(const QString& textFile) {
    return run(QString(voiceName) + "%" + textFile);
}

app::ExitStatus GuiFaultTest::convert(const QString& textFile, app::Desktop& desktop) {
    return run(QString(voiceName) + "%" + textFile, desktop);
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
    writeFile(text, sentences(5000)); // over a minute of speech: megabytes of wave
    QDir(dir_->path()).mkdir("out");
    std::optional<test::TmpfsMount> mount;
    if (smallDisk) {
        if (!test::privateMountTable())
            QSKIP("mounting a small file system needs root");
        mount.emplace(QFile::encodeName(path("out")).toStdString(), 256 << 10);
        QVERIFY(mount->mounted());
    }
    const QString wave = path("out/speech.wav");
    if (fileThere)
        writeFile(wave, "an older file");
    const auto before = snapshot(path("out"));
    driver_->then(ModalDriver::typeName(wave));
    if (fileThere)
        driver_->then(ModalDriver::press(QMessageBox::Yes));
    driver_->then(ModalDriver::press(QMessageBox::Ok));

    app::ExitStatus status;
    {
        std::optional<FileSizeLimit> limit;
        if (!smallDisk)
            limit.emplace(256 << 10);
        status = convert(text);
    }
    QCOMPARE(status, app::ExitFailure);
    QCOMPARE(driver_->sequence(), fileThere ? QString("QFileDialog,QMessageBox,QMessageBox")
                                            : QString("QFileDialog,QMessageBox"));
    expectFailureBox(fileThere ? 2 : 1, {"\"" + wave + "\"",
                                         smallDisk ? "No space left on device" : "File too large"});
    QCOMPARE(snapshot(path("out")), before);
    QCOMPARE(readFile(text), sentences(5000));
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
    std::optional<test::TmpfsMount> mount;
    QString reason = "Permission denied";
    if (::geteuid() == 0) {
        // Permissions do not stop root: a file system mounted read-only does.
        if (!test::privateMountTable())
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
    const auto before = snapshot(path("ro"));
    driver_->then(ModalDriver::typeName(wave));
    if (fileThere)
        driver_->then(ModalDriver::press(QMessageBox::Yes));
    driver_->then(ModalDriver::press(QMessageBox::Ok));
    QCOMPARE(convert(text), app::ExitFailure);
    expectFailureBox(fileThere ? 2 : 1, {"\"" + wave + "\"", reason});
    QCOMPARE(snapshot(path("ro")), before);
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
    writeFile(text, sentences(76000));
    QVERIFY(QFileInfo(text).size() > 65536);
    const QString wave = path("speech.wav");
    onceRenderingBegan([&] { return QFile::remove(text); });
    driver_->then(ModalDriver::typeName(wave))
        .then(ModalDriver::press(QMessageBox::Ok))
        .then(ModalDriver::press(QMessageBox::Ok));
    QCOMPARE(convert(text), app::ExitFailure);
    QCOMPARE(driver_->sequence(), QString("QFileDialog,QMessageBox,QMessageBox"));
    QCOMPARE(driver_->seen().at(1).text, QString("Wave file created."));
    expectFailureBox(2, {"cannot delete the text file", "\"" + text + "\""});
    QVERIFY(soundInfo(wave).frames > 22050 * 60 * 60); // over an hour of speech, not a part of it
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"speech.wav"});
}

// A speech worker killed in the middle of the text, as a crash in an engine would end it.
void GuiFaultTest::killedWorkerIsReported() {
    const QString text = path("t.txt");
    writeFile(text, sentences(102000));
    const QString wave = path("speech.wav");
    writeFile(wave, "an older file");
    bool killed = false;
    onceRenderingBegan([&] {
        for (const pid_t worker : test::childrenOf(::getpid()))
            if (!test::childrenOf(worker).empty()) // busy with a chunk
                return killed = ::kill(worker, SIGKILL) == 0;
        return false;
    });
    driver_->then(ModalDriver::typeName(wave))
        .then(ModalDriver::press(QMessageBox::Yes))
        .then(ModalDriver::press(QMessageBox::Ok));
    QCOMPARE(convert(text), app::ExitFailure);
    QVERIFY(killed);
    QCOMPARE(driver_->sequence(), QString("QFileDialog,QMessageBox,QMessageBox"));
    expectFailureBox(2, {"\"" + text + "\"", "killed by signal"});
    QCOMPARE(readFile(wave), QByteArray("an older file"));
    QCOMPARE(readFile(text), sentences(102000));
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"speech.wav", "t.txt"}));
}

struct stat statusOf(const QString& path) {
    struct stat status {};
    ::lstat(QFile::encodeName(path).constData(), &status);
    return status;
}

// /dev/null's kind of device, made here: the window program writes into it as it stands. No
// wave file exists to show for the text, so the text file stays.
void GuiFaultTest::deviceIsWrittenIntoAndTheTextKept() {
    const QString text = path("t.txt");
    writeFile(text, "A short text.");
    const QString device = path("speech.wav");
    if (::mknod(QFile::encodeName(device).constData(), S_IFCHR | 0666, ::makedev(1, 3)) != 0)
        QSKIP("mknod is not permitted here");
    driver_->then(ModalDriver::typeName(device))
        .then(ModalDriver::press(QMessageBox::Yes))
        .then(ModalDriver::press(QMessageBox::Ok));
    QCOMPARE(convert(text), app::ExitSuccess);
    QCOMPARE(driver_->sequence(), QString("QFileDialog,QMessageBox,QMessageBox"));
    QCOMPARE(driver_->seen().at(2).text, QString("Wave file created."));
    QVERIFY(S_ISCHR(statusOf(device).st_mode));
    QCOMPARE(statusOf(device).st_rdev, ::makedev(1, 3));
    QCOMPARE(readFile(text), QByteArray("A short text."));
}

// A wave file needs to seek back to its start: a FIFO cannot take one, and says so before
// anything is rendered.
void GuiFaultTest::fifoIsRefusedBeforeRendering() {
    const QString text = path("t.txt");
    writeFile(text, "A short text.");
    const QString fifo = path("speech.wav");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0640), 0);
    driver_->then(ModalDriver::typeName(fifo))
        .then(ModalDriver::press(QMessageBox::Yes))
        .then(ModalDriver::press(QMessageBox::Ok));
    QCOMPARE(convert(text), app::ExitFailure);
    expectFailureBox(2, {"\"" + fifo + "\"", "a wave file cannot be streamed into a FIFO"});
    QVERIFY(S_ISFIFO(statusOf(fifo).st_mode));
    QCOMPARE(statusOf(fifo).st_mode & 07777, 0640u);
    QCOMPARE(readFile(text), QByteArray("A short text."));
}

// The link stays a link; the file it points to gets the sound and keeps its mode and owner.
void GuiFaultTest::linkIsWrittenThrough() {
    const QString text = path("t.txt");
    writeFile(text, "A short text.");
    const QString real = path("real.wav");
    writeFile(real, "an older file");
    QVERIFY(::chmod(QFile::encodeName(real).constData(), 0600) == 0);
    const bool root = ::geteuid() == 0;
    if (root)
        QVERIFY(::chown(QFile::encodeName(real).constData(), 4321, 8765) == 0);
    const QString link = path("speech.wav");
    QVERIFY(QFile::link("real.wav", link));
    driver_->then(ModalDriver::typeName(link))
        .then(ModalDriver::press(QMessageBox::Yes))
        .then(ModalDriver::press(QMessageBox::Ok));
    QCOMPARE(convert(text), app::ExitSuccess);
    QCOMPARE(QFileInfo(link).symLinkTarget(), real);
    QVERIFY(soundInfo(real).frames > 0);
    QCOMPARE(statusOf(real).st_mode, S_IFREG | 0600u);
    QCOMPARE(statusOf(real).st_nlink, 1u);
    if (root) {
        QCOMPARE(statusOf(real).st_uid, 4321u);
        QCOMPARE(statusOf(real).st_gid, 8765u);
    }
    QVERIFY(!QFile::exists(text));
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
             (QStringList{"real.wav", "speech.wav"}));
}

void GuiFaultTest::textReplacedBeforeOkIsKept_data() {
    QTest::addColumn<bool>("anotherFile"); // else the same file, written to
    QTest::addColumn<QString>("reason");
    QTest::newRow("another file in its place")
        << true << "another file took its place after it was converted";
    QTest::newRow("the file changed") << false << "it was changed after it was converted";
}

// The host wrote a newer text while "Wave file created." was up: it was never converted, so
// it is kept, and the program says why, in the message box and on standard error.
void GuiFaultTest::textReplacedBeforeOkIsKept() {
    QFETCH(bool, anotherFile);
    QFETCH(QString, reason);
    const QString text = path("t.txt");
    writeFile(text, "The first text.");
    const QString wave = path("speech.wav");
    const QByteArray newer = "A newer text, never converted.";
    driver_->then(ModalDriver::typeName(wave))
        .then(ModalDriver::observe(
            [&](QWidget&) {
                if (anotherFile) {
                    writeFile(path("next.txt"), newer);
                    QVERIFY(::rename(QFile::encodeName(path("next.txt")).constData(),
                                     QFile::encodeName(text).constData()) == 0);
                } else {
                    writeFile(text, newer);
                }
            },
            ModalDriver::press(QMessageBox::Ok)))
        .then(ModalDriver::press(QMessageBox::Ok));
    // The failure line is written to descriptor 2 itself: catch it there.
    test::StandardErrorCapture capture;
    const app::ExitStatus status = convert(text);
    const std::string errors = capture.release();
    QCOMPARE(status, app::ExitFailure);
    QCOMPARE(driver_->sequence(), QString("QFileDialog,QMessageBox,QMessageBox"));
    const QString message = "kept the text file \"" + text + "\": " + reason;
    expectFailureBox(2, {message});
    QVERIFY2(test::linesStartingWith(errors, "kestrova-wav:") ==
                 std::vector<std::string>{("kestrova-wav: " + message).toStdString()},
             errors.c_str());
    QCOMPARE(readFile(text), newer);
    QVERIFY(soundInfo(wave).frames > 0);
}

int main(int argc, char** argv) {
    // Before any thread starts: a private mount table (as root), and orphans adopted here.
    test::privateMountTable();
    test::adoptOrphans();
    QApplication application(argc, argv);
    GuiFaultTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "gui_fault_test.moc"

#include "support/window_flow_fixture.h"

#include <QApplication>
#include <QFile>
#include <QProgressBar>
#include <QTest>

namespace kestrova::test {

void WindowFlowFixture::useQtDialogs() {
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}

void WindowFlowFixture::setUpFlow() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    window_ = std::make_unique<ui::frmConvert>();
    desktop_ = std::make_unique<platform::QtDesktop>(window_->saveDialog());
    ui::frmConvert& window = *window_;
    speech_ = std::make_unique<platform::QtSpeechControl>(
        window, [&window](double done) { window.setProgress(done); }, window.cancelFlag());
    driver_ = std::make_unique<ModalDriver>();
}

void WindowFlowFixture::tearDownFlow() {
    const int unused = driver_->unusedActions();
    bool unexpected = false;
    for (const ModalDriver::Seen& dialog : driver_->seen())
        unexpected |= !dialog.expected;
    driver_.reset();
    speech_.reset();
    desktop_.reset();
    window_.reset();
    dir_.reset();
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QCOMPARE(unused, 0);
    QVERIFY(!unexpected);
}

std::filesystem::path WindowFlowFixture::fileName(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

app::ExitStatus WindowFlowFixture::run(const QString& handOff) {
    return run(handOff, *speech_);
}

app::ExitStatus WindowFlowFixture::run(const QString& handOff, app::SpeechControl& speech) {
    app::ConversionPlatform platform{*desktop_, *window_, speech};
    return app::launchHandOff(handOff.toStdString(), platform);
}

app::ExitStatus WindowFlowFixture::run(const QString& handOff, app::Desktop& desktop) {
    app::ConversionPlatform platform{desktop, *window_, *speech_};
    return app::launchHandOff(handOff.toStdString(), platform);
}

void WindowFlowFixture::onceRenderingBegan(std::function<bool()> act) {
    const auto* bar = window_->findChild<QProgressBar*>("progressBar");
    auto done = std::make_shared<bool>(false);
    connect(bar, &QProgressBar::valueChanged, window_.get(), [act, done](int value) {
        if (value > 0 && !*done)
            *done = act();
    });
}

void WindowFlowFixture::expectFailureBox(int index, const QStringList& textParts) const {
    const ModalDriver::Seen& box = seen(index);
    QCOMPARE(box.className, QString("QMessageBox"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.title, QString("Kestrova WAV Converter"));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    for (const QString& part : textParts)
        QVERIFY2(box.text.contains(part), qPrintable(box.text));
}

QByteArray WindowFlowFixture::readFile(const QString& path) {
    return QByteArray::fromStdString(readBytes(fileName(path)));
}

void WindowFlowFixture::writeFile(const QString& path, const QByteArray& content) {
    writeBytes(fileName(path), std::string_view(content.constData(), content.size()));
}

QByteArray WindowFlowFixture::sentences(std::size_t bytes) {
    return QByteArray::fromStdString(test::sentences(bytes));
}

SF_INFO WindowFlowFixture::soundInfo(const QString& path) {
    return test::soundInfo(fileName(path)).value_or(SF_INFO{});
}

Snapshot WindowFlowFixture::snapshot(const QString& folder) {
    return test::snapshot(fileName(folder));
}

} // namespace kestrova::test

// The run asks the speech control for the format its engine name calls for: the eight
// arguments of the rendering call, 18 (16 kHz) or 22 (22.05 kHz) among them, as a recording
// control receives them behind the real Save dialog and message boxes.

#include "app/conversion_run.h"
#include "platform/qt_desktop.h"
#include "support/modal_driver.h"
#include "support/recording_speech_control.h"
#include "ui/frmConvert.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kestrova;
using test::ModalDriver;
using test::RecordingSpeechControl;

namespace {

QStringList texts(const std::vector<std::string>& values) {
    QStringList list;
    for (const std::string& value : values)
        list << QString::fromStdString(value);
    return list;
}

} // namespace

class FormatCodeFlowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void renderingCallCarriesTheFormatCode_data();
    void renderingCallCarriesTheFormatCode();
};

void FormatCodeFlowTest::initTestCase() {
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}

void FormatCodeFlowTest::renderingCallCarriesTheFormatCode_data() {
    QTest::addColumn<QString>("engineName");
    QTest::addColumn<int>("formatCode");
    // "16" and "ATT" anywhere, in any letter case.
    QTest::newRow("ATT ... 16") << QString("ATT DTNV1.4 Crystal16") << 18;
    QTest::newRow("att ... 16, lower case") << QString("my att voice 16k") << 18;
    QTest::newRow("16 before AtT") << QString("16AtT") << 18;
    // Exactly "VW KATE" or "VW PAUL", in any letter case.
    QTest::newRow("VW Kate") << QString("VW Kate") << 18;
    QTest::newRow("vw paul") << QString("vw paul") << 18;
    QTest::newRow("VW KATE 16, no ATT") << QString("VW KATE 16") << 22;
    QTest::newRow("eSpeak NG") << QString("eSpeak NG English (America)") << 22;
    QTest::newRow("empty") << QString() << 22;
}

void FormatCodeFlowTest::renderingCallCarriesTheFormatCode() {
    QFETCH(QString, engineName);
    QFETCH(int, formatCode);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString text = dir.filePath("t.txt");
    const QString wave = dir.filePath("out.wav");
    {
        QFile file(text);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("Hello.");
    }

    ui::frmConvert window;
    platform::QtDesktop desktop(window.saveDialog());
    RecordingSpeechControl speech;
    app::ConversionPlatform platform{desktop, window, speech};
    ModalDriver driver;
    driver.then(ModalDriver::typeName(wave)).then(ModalDriver::press(QMessageBox::Ok));

    QCOMPARE(app::ConvertToWave(engineName.toStdString(), text.toStdString(), platform),
             app::ExitSuccess);

    QCOMPARE(driver.sequence(), QString("QFileDialog,QMessageBox"));
    QCOMPARE(driver.seen().at(1).text, QString("Wave file created."));
    QCOMPARE(speech.calls().size(), std::size_t{2});
    QCOMPARE(QString::fromStdString(speech.calls()[0].member), QString("SetEngineProperty"));
    QCOMPARE(texts(speech.calls()[0].arguments), (QStringList{"5", engineName}));
    QCOMPARE(QString::fromStdString(speech.calls()[1].member), QString("ConvertTextFileToWave"));
    QCOMPARE(texts(speech.calls()[1].arguments),
             (QStringList{text, "0", "2", "-1", wave, "3", QString::number(formatCode), "1"}));
}

QTEST_MAIN(FormatCodeFlowTest)
#include "format_code_flow_test.moc"

#include "ui/frmConvert.h"

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTest>

using kestrova::ui::frmConvert;

namespace {

int pixels(int twips, int dotsPerInch) {
    return (twips * dotsPerInch + 720) / 1440;
}

QRect twipsRect(int left, int top, int width, int height, const QWidget& window) {
    return {pixels(left, window.logicalDpiX()), pixels(top, window.logicalDpiY()),
            pixels(width, window.logicalDpiX()), pixels(height, window.logicalDpiY())};
}

bool hasOpaquePixels(const QImage& image) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 0)
                return true;
    return false;
}

} // namespace

class FrmConvertTest : public QObject {
    Q_OBJECT
private slots:
    void childrenCarryTheFormNames();
    void geometryComesFromTwips();
    void noticeTextIsWholeAndWrapped();
    void iconsAreDrawn();
    void frameIsFixedWithoutMaximize();
    void accessibleNames();
    void progressFollowsTheFraction_data();
    void progressFollowsTheFraction();
    void closingRequestsCancellation();
    void escapeClosesTheWindow();
    void showStartsAFreshRun();
    void speechPlaceholderDrawsNothing();
};

void FrmConvertTest::childrenCarryTheFormNames() {
    frmConvert window;
    QVERIFY(window.findChild<QLabel*>("Image1"));
    QVERIFY(window.findChild<QLabel*>("Label1"));
    QVERIFY(window.findChild<QWidget*>("XChantTTS1"));
    QVERIFY(window.findChild<QProgressBar*>("progressBar"));
    QObject* dialog = window.findChild<QObject*>("dlgCommonDialog");
    QVERIFY(dialog);
    QVERIFY(!dialog->isWidgetType());
    QCOMPARE(window.windowTitle(), QString("Convert a Text File into a WAV Audio File"));
}

void FrmConvertTest::geometryComesFromTwips() {
    frmConvert window;
    const auto* label = window.findChild<QLabel*>("Label1");
    QCOMPARE(window.findChild<QLabel*>("Image1")->geometry(),
             twipsRect(240, 240, 480, 480, window));
    QCOMPARE(window.findChild<QWidget*>("XChantTTS1")->geometry(),
             twipsRect(3720, 480, 855, 495, window));
    const QRect designLabel = twipsRect(960, 240, 3375, 495, window);
    QCOMPARE(label->pos(), designLabel.topLeft());
    QCOMPARE(label->width(), designLabel.width());
    QVERIFY(label->height() >= designLabel.height());
    QCOMPARE(window.width(), pixels(4605, window.logicalDpiX()));
    QVERIFY(window.height() >= pixels(1095, window.logicalDpiY()));
    if (label->height() == designLabel.height())
        QCOMPARE(window.height(), pixels(1095, window.logicalDpiY()));
    if (window.logicalDpiX() == 96 && window.logicalDpiY() == 96 &&
        label->height() == designLabel.height())
        QCOMPARE(window.size(), QSize(307, 73));

    const auto* bar = window.findChild<QProgressBar*>("progressBar");
    QCOMPARE(bar->x(), label->x());
    QCOMPARE(bar->width(), label->width());
    QVERIFY(bar->y() > label->geometry().bottom());
    QVERIFY(bar->geometry().bottom() < window.height());
    QVERIFY(bar->height() >= 3 && bar->height() <= 8);
}

void FrmConvertTest::noticeTextIsWholeAndWrapped() {
    frmConvert window;
    const auto* label = window.findChild<QLabel*>("Label1");
    QCOMPARE(label->text(), QString("Converting this text to WAV Audio. Please be patient. This "
                                    "may take a while..."));
    QVERIFY(label->wordWrap());
    // Every line fits: the label is at least as tall as its text needs at its width.
    QVERIFY2(label->heightForWidth(label->width()) <= label->height(),
             qPrintable(QString("needs %1 px, has %2")
                            .arg(label->heightForWidth(label->width()))
                            .arg(label->height())));
}

void FrmConvertTest::iconsAreDrawn() {
    frmConvert window;
    const QPixmap microphone = window.findChild<QLabel*>("Image1")->pixmap();
    QVERIFY(!microphone.isNull());
    QCOMPARE(microphone.deviceIndependentSize().toSize(),
             QSize(pixels(480, window.logicalDpiX()), pixels(480, window.logicalDpiY())));
    QVERIFY(hasOpaquePixels(microphone.toImage()));

    const QIcon bolt = window.windowIcon();
    QVERIFY(!bolt.isNull());
    QVERIFY(hasOpaquePixels(bolt.pixmap(16, 16).toImage()));
    QVERIFY(hasOpaquePixels(bolt.pixmap(32, 32).toImage()));
    // The two drawings differ: the small one is its own, not the large one scaled.
    QVERIFY(bolt.pixmap(16, 16).toImage() !=
            QIcon(":/icons/lightning-bolt.svg").pixmap(16, 16).toImage());
}

void FrmConvertTest::frameIsFixedWithoutMaximize() {
    frmConvert window;
    QVERIFY(window.isWindow());
    QCOMPARE(window.minimumSize(), window.maximumSize());
    QCOMPARE(window.size(), window.minimumSize());
    const Qt::WindowFlags flags = window.windowFlags();
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowTitleHint));
    QVERIFY(window.font() == QApplication::font(&window));
}

void FrmConvertTest::accessibleNames() {
    frmConvert window;
    QCOMPARE(window.accessibleName(), window.windowTitle());
    QVERIFY(!window.accessibleDescription().isEmpty());
    const auto* label = window.findChild<QLabel*>("Label1");
    QCOMPARE(label->accessibleName(), label->text());
    QCOMPARE(window.findChild<QProgressBar*>("progressBar")->accessibleName(),
             QString("Conversion progress"));
    // A dialog to a screen reader, which then reads its label; the description does not
    // repeat the label's text.
    const QAccessibleInterface* notice = QAccessible::queryAccessibleInterface(&window);
    QVERIFY(notice);
    QCOMPARE(notice->role(), QAccessible::Dialog);
    QCOMPARE(notice->text(QAccessible::Name), window.windowTitle());
    QVERIFY(!notice->text(QAccessible::Description).contains(label->text()));
}

void FrmConvertTest::progressFollowsTheFraction_data() {
    QTest::addColumn<double>("fraction");
    QTest::addColumn<int>("value");
    QTest::newRow("start") << 0.0 << 0;
    QTest::newRow("half") << 0.5 << 500;
    QTest::newRow("a third") << 1.0 / 3 << 333;
    QTest::newRow("end") << 1.0 << 1000;
    QTest::newRow("past the end") << 1.5 << 1000;
    QTest::newRow("below the start") << -0.25 << 0;
}

void FrmConvertTest::progressFollowsTheFraction() {
    QFETCH(double, fraction);
    QFETCH(int, value);
    frmConvert window;
    const auto* bar = window.findChild<QProgressBar*>("progressBar");
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 1000);
    QVERIFY(!bar->isTextVisible());
    window.setProgress(fraction);
    QCOMPARE(bar->value(), value);
}

void FrmConvertTest::closingRequestsCancellation() {
    frmConvert window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!window.cancelFlag());
    window.close();
    QVERIFY(!window.isVisible());
    QVERIFY(window.cancelFlag());
}

void FrmConvertTest::escapeClosesTheWindow() {
    frmConvert window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::keyClick(&window, Qt::Key_Escape);
    QVERIFY(!window.isVisible());
    QVERIFY(window.cancelFlag());
}

void FrmConvertTest::showStartsAFreshRun() {
    frmConvert window;
    window.show();
    window.setProgress(0.7);
    window.close();
    QVERIFY(window.cancelFlag());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!window.cancelFlag());
    QCOMPARE(window.findChild<QProgressBar*>("progressBar")->value(), 0);
    const QPoint centre = window.screen()->availableGeometry().center();
    const QPoint offset = window.frameGeometry().center() - centre;
    QVERIFY2(qAbs(offset.x()) <= 1 && qAbs(offset.y()) <= 1,
             qPrintable(QString("%1, %2 from the centre").arg(offset.x()).arg(offset.y())));
}

void FrmConvertTest::speechPlaceholderDrawsNothing() {
    frmConvert window;
    auto* placeholder = window.findChild<QWidget*>("XChantTTS1");
    QVERIFY(placeholder->children().isEmpty());
    QVERIFY(!placeholder->autoFillBackground());
    const QImage with = window.grab().toImage();
    placeholder->hide();
    const QImage without = window.grab().toImage();
    QCOMPARE(with, without);
}

QTEST_MAIN(FrmConvertTest)
#include "frm_convert_test.moc"

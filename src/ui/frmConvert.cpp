#include "frmConvert.h"

#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QSvgRenderer>
#include <algorithm>

// Outside any namespace, as Q_INIT_RESOURCE needs: the icons sit in a static library, whose
// unreferenced resource data the linker would otherwise leave out.
static void loadIcons() {
    Q_INIT_RESOURCE(icons);
}

namespace kestrova::ui {
namespace {

// The window's design is in twips, 1440 to the inch, so it keeps its proportions on any
// screen resolution.
struct Twips {
    int left;
    int top;
    int width;
    int height;
};

constexpr int twipsPerInch = 1440;
constexpr int clientWidth = 4605;
constexpr int clientHeight = 1095;
constexpr Twips image1Box{240, 240, 480, 480};
constexpr Twips label1Box{960, 240, 3375, 495};
constexpr Twips xChantTts1Box{3720, 480, 855, 495};
constexpr int progressGap = 60;     // between the text and the bar
constexpr int progressHeight = 75;  // a thin bar, 5 px at 96 dpi
constexpr int progressRange = 1000; // steps of the bar
constexpr int bottomMargin =
    clientHeight - (label1Box.top + label1Box.height + progressGap + progressHeight);

constexpr auto noticeCaption = "Convert a Text File into a WAV Audio File";
constexpr auto noticeText =
    "Converting this text to WAV Audio. Please be patient. This may take a while...";

int toPixels(int twips, int dotsPerInch) {
    return (twips * dotsPerInch + twipsPerInch / 2) / twipsPerInch;
}

// Drawn here rather than through QIcon's SVG engine, which keeps one drawing per icon and
// would scale the large bolt down instead of using the small one made for 16 pixels.
QPixmap drawing(const QString& file, QSize size, qreal devicePixelRatio = 1) {
    QPixmap pixmap(size * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(file);
    QPainter painter(&pixmap);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return pixmap;
}

// A plain top-level widget is a "filler" to a screen reader, which then reads its title and
// description but none of its labels. As a dialog it is read the way a message box is: the
// title, the text everyone sees, then the description. Qt's accessibility cache owns what the
// factory makes.
QAccessibleInterface* noticeAsDialog(const QString& className, QObject* object) {
    auto* notice = qobject_cast<frmConvert*>(object);
    if (notice == nullptr || className != QLatin1String(frmConvert::staticMetaObject.className()))
        return nullptr;
    return new QAccessibleWidget(notice, QAccessible::Dialog);
}

} // namespace

frmConvert::frmConvert(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      XChantTTS1(this), Image1(this), Label1(this), progressBar(this), dlgCommonDialog(this) {
    loadIcons();
    // Installed once: Qt keeps each factory only once.
    QAccessible::installFactory(noticeAsDialog);
    setObjectName("frmConvert");
    setWindowTitle(noticeCaption);
    setWindowIcon(programIcon());
    setAccessibleName(noticeCaption);
    setAccessibleDescription("Shown while the text file is converted into a wave file. Press "
                             "Escape or close the window to cancel the conversion.");

    // The speech control's place on the form; it draws nothing and takes no input.
    XChantTTS1.setObjectName("XChantTTS1");
    XChantTTS1.setAttribute(Qt::WA_TransparentForMouseEvents);
    XChantTTS1.setFocusPolicy(Qt::NoFocus);

    Image1.setObjectName("Image1");
    Image1.setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1.setAccessibleName("Microphone");

    Label1.setObjectName("Label1");
    Label1.setText(noticeText);
    Label1.setTextFormat(Qt::PlainText);
    Label1.setWordWrap(true);
    Label1.setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1.setAccessibleName(noticeText);

    progressBar.setObjectName("progressBar");
    progressBar.setRange(0, progressRange);
    progressBar.setValue(0);
    progressBar.setTextVisible(false);
    progressBar.setAccessibleName("Conversion progress");
    progressBar.setAccessibleDescription("The part of the text converted so far");

    dlgCommonDialog.setObjectName("dlgCommonDialog");

    arrange();
}

QIcon frmConvert::programIcon() {
    loadIcons();
    QIcon icon;
    icon.addPixmap(drawing(":/icons/lightning-bolt-16.svg", QSize(16, 16)));
    for (const int extent : {32, 48, 64})
        icon.addPixmap(drawing(":/icons/lightning-bolt.svg", QSize(extent, extent)));
    return icon;
}

void frmConvert::arrange() {
    const int dpiX = logicalDpiX();
    const int dpiY = logicalDpiY();
    const auto place = [&](QWidget& widget, const Twips& box) {
        widget.setGeometry(toPixels(box.left, dpiX), toPixels(box.top, dpiY),
                           toPixels(box.width, dpiX), toPixels(box.height, dpiY));
    };
    place(XChantTTS1, xChantTts1Box);
    place(Image1, image1Box);
    place(Label1, label1Box);

    Image1.setPixmap(drawing(":/icons/microphone.svg", Image1.size(), devicePixelRatio()));

    // The design's height fits its own font; a larger one adds lines, and the label, the bar
    // and the window grow downwards rather than cut the text off.
    Label1.resize(Label1.width(), std::max(Label1.height(), Label1.heightForWidth(Label1.width())));
    const int progressTop = Label1.geometry().bottom() + 1 + toPixels(progressGap, dpiY);
    progressBar.setGeometry(Label1.x(), progressTop, Label1.width(),
                            toPixels(progressHeight, dpiY));
    const int height = std::max(toPixels(clientHeight, dpiY),
                                progressBar.geometry().bottom() + 1 + toPixels(bottomMargin, dpiY));
    setFixedSize(toPixels(clientWidth, dpiX), height);
}

void frmConvert::show() {
    cancel_ = false;
    progressBar.setValue(0);
    centre();
    QWidget::show();
    centre(); // again, now that the window system may have put a frame around it
    raise();
    activateWindow();
}

void frmConvert::centre() {
    if (const QScreen* display = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(display->availableGeometry().center());
        move(frame.topLeft());
    }
}

void frmConvert::close() {
    QWidget::close();
}

void frmConvert::setProgress(double fraction) {
    progressBar.setValue(static_cast<int>(std::clamp(fraction, 0.0, 1.0) * progressRange + 0.5));
}

void frmConvert::closeEvent(QCloseEvent* event) {
    // The rendering thread sees this between chunks and stops; the run then ends quietly.
    cancel_ = true;
    event->accept();
}

void frmConvert::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void frmConvert::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        arrange();
}

} // namespace kestrova::ui

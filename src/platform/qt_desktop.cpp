#include "qt_desktop.h"

#include "save_dialog.h"
#include "speech/quoted_name.h"
#include "stop_signals.h"

#include <QApplication>
#include <QFile>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QScreen>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace kestrova::platform {
namespace {

// QMessageBox sizes itself to its text alone, so a short message under a long caption, like
// "Wave file created.", gets a title bar too narrow for the caption. Room for the caption in
// a bold title font, a window icon and three title-bar buttons keeps it whole.
void makeRoomForCaption(QMessageBox& box) {
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (grid == nullptr)
        return;
    QFont titleFont = box.font();
    titleFont.setBold(true);
    const QFontMetrics metrics(titleFont);
    constexpr int titleBarItems = 4; // the icon and the three buttons
    const int needed =
        metrics.horizontalAdvance(box.windowTitle()) + titleBarItems * 2 * metrics.height();
    const QMargins margins = grid->contentsMargins();
    grid->setColumnMinimumWidth(grid->columnCount() - 1, needed - margins.left() - margins.right());
}

// The start and end of a text with an ellipsis in place of its middle, cut between whole
// characters.
QString cutInTheMiddle(const QString& text, qsizetype keptEachSide) {
    if (text.size() <= 2 * keptEachSide + 1)
        return text;
    qsizetype head = keptEachSide;
    qsizetype tail = keptEachSide;
    if (text.at(head - 1).isHighSurrogate())
        --head;
    if (text.at(text.size() - tail).isLowSurrogate())
        --tail;
    return text.left(head) + QChar(0x2026) + text.right(tail);
}

// A message names files, and a name may be of any length. A message too long to read is cut
// in the middle, and so is every word (a name has no spaces to wrap at) wider than a box can
// be, so that the box fits the screen, shows the start and end of each name, and is laid out
// at once: a megabyte of text took Qt seconds. Standard error has the whole message.
QString readableMessage(const QString& text, const QFont& font, int widest) {
    constexpr qsizetype longestMessage = 2000;
    const QFontMetrics metrics(font);
    QStringList words = cutInTheMiddle(text, longestMessage / 2).split(' ');
    for (QString& word : words)
        if (metrics.horizontalAdvance(word) > widest)
            word = metrics.elidedText(word, Qt::ElideMiddle, widest);
    return words.join(' ');
}

// The widest word a box shows whole: three quarters of the screen's free width, the rest
// being the box's icon, margins and frame. A name that fits is shown whole, at any scale.
int widestWord(const QMessageBox& box) {
    constexpr int fallbackInCharacters = 60;
    if (const QScreen* screen = box.screen())
        return screen->availableGeometry().width() * 3 / 4;
    return fallbackInCharacters * QFontMetrics(box.font()).averageCharWidth();
}

void runMessageBox(QMessageBox::Icon icon, const std::string& text, const std::string& title) {
    const QString caption = QString::fromStdString(title);
    QMessageBox box(icon, caption, QString(), QMessageBox::Ok);
    box.setText(readableMessage(QString::fromStdString(text), box.font(), widestWord(box)));
    // The box's label is its text to a screen reader; a description repeating it was read
    // twice.
    box.setAccessibleName(caption);
    makeRoomForCaption(box);
    box.exec();
}

} // namespace

QtDesktop::QtDesktop(SaveDialog& saveDialog, const StopSignals* stops)
    : saveDialog_(saveDialog), stops_(stops) {}

void QtDesktop::showMessage(const std::string& text, const std::string& title) {
    runMessageBox(QMessageBox::NoIcon, text, title);
}

void QtDesktop::showFailure(const std::string& text, const std::string& title) {
    // One formatted write, as kestrova-wav-cli does: the line reaches a shared log whole.
    std::fprintf(stderr, "kestrova-wav: %s\n", text.c_str());
    runMessageBox(QMessageBox::Critical, text, title);
}

std::string QtDesktop::askSavePath(const std::string& filter) {
    // File names are bytes on this system; encodeName gives back the bytes the dialog saw.
    return QFile::encodeName(saveDialog_.askSavePath(QString::fromStdString(filter))).toStdString();
}

void QtDesktop::setBusyPointer(bool busy) {
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void QtDesktop::processPendingEvents() {
    QCoreApplication::processEvents();
}

void QtDesktop::deleteFile(const std::string& path) {
    std::error_code error;
    // A file already gone is a failure too: the caller expected to remove it.
    if (!std::filesystem::remove(path, error) && !error)
        error = std::make_error_code(std::errc::no_such_file_or_directory);
    if (error)
        throw std::runtime_error("cannot delete the text file " + speech::quotedName(path) + ": " +
                                 error.message());
}

bool QtDesktop::stopRequested() const {
    return stops_ && stops_->signal() != 0;
}

} // namespace kestrova::platform

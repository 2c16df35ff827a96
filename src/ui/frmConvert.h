#pragma once

#include "app/desktop.h"
#include "platform/save_dialog.h"

#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QWidget>
#include <atomic>

namespace kestrova::ui {

// The notice shown while the text is rendered: an icon, a line asking for patience and
// the progress of the rendering. Closing it cancels the rendering.
class frmConvert : public QWidget, public app::ConversionWindow {
    Q_OBJECT
public:
    explicit frmConvert(QWidget* parent = nullptr);

    // Centres the window, empties its progress bar and clears an earlier cancellation.
    void show() override;
    void close() override;

    // Set once the user closes the window; the rendering watches it from its own thread.
    const std::atomic<bool>& cancelFlag() const { return cancel_; }
    platform::SaveDialog& saveDialog() { return dlgCommonDialog; }

    // The lightning bolt: its own small drawing at 16 pixels, the large one from 32 up.
    static QIcon programIcon();

public slots:
    // The fraction of the text rendered, 0 to 1.
    void setProgress(double fraction);

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void arrange();
    void centre();

    std::atomic<bool> cancel_{false};
    // Stacked in this order: the placeholder sits below the label it overlaps.
    QWidget XChantTTS1;
    QLabel Image1;
    QLabel Label1;
    QProgressBar progressBar;
    platform::SaveDialog dlgCommonDialog;
};

} // namespace kestrova::ui

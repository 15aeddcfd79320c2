#pragma once

#include <QDialog>
#include <QPoint>
#include <QSize>
#include <optional>

class QAbstractButton;
class QCheckBox;
class QIcon;
class QPushButton;
class QRect;

// The frame every secondary window shares: fixed client size, fixed single
// border, its caption, and where it opens. Windows are created once at
// start-up and only shown and hidden afterwards.
class TFormBase : public QDialog {
    Q_OBJECT
public:
    enum class CaptionButtons {
        None,      // no system menu, no close box: a close request presses the cancel button
        SystemMenu // a close box, which hides the window
    };

    // Opens centred on the screen unless screenPos gives the frame's top-left.
    TFormBase(const QString& caption, QSize clientSize, CaptionButtons buttons,
              std::optional<QPoint> screenPos = std::nullopt);

    // The cancel-kind button: Esc presses it.
    void setCancelButton(QAbstractButton* button) { cancelButton_ = button; }

    // Shows the window modeless and brings it to the front; a window that is
    // already open keeps everything the operator left in it.
    void showForm();

    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    CaptionButtons buttons_;
    QAbstractButton* cancelButton_ = nullptr;
};

// Where a button's picture sits: beside its caption, or above it (a
// GlyphButton, for the tall buttons of the main window).
enum class GlyphPlace { Beside, Above };

// A push button with a picture by its caption, placed on parent; Enter does
// not press it unless the window makes it its default.
QPushButton* bitBtn(QWidget* parent, const char* name, const QString& text, const QIcon& icon,
                    const QRect& place, int glyphSize = 26,
                    GlyphPlace glyphPlace = GlyphPlace::Beside);

// A check box placed on parent.
QCheckBox* checkBox(QWidget* parent, const char* name, const QString& text, const QRect& place,
                    bool checked = false);

// The wait cursor over every window while the program is held waiting for
// the printer (a query's reply); nothing when active is false.
class WaitCursor {
public:
    explicit WaitCursor(bool active = true);
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    bool active_;
};

// Makes a window visible and brings it to the front without waiting for it.
void showWindow(QWidget* window);
// Places a window whose size is set so that it sits in the middle of the screen.
void centreOnScreen(QWidget* window);

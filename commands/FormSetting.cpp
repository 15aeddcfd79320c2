#include "commands/FormSetting.h"

#include "protocol/Windows1252.h"
#include "windowkit/Handlers.h"
#include "windowkit/RadioGroupWidget.h"

#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QValidator>

#include <algorithm>

namespace {
// The pictures are drawn for the main window's tall buttons; a short dialog
// button gets a smaller one so it keeps a margin.
int glyphSize(const QRect& place) {
    return std::min(26, place.height() - 14);
}
// Keeps an entry to one line of text. A keyboard cannot put a line break or
// another control character into it, but a paste can, and its byte would go
// out inside the command: a line feed in an authentication text ends the
// command early and prints the rest as plain text. Each becomes a blank.
class OneLine : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        for (QChar& c : input)
            if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                c = u' ';
        return Acceptable;
    }
};

// The digit a keypad key gives, whether Num Lock is on or off; -1 for any
// other key.
int keypadDigit(const QKeyEvent& key) {
    if (!key.modifiers().testFlag(Qt::KeypadModifier))
        return -1;
    if (key.key() >= Qt::Key_0 && key.key() <= Qt::Key_9)
        return key.key() - Qt::Key_0;
    static constexpr int navigation[] = {
        Qt::Key_Insert, Qt::Key_End,   Qt::Key_Down, Qt::Key_PageDown, Qt::Key_Left,
        Qt::Key_Clear,  Qt::Key_Right, Qt::Key_Home, Qt::Key_Up,       Qt::Key_PageUp};
    const auto* at = std::find(std::begin(navigation), std::end(navigation), key.key());
    return at == std::end(navigation) ? -1 : int(at - std::begin(navigation));
}

// Alt held with digits on the keypad types, when Alt is let go, the
// character of that code of the printer's code page: the dialogs' hints tell
// the operator to reach the user-defined characters (176 to 191) this way.
class AltCodeTyping : public QObject {
public:
    explicit AltCodeTyping(QLineEdit* edit) : QObject(edit), edit_(edit) {
        edit->installEventFilter(this);
    }

    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::ShortcutOverride:
        case QEvent::KeyPress:
            return takeDigit(*static_cast<QKeyEvent*>(event));
        case QEvent::KeyRelease:
            if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Alt)
                typeCode();
            return false;
        case QEvent::FocusOut:
            digits_.clear();
            return false;
        default:
            return false;
        }
    }

private:
    // A digit pressed with Alt held is kept, not typed, and no shortcut sees it.
    bool takeDigit(QKeyEvent& key) {
        const int digit = keypadDigit(key);
        if (digit < 0 || !key.modifiers().testFlag(Qt::AltModifier))
            return false;
        key.accept();
        if (key.type() == QEvent::KeyPress)
            digits_.append(QChar(u'0' + digit));
        return true;
    }

    void typeCode() {
        if (const std::optional<QChar> c = Windows1252::altCode(digits_))
            edit_->insert(QString(*c));
        digits_.clear();
    }

    QLineEdit* edit_;
    QString digits_;
};

} // namespace

void TSettingForm::createButtons(const QString& sendText, const QRect& sendPlace,
                                 const QString& closeText, const QRect& closePlace) {
    BitBtn1 = bitBtn(this, "BitBtn1", sendText, QIcon(QStringLiteral(":/pictures/send.png")),
                     sendPlace, glyphSize(sendPlace));
    BitBtn2 = bitBtn(this, "BitBtn2", closeText, QIcon(QStringLiteral(":/pictures/close.png")),
                     closePlace, glyphSize(closePlace));
    setCancelButton(BitBtn2);
    connect(BitBtn2, &QPushButton::clicked, this, handler(this, &TSettingForm::BitBtn2Click));
}

void TSettingForm::BitBtn2Click() {
    hide();
}

void TSettingForm::send(Commands::Command command, const QByteArray& bytes) {
    Commands::sendCommand(command, bytes, [this] { hide(); });
}

void onSelectionChange(TRadioGroup* group, QObject* context, std::function<void()> onChange) {
    for (int i = 0; QRadioButton* item = group->Item(i); ++i)
        QObject::connect(item, &QRadioButton::toggled, context, [onChange](bool checked) {
            // The item left and the item chosen both toggle; one change runs once.
            if (checked)
                onChange();
        });
}

QLineEdit* entry(QWidget* parent, const char* name, const QString& text, int maxLength,
                 const QRect& place) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setMaxLength(maxLength);
    edit->setValidator(new OneLine(edit));
    new AltCodeTyping(edit);
    edit->setText(text);
    edit->setGeometry(place);
    return edit;
}

#include "commands/FormSetting.h"

#include "windowkit/Handlers.h"
#include "windowkit/RadioGroupWidget.h"

#include <QIcon>
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

TRadioGroup* radioGroup(QWidget* parent, const char* name, const QString& caption,
                        const QStringList& items, const QRect& place) {
    auto* group = new TRadioGroup(caption, items, parent);
    group->setObjectName(QLatin1String(name));
    group->SetItemIndex(0);
    group->setGeometry(place);
    return group;
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
    edit->setText(text);
    edit->setGeometry(place);
    return edit;
}

#pragma once

#include "commands/SendProcedure.h"
#include "windowkit/FormBase.h"

#include <QStringList>
#include <functional>

class QLineEdit;
class QPushButton;
class TRadioGroup;

// What the setting dialogs share: the send button BitBtn1 with the send
// picture, the close button BitBtn2, which Esc presses too, and the send
// through the send procedure, which hides the dialog when its command closes
// it and leaves it open when the command is refused.
class TSettingForm : public TFormBase {
    Q_OBJECT
public:
    using TFormBase::TFormBase;

    // Both null in the paper sensor dialog, which sends on a change of choice
    // and is closed with its close box.
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;

public slots:
    // Hides the dialog; sends nothing.
    void BitBtn2Click();

protected:
    void createButtons(const QString& sendText, const QRect& sendPlace, const QString& closeText,
                       const QRect& closePlace);
    void send(Commands::Command command, const QByteArray& bytes);
};

// Runs onChange whenever the group's selection changes, by mouse or keyboard;
// choosing the item already selected is no change.
void onSelectionChange(TRadioGroup* group, QObject* context, std::function<void()> onChange);
// A one-line entry holding at most maxLength characters, where Alt with
// keypad digits types a character by its code.
QLineEdit* entry(QWidget* parent, const char* name, const QString& text, int maxLength,
                 const QRect& place);

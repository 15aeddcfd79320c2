#pragma once

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

// A framed group of radio buttons, one per item, stacked top to bottom; the
// checked item is the group's ItemIndex. Disabling the group disables every
// item.
class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent = nullptr);

    // The checked item, -1 when none is.
    int ItemIndex() const;
    // Checks the item at index; an index outside the items changes nothing.
    void SetItemIndex(int index);
    QRadioButton* Item(int index) const;

private:
    QButtonGroup* buttons_;
};

// A radio group placed on parent with the item at index checked.
TRadioGroup* radioGroup(QWidget* parent, const char* name, const QString& caption,
                        const QStringList& items, const QRect& place, int index = 0);

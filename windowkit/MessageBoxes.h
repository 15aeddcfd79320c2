#pragma once

#include "windowkit/Messages.h"

#include <memory>

class QMessageBox;

// Shows the operator's messages as real modal boxes.
class MessageBoxSink : public Messages::Sink {
public:
    void show(Messages::Form form, const QString& title, const QString& text) override;
    // The box show() runs, for a form, its title and its text.
    static std::unique_ptr<QMessageBox> box(Messages::Form form, const QString& title,
                                            const QString& text);
};

#pragma once

#include "windowkit/Messages.h"

// Shows the operator's messages as real modal boxes.
class MessageBoxSink : public Messages::Sink {
public:
    void show(Messages::Form form, const QString& title, const QString& text) override;
};

#include "windowkit/Messages.h"

#include <cstdio>

namespace Messages {

namespace {

class StderrSink : public Sink {
public:
    void show(Form, const QString& title, const QString& text) override {
        std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
    }
};

StderrSink fallback;
Sink* current = &fallback;

} // namespace

Sink* setSink(Sink* sink) {
    Sink* previous = current;
    current = sink ? sink : &fallback;
    return previous;
}

QString applicationTitle() {
    return QStringLiteral("Tellumo");
}
QString warningTitle() {
    return QStringLiteral("ATENÇÃO");
}

void plainMessage(const QString& text) {
    current->show(Form::Plain, applicationTitle(), text);
}
void warningBox(const QString& text) {
    current->show(Form::Warning, warningTitle(), text);
}
void openErrorBox(const QString& text) {
    current->show(Form::OpenError, QString(), text);
}

void showException(const QString& message) {
    current->show(Form::Exception, applicationTitle(), exceptionText(message));
}

void showException(const std::exception& e) {
    if (!dynamic_cast<const AlreadyShown*>(&e))
        showException(QString::fromUtf8(e.what()));
}

QString exceptionText(const QString& message) {
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

Recorder::Recorder() : previous_(setSink(this)) {}

Recorder::~Recorder() {
    setSink(previous_);
}

void Recorder::show(Form form, const QString& title, const QString& text) {
    entries.append({form, title, text});
}

QStringList Recorder::texts() const {
    QStringList list;
    for (const Entry& e : entries)
        list << e.text;
    return list;
}

} // namespace Messages

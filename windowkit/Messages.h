#pragma once

#include <QList>
#include <QString>

#include <exception>
#include <stdexcept>

// The one funnel for everything the operator is told in a modal box. Windows
// and commands call these functions; main() installs the message-box sink,
// tests install a MessageRecorder and assert on the exact form and text.
namespace Messages {

enum class Form {
    Plain,     // the application's own message dialog: title "Tellumo", no icon
    Warning,   // the system box titled "ATENÇÃO" with an exclamation icon
    OpenError, // the system box with no title of its own and no icon
    Exception, // the exception display: title "Tellumo", error icon
};

class Sink {
public:
    virtual ~Sink() = default;
    // Shows one modal box and returns when the operator has pressed OK.
    virtual void show(Form form, const QString& title, const QString& text) = 0;
};

// Installs the sink every later message goes to and returns the previous one.
// Passing nullptr restores the fallback, which writes to stderr.
Sink* setSink(Sink* sink);

void plainMessage(const QString& text);
void warningBox(const QString& text);
void openErrorBox(const QString& text);
// Shows an exception's message, with a full stop added as exceptionText() says.
void showException(const QString& message);
// Shows an exception that left a handler, unless it is AlreadyShown.
void showException(const std::exception& e);

// Ends a handler whose failure the operator has already been told of in a
// box of its own; the exception display leaves it out.
class AlreadyShown : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A full stop is appended when the message is not empty and its last
// character sorts after '.', so "abc" reads "abc." but "abc!" stays.
QString exceptionText(const QString& message);

QString applicationTitle(); // "Tellumo"
QString warningTitle();     // "ATENÇÃO"

// Records every message instead of showing it; installs itself for its lifetime.
class Recorder : public Sink {
public:
    struct Entry {
        Form form;
        QString title;
        QString text;
        bool operator==(const Entry&) const = default;
    };

    Recorder();
    ~Recorder() override;
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    void show(Form form, const QString& title, const QString& text) override;

    QList<Entry> entries;
    QStringList texts() const;
    void clear() { entries.clear(); }

private:
    Sink* previous_;
};

} // namespace Messages

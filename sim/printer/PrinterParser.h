#pragma once

#include "sim/printer/PrinterModel.h"

#include <QByteArray>

#include <cstdint>

// The bytes the printer receives, cut into what they mean: text and control
// bytes, commands with their parameters in the current dialect, the text of
// an authentication, the columns of a bit image, and in dump mode bare bytes.
// It decides nothing about what they do: that is the interpreter's, told
// through a Sink one piece at a time.
class PrinterParser {
public:
    enum class Command {
        Reset,
        DumpMode,
        PrintNormal,
        PrintExpanded,
        PrintEmphasized,
        RtsSignalling,
        Authentication,
        PageSize,
        CharactersPerLine,
        PaperSensorOn,
        PaperSensorOff,
        Keyboard,
        Identification,
        UserCharacter,
        BitImage,
        StatusRequest,
        Drawer,
        LineFeed,
    };
    struct Parsed {
        Command command;
        uint8_t letter;
        QByteArray parameters;
        QByteArray bytes() const; // ESC, the letter and the parameters
    };

    class Sink {
    public:
        virtual ~Sink() = default;
        virtual void text(uint8_t byte) = 0; // a printable or control byte
        virtual void command(const Parsed& parsed) = 0;
        virtual void unknownEscape(uint8_t letter) = 0;
        virtual void authenticationText(uint8_t byte) = 0;
        // ended by its line feed, or cut at the longest text the printer takes
        virtual void authenticationEnd(bool cut) = 0;
        virtual void imageColumn(uint8_t byte) = 0;
        virtual void imageEnd() = 0;
        virtual void dumpByte(uint8_t byte) = 0;
    };

    PrinterParser(Sink& sink, PrinterModel model) : sink_(sink), model_(model) {}

    void take(uint8_t byte);
    void setModel(PrinterModel model) { model_ = model; }
    // The power switch: back to text, out of dump mode.
    void reset();
    bool dumpMode() const { return dump_; }
    // Bytes of a command not yet complete (ESC, its letter, its parameters so far).
    int pendingBytes() const;

private:
    enum class State { Text, Escape, Parameters, Authentication, ImageData };
    struct Row {
        uint8_t letter;
        Command command;
        int parameters;
    };
    static const Row* rowFor(uint8_t letter, PrinterModel model);
    void takeEscape(uint8_t byte);
    void takeAuthentication(uint8_t byte);
    void complete();

    Sink& sink_;
    PrinterModel model_;
    State state_ = State::Text;
    bool dump_ = false;
    const Row* row_ = nullptr;
    QByteArray parameters_;
    int authenticationLength_ = 0;
    int imageRemaining_ = 0;
};

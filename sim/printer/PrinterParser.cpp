// The parser on its own: which bytes belong together is the same question
// whatever they then do, and a command half received is all it ever holds.
#include "sim/printer/PrinterParser.h"

#include "protocol/CommandBytes.h"

#include <algorithm>
#include <span>

namespace Letter = Commands::Letter;

QByteArray PrinterParser::Parsed::bytes() const {
    return QByteArray(1, Commands::Esc) + static_cast<char>(letter) + parameters;
}

const PrinterParser::Row* PrinterParser::rowFor(uint8_t letter, PrinterModel model) {
    using C = Command;
    static const Row bothDialects[] = {
        {Letter::Reset, C::Reset, 0},
        {Letter::DumpMode, C::DumpMode, 0},
        {Letter::PrintNormal, C::PrintNormal, 0},
        {Letter::PrintExpanded, C::PrintExpanded, 1},
        {Letter::PrintEmphasized, C::PrintEmphasized, 0},
        {Letter::RtsSignalling, C::RtsSignalling, 1},
        {Letter::Authentication, C::Authentication, 1},
        {Letter::PageSize, C::PageSize, 1},
        {Letter::CharactersPerLine, C::CharactersPerLine, 1},
        {Letter::PaperSensorOn, C::PaperSensorOn, 0},
        {Letter::PaperSensorOff, C::PaperSensorOff, 0},
        {Letter::Keyboard, C::Keyboard, 1},
        {Letter::Identification, C::Identification, 1},
        {Letter::UserCharacterDownload, C::UserCharacter, 10}, // code and nine columns
        {Letter::BitmapPrint, C::BitImage, 3},                 // density and column count
    };
    static const Row normalDialect[] = {
        {Letter::StatusRequest, C::StatusRequest, 0},
        {Letter::Drawer, C::Drawer, int(Commands::DrawerParameters.size())},
        {Letter::LineFeed, C::LineFeed, 1},
    };
    static const Row compatibleDialect[] = {
        {Letter::StatusRequestCompatible, C::StatusRequest, 0},
        {Letter::DrawerCompatible, C::Drawer, 1},
        {Letter::LineFeedCompatible, C::LineFeed, 2},
    };
    const auto find = [letter](std::span<const Row> rows) -> const Row* {
        const auto row = std::find_if(rows.begin(), rows.end(),
                                      [letter](const Row& r) { return r.letter == letter; });
        return row == rows.end() ? nullptr : &*row;
    };
    if (const Row* row = find(bothDialects))
        return row;
    return find(model == PrinterModel::Compatible ? std::span<const Row>(compatibleDialect)
                                                  : std::span<const Row>(normalDialect));
}

void PrinterParser::take(uint8_t byte) {
    if (dump_) {
        sink_.dumpByte(byte);
        return;
    }
    switch (state_) {
    case State::Text:
        if (byte == Commands::Esc)
            state_ = State::Escape;
        else
            sink_.text(byte);
        return;
    case State::Escape:
        takeEscape(byte);
        return;
    case State::Parameters:
        parameters_.append(static_cast<char>(byte));
        if (parameters_.size() == row_->parameters)
            complete();
        return;
    case State::Authentication:
        takeAuthentication(byte);
        return;
    case State::ImageData:
        sink_.imageColumn(byte);
        if (--imageRemaining_ == 0) {
            state_ = State::Text;
            sink_.imageEnd();
        }
        return;
    }
}

void PrinterParser::takeEscape(uint8_t byte) {
    row_ = rowFor(byte, model_);
    if (!row_) {
        // A second ESC starts the next command.
        state_ = byte == Commands::Esc ? State::Escape : State::Text;
        sink_.unknownEscape(byte);
        return;
    }
    parameters_.clear();
    state_ = State::Parameters;
    if (row_->parameters == 0)
        complete();
}

void PrinterParser::complete() {
    state_ = State::Text;
    const Parsed parsed{row_->command, row_->letter, parameters_};
    if (parsed.command == Command::Authentication) {
        state_ = State::Authentication;
        authenticationLength_ = 0;
    } else if (parsed.command == Command::BitImage) {
        imageRemaining_ = uint8_t(parameters_[1]) | (uint8_t(parameters_[2]) << 8);
        if (imageRemaining_ > 0)
            state_ = State::ImageData;
    } else if (parsed.command == Command::DumpMode) {
        dump_ = true;
    }
    sink_.command(parsed);
}

void PrinterParser::takeAuthentication(uint8_t byte) {
    if (byte == Commands::AuthenticationEnd) {
        state_ = State::Text;
        sink_.authenticationEnd(false);
        return;
    }
    if (authenticationLength_ == Commands::MaxAuthenticationText) {
        // Without its line feed the text would swallow everything after it.
        state_ = State::Text;
        sink_.authenticationEnd(true);
        take(byte);
        return;
    }
    ++authenticationLength_;
    sink_.authenticationText(byte);
}

void PrinterParser::reset() {
    state_ = State::Text;
    dump_ = false;
    parameters_.clear();
}

int PrinterParser::pendingBytes() const {
    switch (state_) {
    case State::Escape:
        return 1;
    case State::Parameters:
        return 2 + int(parameters_.size());
    default:
        return 0;
    }
}

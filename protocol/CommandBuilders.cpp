#include "protocol/CommandBuilders.h"

#include "protocol/ParameterRules.h"
#include "protocol/Windows1252.h"

#include <initializer_list>
#include <span>

namespace Commands {

namespace {

QByteArray escape(std::initializer_list<uint8_t> rest) {
    QByteArray bytes(1, Esc);
    for (const uint8_t b : rest)
        bytes.append(static_cast<char>(b));
    return bytes;
}

// Picks the byte for a list index; an index outside the list takes the last.
uint8_t choice(int index, std::span<const uint8_t> values) {
    if (index >= 0 && index < static_cast<int>(values.size()))
        return values[index];
    return values.back();
}

} // namespace

QByteArray statusRequest(bool compatibleMode) {
    return escape({compatibleMode ? Letter::StatusRequestCompatible : Letter::StatusRequest});
}

QByteArray modelRequest() {
    return escape({Letter::Identification, ModelSelector});
}

QByteArray firmwareRequest() {
    return escape({Letter::Identification, FirmwareSelector});
}

QByteArray resetCommand() {
    return escape({Letter::Reset});
}

QByteArray dumpModeCommand() {
    return escape({Letter::DumpMode});
}

QByteArray drawerCommand(bool compatibleMode) {
    // In the compatible dialect ESC v is the drawer, not the status request.
    if (compatibleMode)
        return escape({Letter::DrawerCompatible, DrawerPulseCompatible});
    return escape({Letter::Drawer, DrawerParameters[0], DrawerParameters[1], DrawerParameters[2]});
}

QByteArray printModeCommand(int modeIndex, int variantIndex) {
    if (modeIndex == 0)
        return escape({Letter::PrintNormal});
    if (modeIndex == 1)
        return escape({Letter::PrintExpanded, choice(variantIndex, ExpandedVariants)});
    return escape({Letter::PrintEmphasized});
}

QByteArray rtsSignallingCommand(int optionIndex) {
    return escape({Letter::RtsSignalling, choice(optionIndex, RtsOptions)});
}

QByteArray authenticationCommand(int deviceIndex, QStringView text) {
    QByteArray bytes = escape({Letter::Authentication, choice(deviceIndex, AuthenticationDevices)});
    bytes.append(Windows1252::encode(text).left(MaxAuthenticationText));
    bytes.append(static_cast<char>(AuthenticationEnd));
    return bytes;
}

QByteArray pageSizeCommand(int value) {
    return escape({Letter::PageSize, pageSizeParameter(value)});
}

QByteArray charactersPerLineCommand(int index) {
    return escape({Letter::CharactersPerLine, choice(index, CharactersPerLineCodes)});
}

QByteArray paperSensorCommand(int index) {
    return escape({choice(index, PaperSensorLetters)});
}

QByteArray lineFeedCommand(int value, bool compatibleMode) {
    const uint8_t n = lineFeedParameter(value);
    if (compatibleMode)
        return escape({Letter::LineFeedCompatible, LineFeedFunction, n});
    return escape({Letter::LineFeed, n});
}

QByteArray keyboardCommand(int index) {
    return escape({Letter::Keyboard, choice(index, KeyboardStates)});
}

} // namespace Commands

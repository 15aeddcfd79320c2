#include "commands/CommandBuilders.h"

#include "commands/ParameterRules.h"
#include "commands/Windows1252.h"

#include <initializer_list>

namespace Commands {

namespace {

QByteArray escape(std::initializer_list<int> rest) {
    QByteArray bytes(1, Esc);
    for (const int b : rest)
        bytes.append(static_cast<char>(b));
    return bytes;
}

// Picks the byte for a list index; an index outside the list takes the last.
char choice(int index, std::initializer_list<char> values) {
    if (index >= 0 && index < static_cast<int>(values.size()))
        return values.begin()[index];
    return *(values.end() - 1);
}

} // namespace

QByteArray statusRequest(bool compatibleMode) {
    return escape({compatibleMode ? 'V' : 'v'});
}

QByteArray modelRequest() {
    return escape({'I', '1'});
}

QByteArray firmwareRequest() {
    return escape({'I', '0'});
}

QByteArray resetCommand() {
    return escape({'@'});
}

QByteArray dumpModeCommand() {
    return escape({'x'});
}

QByteArray drawerCommand(bool compatibleMode) {
    // In the compatible dialect ESC v is the drawer, not the status request.
    return compatibleMode ? escape({'v', 100}) : escape({'p', 0, 10, 10});
}

QByteArray printModeCommand(int modeIndex, int variantIndex) {
    if (modeIndex == 0)
        return escape({'M'});
    if (modeIndex == 1)
        return escape({'W', choice(variantIndex, {'0', '1'})});
    return escape({'E'});
}

QByteArray rtsSignallingCommand(int optionIndex) {
    return escape({'~', choice(optionIndex, {0x00, 0x01})});
}

QByteArray authenticationCommand(int deviceIndex, QStringView text) {
    QByteArray bytes = escape({'c', choice(deviceIndex, {0x00, 0x01, 0x02})});
    bytes.append(Windows1252::encode(text).left(MaxAuthenticationText));
    bytes.append('\n');
    return bytes;
}

QByteArray pageSizeCommand(int value) {
    return escape({'d', pageSizeParameter(value)});
}

QByteArray charactersPerLineCommand(int index) {
    return escape({'P', choice(index, {'0', '1', '2'})});
}

QByteArray paperSensorCommand(int index) {
    return escape({choice(index, {'9', '8'})});
}

QByteArray lineFeedCommand(int value, bool compatibleMode) {
    const uint8_t n = lineFeedParameter(value);
    return compatibleMode ? escape({'f', 0x01, n}) : escape({'a', n});
}

QByteArray keyboardCommand(int index) {
    return escape({'y', choice(index, {0x01, 0x00})});
}

} // namespace Commands

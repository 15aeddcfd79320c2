#pragma once

#include <array>
#include <cstdint>

// The bytes of the printer's command set: every command is ESC, a command
// letter and its parameters. The program's builders and the virtual printer's
// interpreter both take them from here, so the two cannot drift apart.
namespace Commands {

inline constexpr char Esc = 0x1B;

// The command letters, the byte after ESC. Three differ by dialect: the
// compatible model asks for its status with 'V', and takes 'v' (with a
// parameter) as its drawer command and 'f' as its line feed.
namespace Letter {
inline constexpr uint8_t StatusRequest = 'v';
inline constexpr uint8_t StatusRequestCompatible = 'V';
inline constexpr uint8_t Identification = 'I';
inline constexpr uint8_t Reset = '@';
inline constexpr uint8_t DumpMode = 'x';
inline constexpr uint8_t Drawer = 'p';
inline constexpr uint8_t DrawerCompatible = 'v';
inline constexpr uint8_t PrintNormal = 'M';
inline constexpr uint8_t PrintExpanded = 'W';
inline constexpr uint8_t PrintEmphasized = 'E';
inline constexpr uint8_t RtsSignalling = '~';
inline constexpr uint8_t Authentication = 'c';
inline constexpr uint8_t PageSize = 'd';
inline constexpr uint8_t CharactersPerLine = 'P';
inline constexpr uint8_t PaperSensorOn = '9';
inline constexpr uint8_t PaperSensorOff = '8';
inline constexpr uint8_t LineFeed = 'a';
inline constexpr uint8_t LineFeedCompatible = 'f';
inline constexpr uint8_t Keyboard = 'y';
inline constexpr uint8_t UserCharacterDownload = '#';
inline constexpr uint8_t BitmapPrint = '*';
} // namespace Letter

// Parameter values. Lists follow the dialogs' items, first item first; some
// are ASCII digits and some raw values, and the printer takes no other.
inline constexpr uint8_t ModelSelector = '1';
inline constexpr uint8_t FirmwareSelector = '0';
inline constexpr std::array<uint8_t, 3> DrawerParameters = {0, 10, 10};
inline constexpr uint8_t DrawerPulseCompatible = 100;
inline constexpr std::array<uint8_t, 2> ExpandedVariants = {'0', '1'}; // normal, bold
inline constexpr std::array<uint8_t, 2> RtsOptions = {0x00, 0x01}; // on/off line, authentication
inline constexpr std::array<uint8_t, 3> AuthenticationDevices = {0x00, 0x01, 0x02};
inline constexpr uint8_t AuthenticationEnd = '\n';
// The authentication entry holds at most this many characters.
inline constexpr int MaxAuthenticationText = 40;
inline constexpr uint8_t MinPageSize = 1;
inline constexpr uint8_t MaxPageSize = 39;
// What an entry outside MinPageSize to MaxPageSize sends instead.
inline constexpr uint8_t SubstitutePageSize = 30;
inline constexpr std::array<uint8_t, 3> CharactersPerLineCodes = {'0', '1', '2'};
inline constexpr std::array<int, 3> CharactersPerLineWidths = {40, 48, 60};
inline constexpr uint8_t LineFeedFunction = 0x01; // the compatible feed's first parameter
inline constexpr std::array<uint8_t, 2> KeyboardStates = {0x01, 0x00};    // on, off
inline constexpr std::array<uint8_t, 2> BitImageDensities = {0x00, 0x01}; // single, double
// The code of the first of the sixteen user-defined characters.
inline constexpr uint8_t FirstUserCharacter = 0xB0;
inline constexpr std::array<uint8_t, 2> PaperSensorLetters = {Letter::PaperSensorOn,
                                                              Letter::PaperSensorOff};

} // namespace Commands

#pragma once

#include "protocol/CommandBytes.h"

#include <QByteArray>
#include <QStringView>

// The printer's commands as bytes, one builder per command. Builders read no
// state of their own: the dialect and the dialog's choices come in as
// arguments, so a command can be built before any link check.
//
// Choices given as a list index follow the dialogs' lists; an index outside
// the list selects the list's last item, as the dialogs' "any other index"
// rule does.
namespace Commands {

QByteArray statusRequest(bool compatibleMode);
QByteArray modelRequest();
QByteArray firmwareRequest();
QByteArray resetCommand();
QByteArray dumpModeCommand();
QByteArray drawerCommand(bool compatibleMode);
// mode 0 normal, 1 expanded, 2 emphasized; variant 0 normal, 1 bold, used
// only with the expanded mode.
QByteArray printModeCommand(int modeIndex, int variantIndex);
// 0 "Sinaliza On/Off Line", 1 "Sinaliza Autenticação".
QByteArray rtsSignallingCommand(int optionIndex);
// device 0 "Título", 1 "Título e Fita Detalhe", 2 "Título e Documento"; the
// text goes out in Windows-1252, at most MaxAuthenticationText bytes of it.
QByteArray authenticationCommand(int deviceIndex, QStringView text);
// The integer typed; see pageSizeParameter.
QByteArray pageSizeCommand(int value);
// 0 for 40, 1 for 48, 2 for 60 characters.
QByteArray charactersPerLineCommand(int index);
// 0 on, 1 off.
QByteArray paperSensorCommand(int index);
// The integer typed; see lineFeedParameter.
QByteArray lineFeedCommand(int value, bool compatibleMode);
// 0 on, 1 off.
QByteArray keyboardCommand(int index);

} // namespace Commands

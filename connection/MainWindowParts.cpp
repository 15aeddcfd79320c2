#include "connection/MainWindowParts.h"

TMainWindowParts MainWindow;

#pragma once

#include "MainCommands.h"
#include "ViewerHost.h"

namespace pixhold::imaging {
class TWorkerPool;
}

namespace pixhold::app {

// The program's dialogs behind the main window's commands and the viewer's
// host, each shown modally over the main window.
TCommandDialogs MakeCommandDialogs(TForm1& form, store::TDM& dm, IPrompt& prompt, imaging::TWorkerPool* workers);
TViewerSlots MakeViewerSlots(TForm1& form, store::TDM& dm, IPrompt& prompt);

}  // namespace pixhold::app

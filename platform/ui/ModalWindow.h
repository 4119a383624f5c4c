// Every window of ours that runs modally (template dialogs, message boxes,
// file dialogs) passes here before it runs. It gets a caption with a system
// menu and a close box, never a minimise or maximise box, and it goes with
// its owner: minimised, it takes the main window with it rather than hiding
// alone behind a frame it blocks, and when the main window comes back (from
// the notification area, say) the modal window comes back over it.
#pragma once

class QWidget;

void AfxPrepareModalWindow(QWidget* pWindow);

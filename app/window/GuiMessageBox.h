// The program's message boxes: Qt boxes with an OK button. A box the caller
// waits for (MB_WAIT) is modal; any other box is shown without waiting, and
// while one is open another with the same caption and text is not shown again.
#pragma once

// Installs the boxes as the message-box facade's handler.
void InstallGuiMessageBox();

// The program is being ended by a signal: from now on no box is shown or
// waited for; their texts go to stderr only.
void StopShowingBoxes();

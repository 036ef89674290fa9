// The program's message boxes: modal Qt boxes with an OK button.
#pragma once

// Installs the box as the message-box facade's handler.
void InstallGuiMessageBox();

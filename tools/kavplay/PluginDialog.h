// kavplay's --plugins: the engine's input plug-in dialog, in builds that have
// widgets (PluginDialog.cpp) or not (PluginDialogNone.cpp).
#pragma once

#include <QCoreApplication>

#include <memory>

class TBASSPlayer;

// The application object: one with widgets when the dialog is wanted.
std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char** argv, bool widgets);
// Shows the dialog over the player and returns when it is closed: the exit status.
int RunPluginDialog(TBASSPlayer& player);

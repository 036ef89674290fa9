// The data folder: where every file the program writes goes (settings, lists,
// state, logs). It is the program directory when the program can write there,
// else the user's own folder $XDG_CONFIG_HOME/kav (~/.config/kav by default),
// which the program directory's files seed at first use.
//
// Any thread may call DataDir() and DataFile(); the choice is made once per
// program directory and kept.
#pragma once

#include <string>
#include <vector>

namespace win {

// The folder chosen for the program directory in force (ProgramDir()),
// without a trailing separator. The folder itself may not exist yet
// (PrepareDataDir makes it).
std::string DataDir();
// DataDir() + PathDelim + name.
std::string DataFile(const std::string& name);
// The file to read a kept file from: the data folder's copy when there is
// one, else the program directory's (its starting copy), else the data
// folder's path.
std::string DataFileToRead(const std::string& name);
// Tests point the program at a data folder of their own; "" chooses again.
void SetDataDir(const std::string& dir);

// The rule, for a program directory and the environment given:
// programDir when writable, else configHome/kav, where configHome is
// $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config.
std::string ChooseDataDir(const std::string& programDir, const std::string& xdgConfigHome,
                          const std::string& home);

// Makes the data folder (and its parents) when it is missing, and copies
// each of the named files from the program directory into it where the data
// folder has none and the program directory has one. False (with error) when
// the folder cannot be made or a copy cannot be written; what can be done is.
bool PrepareDataDir(const std::vector<std::string>& startingCopies, std::string* error = nullptr);

}  // namespace win

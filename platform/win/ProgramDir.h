// The program directory: the directory of the running executable, without a
// trailing separator. Every file the program keeps or loads beside itself is
// ProgramDir() + PathDelim + name.
#pragma once

#include <string>

namespace win {

constexpr char PathDelim = '/';

std::string ProgramDir();
// Tests whose executable lies elsewhere point the program at a program directory.
void SetProgramDir(const std::string& dir);

bool FileExists(const std::string& path);

}  // namespace win

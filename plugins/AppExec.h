// TAppExec: the program launcher the engine owns beside the visualisation
// link. The engine creates it at start-up and frees it at shut-down; nothing
// configures or runs it, so the player never starts another program.
#pragma once

class TAppExec {
  public:
    TAppExec() = default;
    TAppExec(const TAppExec&) = delete;
    TAppExec& operator=(const TAppExec&) = delete;
};

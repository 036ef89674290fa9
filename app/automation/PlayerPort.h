// What playback control and the scheduler ask of the engine, so that their
// rules work on any player with these operations (the window's TBASSPlayer).
#pragma once

#include <cstdint>
#include <string>

#include "plugins/StreamInfo.h"

class PlayerPort {
  public:
    virtual ~PlayerPort() = default;
    // Acts only while something plays.
    virtual void StopPlayback() = 0;
    // False when the path cannot be played; fills StreamInfo otherwise.
    virtual bool OpenStream(const std::string& path) = 0;
    // False when what was opened could not be started: a failed open.
    virtual bool StartPlayback() = 0;
    virtual bool Playing() const = 0;
    virtual void SetOutputVolume(std::uint32_t volume) = 0;
    virtual std::uint32_t PositionMs() = 0;
    // Moves the item that plays (a resumed start); a player that cannot move
    // leaves it where it is.
    virtual void SetPositionMs(std::uint32_t /*ms*/) {}
    virtual const TStreamInfo& StreamInfo() const = 0;
    // The length of the item that plays, in ms; 0 when it has none.
    virtual std::uint32_t LengthMs() { return StreamInfo().Duration; }

    // An addition for a station left alone: the next item opened ahead. OpenStream of the path
    // prepared takes it at once; a player that cannot prepare prepares
    // nothing. QueuePrepared asks the player to start it by itself at the
    // sample after the last one of what plays (false: it cannot).
    virtual bool PrepareNext(const std::string& /*path*/) { return false; }
    virtual bool QueuePrepared() { return false; }
    virtual void DropPrepared() {}
    virtual std::string PreparedPath() const { return {}; }
    // The tick count (win::GetTickCount) when the output of the item started
    // last began; 0 when unknown.
    virtual std::uint32_t SoundStartTick() const { return 0; }
};

// The port over an engine with the player component's interface.
template <class Engine>
class EnginePort : public PlayerPort {
  public:
    explicit EnginePort(Engine& engine) : engine_(engine) {}

    void StopPlayback() override { engine_.StopPlayback(); }
    bool OpenStream(const std::string& path) override { return engine_.OpenStream(path); }
    bool StartPlayback() override { return engine_.StartPlayback(); }
    bool Playing() const override { return engine_.PlayState() == kPlaying; }
    void SetOutputVolume(std::uint32_t volume) override { engine_.SetOutputVolume(volume); }
    std::uint32_t PositionMs() override { return engine_.PositionMs(); }
    void SetPositionMs(std::uint32_t ms) override { engine_.SetPositionMs(ms); }
    const TStreamInfo& StreamInfo() const override { return engine_.StreamInfo(); }
    std::uint32_t LengthMs() override { return engine_.LengthMs(); }
    bool PrepareNext(const std::string& path) override { return engine_.PrepareStream(path); }
    bool QueuePrepared() override { return engine_.QueuePrepared(); }
    void DropPrepared() override { engine_.DropPrepared(); }
    std::string PreparedPath() const override { return engine_.PreparedPath(); }
    std::uint32_t SoundStartTick() const override { return engine_.SoundStartTick(); }

  private:
    static constexpr std::uint8_t kPlaying = 3;  // the engine's PlayState "playing"
    Engine& engine_;
};

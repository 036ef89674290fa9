// What playback control and the scheduler ask of the engine, so that their
// rules work on any player with these operations, and the one port over the
// engine (TBASSPlayer) that the program and the tests drive alike.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>

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

// What the program adds to the engine's port; a port without hooks (tests,
// bench) does the engine's part alone. Each hook is called on the GUI thread.
struct PlayerHooks {
    // What plays is about to be stopped, where it is now (the now-playing
    // record cuts it there).
    std::function<void(std::uint32_t positionMs)> Stopping;
    // What plays has been moved and is heard from positionMs on.
    std::function<void(std::uint32_t positionMs)> Moved;
    // Takes every volume in the engine's place (the window keeps the last one
    // given and passes it on).
    std::function<void(std::uint32_t volume)> SetVolume;
    // An open that ended with an error (an Ogg file gone from the disk): shown
    // without waiting.
    std::function<void(const std::string& what)> OpenError;
};

// The one port over an engine with the player component's interface: the
// program's, over the window's engine with the window's hooks, and the tests'.
// Over an owner's engine, it acts as over a player with nothing open while
// the owner holds none (before the engine is made, after it is gone).
template <class Engine>
class EnginePort : public PlayerPort {
  public:
    explicit EnginePort(Engine& engine, PlayerHooks hooks = {})
        : engine_(&engine), hooks_(std::move(hooks)) {}
    explicit EnginePort(const std::unique_ptr<Engine>& owner, PlayerHooks hooks = {})
        : owner_(&owner), hooks_(std::move(hooks)) {}

    void StopPlayback() override {
        Engine* e = engine();
        if (!e) return;
        if (hooks_.Stopping && Playing()) hooks_.Stopping(e->PositionMs());
        e->StopPlayback();
    }
    // An open that ends with an error has failed, as one that says so; the
    // hook, when there is one, reports the error.
    bool OpenStream(const std::string& path) override {
        try {
            return engine() && engine()->OpenStream(path);
        } catch (const std::exception& error) {
            if (hooks_.OpenError) hooks_.OpenError(error.what());
            return false;
        }
    }
    bool StartPlayback() override { return engine() && engine()->StartPlayback(); }
    bool Playing() const override { return engine() && engine()->PlayState() == kPlaying; }
    void SetOutputVolume(std::uint32_t volume) override {
        if (hooks_.SetVolume)
            hooks_.SetVolume(volume);
        else if (engine())
            engine()->SetOutputVolume(volume);
    }
    std::uint32_t PositionMs() override { return engine() ? engine()->PositionMs() : 0; }
    void SetPositionMs(std::uint32_t ms) override {
        Engine* e = engine();
        if (!e) return;
        e->SetPositionMs(ms);
        if (hooks_.Moved && Playing()) hooks_.Moved(e->PositionMs());
    }
    const TStreamInfo& StreamInfo() const override {
        static const TStreamInfo none;
        return engine() ? engine()->StreamInfo() : none;
    }
    std::uint32_t LengthMs() override { return engine() ? engine()->LengthMs() : 0; }
    bool PrepareNext(const std::string& path) override {
        return engine() && engine()->PrepareStream(path);
    }
    bool QueuePrepared() override { return engine() && engine()->QueuePrepared(); }
    void DropPrepared() override {
        if (engine()) engine()->DropPrepared();
    }
    std::string PreparedPath() const override {
        return engine() ? engine()->PreparedPath() : std::string();
    }
    std::uint32_t SoundStartTick() const override {
        return engine() ? engine()->SoundStartTick() : 0;
    }

    // The engine's PlayState "playing".
    static constexpr std::uint8_t kPlaying = 3;

  private:
    Engine* engine() const { return owner_ ? owner_->get() : engine_; }

    Engine* engine_ = nullptr;
    const std::unique_ptr<Engine>* owner_ = nullptr;
    PlayerHooks hooks_;
};

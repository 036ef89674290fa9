#include "StreamOutput.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "Backoff.h"
#include "ShoutLink.h"
#include "SocketWatch.h"

namespace onair {

namespace {

using Clock = std::chrono::steady_clock;

// How long a stopped output's thread is waited for before it is left to end
// on its own (a name lookup or the question why a source was refused).
constexpr auto kStopWait = std::chrono::seconds(3);
// The least send buffer asked of the system, in bytes.
constexpr std::size_t kLeastSendBuffer = 8192;

std::string seconds(Clock::duration d) {
    return std::to_string((std::chrono::duration_cast<std::chrono::milliseconds>(d).count() + 500) /
                          1000) +
           " s";
}

Target targetOf(const OutputSettings& s, int rate) {
    Target t;
    t.host = s.server;
    t.port = s.port;
    t.mount = s.mount;
    t.user = s.user;
    t.password = s.password;
    t.ogg = s.format != Format::Mp3;
    t.name = s.name;
    t.genre = s.genre;
    t.description = s.description;
    t.url = s.url;
    t.listed = s.listed;
    t.kbps = s.kbps;
    t.rate = rate;
    return t;
}

}  // namespace

std::string SongText(const Tags& tags) {
    if (tags.artist.empty()) return tags.title;
    if (tags.title.empty()) return tags.artist;
    return tags.artist + " - " + tags.title;
}

// Everything the output's thread uses. The thread holds it too, so one
// that is left to end on its own (kStopWait) never uses what is gone.
struct StreamOutput::Worker {
    Worker(int number, const OutputSettings& settings, const Tags& title, Hooks hooks,
           Timings timings)
        : number(number),
          settings(settings),
          hooks(std::move(hooks)),
          timings(timings),
          backoff(std::random_device{}()) {
        this->title = title;
    }

    void run();

    // --- Shared with the GUI thread, under mtx --------------------------
    std::mutex mtx;
    std::condition_variable cv;
    bool stop = false;
    bool done = false;
    Status status;
    Tags title;
    std::uint64_t titleGeneration = 1;

  private:
    enum class Phase { Waiting, Connecting, OnAir };
    // Why a try failed, which decides how soon the next one comes.
    enum class Cause {
        Passing,  // a connection refused, dropped or stalled: back soon
        Refused,  // the server said no: ask it why
        Lasting,  // it will fail again the same way (the encoder)
    };
    void step(Clock::time_point now, std::size_t frames);
    void connect(Clock::time_point now);
    bool claim();
    void release();
    std::size_t stallBytes() const;
    bool stalled() const;
    void poll(Clock::time_point now);
    void onAir(Clock::time_point now);
    void send(std::size_t frames);
    void failed(Clock::time_point now, const std::string& why, Cause cause);
    void finish();
    Cause causeOfFailure() const { return link->Refused() ? Cause::Refused : Cause::Passing; }
    void applyTitle();
    std::size_t drain();
    void watchLoss(Clock::time_point now);
    void setStatus(Status::State state, const std::string& error = {});
    void report(Report::Kind kind, const std::string& text);
    bool sleepUntil(Clock::time_point until);
    std::string name() const { return SectionName(number) + " (" + target.Where() + ")"; }
    std::string server() const { return target.host + ":" + std::to_string(target.port); }

    const int number;
    const OutputSettings settings;
    const Hooks hooks;
    const Timings timings;
    Backoff backoff;
    Target target;
    std::unique_ptr<AudioSource> source;
    std::vector<std::int16_t> pcm;
    std::unique_ptr<ShoutLink> link;
    std::unique_ptr<TitleSender> titles;  // MP3 only
    std::unique_ptr<Encoder> encoder;
    SocketWatch watch;
    bool claimed = false;  // this output is the one connecting to its server
    Phase phase = Phase::Waiting;
    Clock::time_point retryAt{}, deadline{};
    std::optional<Clock::time_point> outageSince;  // reported, not yet over
    std::uint64_t titleSent = 0;                   // the generation on air
    std::uint64_t lostReported = 0;
    Clock::time_point nextLossCheck{};
};

void StreamOutput::Worker::run() {
    IgnoreBrokenPipes();
    source = hooks.openSource ? hooks.openSource() : nullptr;
    if (!source) {
        setStatus(Status::State::Error, "sem acesso ao som do programa");
        report(Report::Kind::Outage, "sem acesso ao som do programa");
        sleepUntil(Clock::time_point::max());
        return;
    }
    target = targetOf(settings, source->Rate());
    link = std::make_unique<ShoutLink>(target);
    if (settings.format == Format::Mp3) titles = std::make_unique<TitleSender>(target);
    lostReported = source->Lost();
    nextLossCheck = Clock::now() + timings.lossReport;
    for (auto now = Clock::now();; now = Clock::now()) {
        step(now, drain());
        if (!sleepUntil(now + timings.tick)) break;
    }
    finish();
}

// All that has come; taken also while the output is not on air, so that
// what is sent once it is comes from now, not from before the outage.
std::size_t StreamOutput::Worker::drain() {
    const std::size_t chunk = 4096;
    std::size_t frames = 0;
    for (;;) {
        if (pcm.size() < (frames + chunk) * 2) pcm.resize((frames + chunk) * 2);
        const std::size_t n = source->Read(pcm.data() + frames * 2, chunk);
        frames += n;
        if (n < chunk) return frames;
    }
}

void StreamOutput::Worker::step(Clock::time_point now, std::size_t frames) {
    watchLoss(now);
    switch (phase) {
        case Phase::Waiting:
            if (now >= retryAt) connect(now);
            break;
        case Phase::Connecting:
            poll(now);
            break;
        case Phase::OnAir:
            send(frames);
            if (phase == Phase::OnAir && stalled())
                failed(now, "o servidor deixou de receber", Cause::Passing);
            break;
    }
}

// Another output connecting to the same server goes first: this one tries
// at the next tick.
void StreamOutput::Worker::connect(Clock::time_point now) {
    if (!claim()) return;
    Tags tags;
    {
        std::lock_guard<std::mutex> lk(mtx);
        tags = title;
        titleSent = titleGeneration;
    }
    std::string error;
    encoder = Encoder::Create(settings.format, settings.kbps, source->Rate(), tags, error);
    if (!encoder) return failed(now, "o codificador não abre: " + error, Cause::Lasting);
    setStatus(Status::State::Connecting);
    phase = Phase::Connecting;
    deadline = now + timings.connect;
    watch.Before(target.host, target.port);
    const ShoutLink::Step s = link->Open();
    if (s == ShoutLink::Step::Connected) return onAir(now);
    if (s == ShoutLink::Step::Failed) failed(now, link->Error(), causeOfFailure());
}

void StreamOutput::Worker::poll(Clock::time_point now) {
    const ShoutLink::Step s = link->Poll();
    if (s == ShoutLink::Step::Connected) return onAir(now);
    if (s == ShoutLink::Step::Failed) return failed(now, link->Error(), causeOfFailure());
    if (now < deadline) return;
    link->Close();
    failed(now, "o servidor não respondeu em " + seconds(timings.connect), Cause::Passing);
}

bool StreamOutput::Worker::claim() {
    claimed = claimed || SocketWatch::Claim(server());
    return claimed;
}

void StreamOutput::Worker::release() {
    if (claimed) SocketWatch::Release(server());
    claimed = false;
}

std::size_t StreamOutput::Worker::stallBytes() const {
    return std::size_t(settings.kbps) * 125 * std::size_t(timings.stall.count()) / 1000;
}

// What was sent and has not left: libshout's queue and the system's buffers.
bool StreamOutput::Worker::stalled() const {
    return link->Queued() + watch.Held() > stallBytes();
}

void StreamOutput::Worker::onAir(Clock::time_point now) {
    // The system's send buffer holds half of what counts as a stall (it
    // doubles the number asked for its own bookkeeping), at least a few
    // round trips of a slow link: a far end that stops taking is seen within
    // its own receive window and the stall's time.
    if (watch.Find()) watch.LimitBuffer(std::max<std::size_t>(stallBytes() / 4, kLeastSendBuffer));
    release();
    phase = Phase::OnAir;
    backoff.Reset();
    setStatus(Status::State::OnAir);
    if (outageSince)
        report(Report::Kind::Back, "no ar de novo, após " + seconds(now - *outageSince));
    outageSince.reset();
    // Each connection begins a stream of its own: an Ogg stream's headers,
    // the title the server forgot with the last source.
    if (titles) {
        std::lock_guard<std::mutex> lk(mtx);
        if (!SongText(title).empty()) titles->Send(SongText(title));
    }
    if (!link->Send(encoder->Take())) failed(now, link->Error(), Cause::Passing);
}

void StreamOutput::Worker::send(std::size_t frames) {
    applyTitle();
    if (!encoder->Encode(pcm.data(), frames))
        return failed(Clock::now(), "o codificador falhou: " + encoder->Error(), Cause::Lasting);
    if (!link->Send(encoder->Take())) failed(Clock::now(), link->Error(), Cause::Passing);
}

void StreamOutput::Worker::applyTitle() {
    Tags tags;
    {
        std::lock_guard<std::mutex> lk(mtx);
        if (titleGeneration == titleSent) return;
        titleSent = titleGeneration;
        tags = title;
    }
    if (titles)
        titles->Send(SongText(tags));
    else
        encoder->Retitle(tags);
}

// A refusal's answer decides how soon to try again: a wrong password or a
// missing mount will not change by itself; a mount still held by the last
// source will.
void StreamOutput::Worker::failed(Clock::time_point now, const std::string& why, Cause cause) {
    link->Close();
    watch.Forget();
    release();
    encoder.reset();
    phase = Phase::Waiting;
    std::string text = why;
    bool lasting = cause == Cause::Lasting;
    if (cause == Cause::Refused) {
        int code = 0;
        const std::string answer = WhyRefused(target, code);
        if (!answer.empty()) text = "o servidor recusou a fonte: " + answer;
        lasting = code != 0 && code != 403 && code < 500;
    }
    const auto wait = lasting ? backoff.Longest() : backoff.Next();
    retryAt = now + wait;
    setStatus(Status::State::Error, text);
    if (outageSince) return;
    outageSince = now;
    report(Report::Kind::Outage, text + "; nova tentativa dentro de " + seconds(wait) +
                                     (lasting ? ", e depois de 30 em 30 s" : ", e depois sempre"));
}

void StreamOutput::Worker::watchLoss(Clock::time_point now) {
    if (now < nextLossCheck) return;
    nextLossCheck = now + timings.lossReport;
    const std::uint64_t lost = source->Lost();
    if (lost == lostReported) return;
    const auto ms = (lost - lostReported) * 1000 / std::uint64_t(std::max(1, source->Rate()));
    lostReported = lost;
    report(Report::Kind::Lost,
           std::to_string(ms) + " ms de som perdidos (a transmissão atrasou-se)");
}

// A clean stop: what the encoder holds goes out, then the connection ends.
void StreamOutput::Worker::finish() {
    if (phase == Phase::OnAir && encoder->Finish()) link->Send(encoder->Take());
    link->Close();
    release();
    titles.reset();
    source.reset();
    setStatus(Status::State::Off);
}

void StreamOutput::Worker::setStatus(Status::State state, const std::string& error) {
    std::lock_guard<std::mutex> lk(mtx);
    status = {state, error};
}

void StreamOutput::Worker::report(Report::Kind kind, const std::string& text) {
    if (hooks.report) hooks.report({number, kind, name() + ": " + text});
}

// False once the output is to stop.
bool StreamOutput::Worker::sleepUntil(Clock::time_point until) {
    std::unique_lock<std::mutex> lk(mtx);
    if (until == Clock::time_point::max())
        cv.wait(lk, [this] { return stop; });
    else
        cv.wait_until(lk, until, [this] { return stop; });
    return !stop;
}

// --- The GUI thread's side ------------------------------------------------

StreamOutput::StreamOutput(int number, const OutputSettings& settings, const Tags& title,
                           Hooks hooks, Timings timings)
    : settings_(settings),
      worker_(std::make_shared<Worker>(number, settings, title, std::move(hooks), timings)) {
    std::thread([w = worker_] {
        w->run();
        std::lock_guard<std::mutex> lk(w->mtx);
        w->done = true;
        w->cv.notify_all();
    }).detach();
}

void StreamOutput::Stop() {
    std::lock_guard<std::mutex> lk(worker_->mtx);
    worker_->stop = true;
    worker_->cv.notify_all();
}

StreamOutput::~StreamOutput() {
    Stop();
    std::unique_lock<std::mutex> lk(worker_->mtx);
    worker_->cv.wait_for(lk, kStopWait, [this] { return worker_->done; });
}

void StreamOutput::SetTitle(const Tags& title) {
    std::lock_guard<std::mutex> lk(worker_->mtx);
    if (worker_->title == title) return;
    worker_->title = title;
    ++worker_->titleGeneration;
}

Status StreamOutput::GetStatus() const {
    std::lock_guard<std::mutex> lk(worker_->mtx);
    return worker_->status;
}

}  // namespace onair

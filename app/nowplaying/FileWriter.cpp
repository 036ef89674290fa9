#include "FileWriter.h"

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <regex>
#include <thread>
#include <utility>
#include <vector>

#include "AsRun.h"
#include "NowPlayingFiles.h"
#include "platform/win/AppendFile.h"
#include "platform/win/AtomicFile.h"
#include "platform/win/CommandRunner.h"

namespace nowplaying {
namespace {

struct Line {
    std::string file;
    std::string text;
};

struct NowPlayingTexts {
    std::string json, text, command;
};

// A day file's name: AAAA-MM-DD.csv.
bool isDayFile(const std::string& name) {
    static const std::regex pattern("[0-9]{4}-[0-9]{2}-[0-9]{2}\\.csv");
    return std::regex_match(name, pattern);
}

}  // namespace

// Everything the two threads share, and the writer's own state. The producer
// touches only what the mutex guards.
struct FileWriter::Shared {
    Shared(std::string logDir, std::string nowDir, win::CommandRunner* runner)
        : logDir(std::move(logDir)), nowDir(std::move(nowDir)), runner(runner) {}

    const std::string logDir, nowDir;
    win::CommandRunner* runner;  // guarded: gone once the owner has stopped waiting

    std::mutex mutex;
    std::condition_variable wake, idle;
    std::deque<Line> lines;
    std::optional<NowPlayingTexts> nowPlaying;
    std::optional<std::string> removeBefore;
    bool stopping = false, busy = false, done = false;
    bool dropping = false;  // lines are being dropped (reported once per run of them)
    std::string problem;
    Counts counts;

    // The writer's thread only.
    win::AppendFile file;
    bool logFailing = false, nowFailing = false;

    void run();
    void writeLine(const Line& line);
    void writeNowPlaying(const NowPlayingTexts& texts);
    void removeOld(const std::string& day);
    void note(bool& failing, bool ok, const std::string& what);
    void count(unsigned Counts::*field) {
        std::lock_guard lock(mutex);
        ++(counts.*field);
    }
};

void FileWriter::Shared::run() {
    std::unique_lock lock(mutex);
    for (;;) {
        wake.wait(lock, [&] { return stopping || !lines.empty() || nowPlaying || removeBefore; });
        if (lines.empty() && !nowPlaying && !removeBefore) break;  // stopping, all written
        std::deque<Line> taken;
        taken.swap(lines);
        std::optional<NowPlayingTexts> now = std::move(nowPlaying);
        std::optional<std::string> before = std::move(removeBefore);
        nowPlaying.reset();
        removeBefore.reset();
        busy = true;
        lock.unlock();
        if (before) removeOld(*before);
        for (const Line& line : taken) writeLine(line);
        if (now) writeNowPlaying(*now);
        lock.lock();
        busy = false;
        idle.notify_all();
    }
    done = true;
    idle.notify_all();
}

// A file found ending mid-line (a line cut short by a kill or a full disk)
// gets a line end first, so the next line is whole on its own.
void FileWriter::Shared::writeLine(const Line& line) {
    const std::string path = logDir + "/" + line.file;
    std::string error;
    if (file.Path() != path || !file.IsOpen()) {
        std::error_code ec;
        std::filesystem::create_directories(logDir, ec);
        if (!file.Open(path, &error)) {
            count(&Counts::failed);
            return note(logFailing, false, error);
        }
    }
    std::string bytes;
    if (file.Size() == 0)
        bytes = AsRunHeader();
    else if (!file.EndsWithNewline())
        bytes = "\r\n";
    bytes += line.text;
    const bool ok = file.Append(bytes, &error);
    if (!ok) file.Close();  // opened afresh, and looked at, for the next line
    count(ok ? &Counts::written : &Counts::failed);
    note(logFailing, ok, error);
}

void FileWriter::Shared::writeNowPlaying(const NowPlayingTexts& texts) {
    const std::string json = nowDir + "/" + kJsonFileName;
    std::string error;
    const bool ok = win::ReplaceFileUnflushed(json, texts.json, &error) &&
                    win::ReplaceFileUnflushed(nowDir + "/" + kTextFileName, texts.text, &error);
    note(nowFailing, ok, error);
    if (!ok) return;
    std::lock_guard lock(mutex);
    ++counts.replaced;
    if (runner && !texts.command.empty()) runner->Run(texts.command, {json});  // only queues
}

void FileWriter::Shared::removeOld(const std::string& day) {
    std::error_code ec;
    std::vector<std::filesystem::path> old;
    for (const auto& entry : std::filesystem::directory_iterator(logDir, ec)) {
        const std::string name = entry.path().filename().string();
        if (isDayFile(name) && name.substr(0, 10) < day) old.push_back(entry.path());
    }
    for (const auto& path : old)
        if (std::filesystem::remove(path, ec)) count(&Counts::removed);
}

// A problem is kept once, when writing starts failing; a success ends it.
void FileWriter::Shared::note(bool& failing, bool ok, const std::string& what) {
    if (ok || failing) {
        failing = !ok;
        return;
    }
    failing = true;
    std::lock_guard lock(mutex);
    if (problem.empty()) problem = what;
}

FileWriter::FileWriter(std::string logDir, std::string nowPlayingDir, win::CommandRunner* runner)
    : shared_(std::make_shared<Shared>(std::move(logDir), std::move(nowPlayingDir), runner)) {
    std::thread([shared = shared_] { shared->run(); }).detach();
}

// The thread keeps the shared state alive: one stuck on a disk past the wait
// ends with the process.
FileWriter::~FileWriter() {
    std::unique_lock lock(shared_->mutex);
    shared_->stopping = true;
    shared_->wake.notify_all();
    shared_->idle.wait_for(lock, kExitWait, [&] { return shared_->done; });
    shared_->runner = nullptr;
}

void FileWriter::AppendLine(std::string fileName, std::string line) {
    std::lock_guard lock(shared_->mutex);
    if (shared_->lines.size() >= kMaxQueuedLines) {
        ++shared_->counts.dropped;
        if (!shared_->dropping && shared_->problem.empty())
            shared_->problem = "the as-run log's queue is full: lines are lost";
        shared_->dropping = true;
        return;
    }
    shared_->dropping = false;
    shared_->lines.push_back({std::move(fileName), std::move(line)});
    shared_->wake.notify_one();
}

void FileWriter::ReplaceNowPlaying(std::string json, std::string text, std::string command) {
    std::lock_guard lock(shared_->mutex);
    shared_->nowPlaying = NowPlayingTexts{std::move(json), std::move(text), std::move(command)};
    shared_->wake.notify_one();
}

void FileWriter::RemoveDaysBefore(std::string day) {
    std::lock_guard lock(shared_->mutex);
    shared_->removeBefore = std::move(day);
    shared_->wake.notify_one();
}

std::string FileWriter::TakeProblem() {
    std::lock_guard lock(shared_->mutex);
    return std::exchange(shared_->problem, std::string());
}

FileWriter::Counts FileWriter::counts() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->counts;
}

bool FileWriter::WaitIdle(std::chrono::milliseconds limit) {
    std::unique_lock lock(shared_->mutex);
    return shared_->idle.wait_for(lock, limit, [&] {
        return shared_->done || (!shared_->busy && shared_->lines.empty() && !shared_->nowPlaying &&
                                 !shared_->removeBefore);
    });
}

}  // namespace nowplaying

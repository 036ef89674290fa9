#include "Processes.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace nettest {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

std::string base64(const std::string& in) {
    static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < in.size(); i += 3) {
        const size_t n = std::min<size_t>(3, in.size() - i);
        uint32_t v = 0;
        for (size_t k = 0; k < 3; ++k)
            v = v << 8 | (k < n ? static_cast<unsigned char>(in[i + k]) : 0u);
        for (size_t k = 0; k < 4; ++k) out += k <= n ? table[v >> (18 - 6 * k) & 63] : '=';
    }
    return out;
}

}  // namespace

Child::Child(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& outFile, const std::string& workDir) {
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ != 0) return;
    ::setpgid(0, 0);
    // A test that dies takes its children with it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(126);
    const int fd = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    const int devNull = ::open("/dev/null", O_RDONLY);
    ::dup2(devNull, 0);
    if (::chdir(workDir.c_str()) != 0) ::_exit(126);
    for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
}

Child::~Child() {
    if (running()) stop(SIGKILL, 5s);
}

bool Child::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    pid_ = -1;
    return false;
}

int Child::stop(int signal, std::chrono::milliseconds limit) {
    if (!running()) return status_;
    ::kill(pid_, signal);
    for (const auto end = Clock::now() + limit; Clock::now() < end;
         std::this_thread::sleep_for(10ms))
        if (!running()) return status_;
    return -1;
}

HttpAnswer httpGet(int port, const std::string& path, const std::string& credentials,
                   size_t maxBody, std::chrono::milliseconds limit) {
    HttpAnswer answer;
    const int fd = connectTo(port);
    if (fd < 0) return answer;
    std::string req = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n";
    if (!credentials.empty()) req += "Authorization: Basic " + base64(credentials) + "\r\n";
    req += "\r\n";
    ::send(fd, req.data(), req.size(), MSG_NOSIGNAL);
    std::string raw;
    const auto end = Clock::now() + limit;
    char buf[4096];
    for (;;) {
        const size_t headEnd = raw.find("\r\n\r\n");
        if (headEnd != std::string::npos && raw.size() - headEnd - 4 >= maxBody) break;
        pollfd p{fd, POLLIN, 0};
        if (Clock::now() >= end || ::poll(&p, 1, 50) < 0) break;
        if (!(p.revents & POLLIN)) continue;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        raw.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    const size_t headEnd = raw.find("\r\n\r\n");
    answer.head = raw.substr(0, headEnd);
    if (headEnd != std::string::npos) answer.body = raw.substr(headEnd + 4, maxBody);
    const size_t sp = answer.head.find(' ');
    if (sp != std::string::npos) answer.code = std::atoi(answer.head.c_str() + sp + 1);
    return answer;
}

std::string stderrOf(const std::function<void()>& f) {
    char path[] = "/tmp/kav-stderr-XXXXXX";
    const int file = ::mkstemp(path);
    std::fflush(stderr);
    const int saved = ::dup(2);
    ::dup2(file, 2);
    f();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    std::string text;
    char buf[4096];
    ::lseek(file, 0, SEEK_SET);
    for (ssize_t n; (n = ::read(file, buf, sizeof buf)) > 0;) text.append(buf, size_t(n));
    ::close(file);
    ::unlink(path);
    return text;
}

ScopedEnv::ScopedEnv(const std::string& name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name.c_str());
    had_ = old != nullptr;
    if (old) old_ = old;
    if (value.empty())
        ::unsetenv(name.c_str());
    else
        ::setenv(name.c_str(), value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (had_)
        ::setenv(name_.c_str(), old_.c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

std::string urlEncode(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            static const char* hex = "0123456789ABCDEF";
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
    ::close(fd);
    return -1;
}

}  // namespace nettest

// A connection to a server for the HTTP feed: plain TCP for http://, TLS
// through FFmpeg's TLS layer for https://, with the peer's certificate checked
// against the system's authorities, or against the file SSL_CERT_FILE names
// when that is set (FFmpeg's TLS does not read the variable itself).
//
// Threads: one thread at a time sends and receives (the opener, then the
// feed's reading thread); abort() may come from any thread and makes a call
// that waits return soon with kFailed.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "NetAddress.h"

struct AVDictionary;

namespace kavbass {

// The options that make FFmpeg's TLS layer check the peer's certificate
// (it checks none unless asked), with SSL_CERT_FILE as its authorities when set.
void addCertificateChecks(AVDictionary** options);

class NetConnection {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kFailed = -1;
    static constexpr int kTimedOut = -2;

    virtual ~NetConnection() = default;

    // Connects (and for TLS shakes hands) by deadline; nullptr with a
    // BASS_ERROR_* code, and for TLS why, as FFmpeg told it.
    static std::unique_ptr<NetConnection> open(const NetAddress& address,
                                               Clock::time_point deadline, int& error,
                                               std::string& reason);

    // Sends all of data by deadline.
    virtual bool send(const std::string& data, Clock::time_point deadline) = 0;
    // Waits until some bytes came or until passed: their count, 0 once the
    // server has closed, kTimedOut or kFailed. A TLS connection that timed
    // out is not to be read from again.
    virtual int receive(uint8_t* buf, int size, Clock::time_point until) = 0;
    virtual void abort() = 0;
};

}  // namespace kavbass

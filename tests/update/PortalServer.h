#pragma once

// A scriptable HTTP portal on 127.0.0.1 for the update tests: the Python server
// in tests/fixtures/portal_server.py, started on a random free port when the
// object is made and stopped when it goes away.

#include <map>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace Orvane::Fixture {

// How a route's response goes wrong (see portal_server.py).
enum class Serve {
    Normal,    // status, Content-Length, whole body
    NoLength,  // no Content-Length; the closed connection ends the body
    Cut,       // Content-Length of the whole body, only half of it sent
    Stall,     // headers and half the body, then silence
    Silent,    // the request is never answered
    Endless,   // data without end
    Slow,      // the whole body, in pieces spread over 3 s
    NoRange,   // as Normal, but a Range request gets the whole body with 200
};

class PortalServer {
public:
    PortalServer();
    ~PortalServer();
    PortalServer(const PortalServer&) = delete;
    PortalServer& operator=(const PortalServer&) = delete;

    // False (with the reason in Error()) when the server could not be started.
    bool Started() const { return port_ != 0; }
    const std::string& Error() const { return error_; }
    int Port() const { return port_; }

    // "http://127.0.0.1:<port>/" followed by `path`.
    std::string Url(const std::string& path = "") const;

    // Answers requests for "/" + path. For the first `badCount` requests
    // `badBody` is served instead of `body`.
    void Route(const std::string& path, const std::string& body, int status = 200,
               Serve mode = Serve::Normal, const std::string& badBody = "", int badCount = 0);

    // Request paths received so far, in order ("/files/a.dat").
    // A request sent to the server as to a proxy is logged with the whole URL
    // ("http://host:port/files/a.dat").
    std::vector<std::string> Requests() const;
    // Requests for "/" + path, also those sent as to a proxy.
    int RequestCount(const std::string& path) const;
    // The Range header of each request that sent one, in order: "/path\tbytes=N-".
    std::vector<std::string> Ranges() const;

    // Stops the server now (the destructor does it otherwise).
    void Stop();

private:
    void WriteRoutes();

    TempDir dir_;
    int port_ = 0;
    bool running_ = false;
    std::string error_;
    std::map<std::string, std::string> routes_;  // path -> routes.txt line
    int nextBody_ = 0;
};

}  // namespace Orvane::Fixture

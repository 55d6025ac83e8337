// CLighttpdServer: a real web server for the HTTP tests. It starts lighttpd on a free loopback
// port with a shell CGI script at /cgi-bin/action.fcgi that answers each CGI function from files
// the test writes (<function>.body, .status, .headers) and records every request it serves.
// Authentication (Basic or Digest through mod_auth) uses password files made by the test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

namespace norvane::test {

class CLighttpdServer {
public:
    // DigestSha256: Digest with SHA-256 only (RFC 7616), as current camera firmware asks for it.
    enum class Auth { None, Basic, Digest, DigestSha256 };

    // Realm of the protected CGI folder: blanks and a comma, as cameras write them.
    static constexpr const char* kRealm = "Login to 2M0123, IP Camera";
    static constexpr const char* kUser = "admin";
    static constexpr const char* kPassword = "s3cret pass";

    CLighttpdServer();
    ~CLighttpdServer();
    CLighttpdServer(const CLighttpdServer&) = delete;
    CLighttpdServer& operator=(const CLighttpdServer&) = delete;

    // Why the server cannot run here (lighttpd, its TLS module or a tool missing); empty when it
    // can.
    static std::string MissingTool(Auth auth, bool tls = false);

    // Start launches the server, with `tls` on HTTPS with a fresh self-signed certificate; false
    // (see Error) when it did not come up.
    bool Start(Auth auth = Auth::None, bool tls = false);
    void Stop();

    [[nodiscard]] const std::string& Error() const { return m_error; }

    [[nodiscard]] std::uint16_t Port() const { return m_port; }

    // SetAnswer makes the CGI function `api` answer `body`, with `status` ("404 Not Found") when
    // given and the extra header lines `headers` (each ending in CR LF).
    void SetAnswer(const std::string& api, const std::string& body, const std::string& status = "",
                   const std::string& headers = "");

    // Requests lists what the CGI script served: "AUTH_TYPE|REMOTE_USER|QUERY_STRING".
    [[nodiscard]] std::vector<std::string> Requests() const;
    // StopAndReadAccessLog stops the server (lighttpd writes its log out only then) and lists
    // the log lines: "<status> <request line>", including 401 answers that never reached the
    // script.
    std::vector<std::string> StopAndReadAccessLog();

private:
    bool WritePasswordFile(Auth auth);
    bool WriteCertificate();
    void WriteConfig(Auth auth, bool tls);

    std::string m_dir;
    std::string m_error;
    std::uint16_t m_port = 0;
    pid_t m_pid = -1;
};

// A path that exists only in the test's temporary folder; the folder is removed at the end.
std::string MakeTempDir();

} // namespace norvane::test

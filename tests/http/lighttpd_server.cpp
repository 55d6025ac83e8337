#include "lighttpd_server.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/socket.h"

extern char** environ;

namespace norvane::test {
namespace {

constexpr const char* kLighttpdPaths[] = {"/usr/sbin/lighttpd", "/usr/local/sbin/lighttpd",
                                          "/usr/bin/lighttpd"};
constexpr const char* kHtpasswdPaths[] = {"/usr/bin/htpasswd", "/usr/local/bin/htpasswd"};
constexpr auto kStartTimeout = std::chrono::seconds(10);

std::string FindTool(const char* const* paths, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (::access(paths[i], X_OK) == 0) {
            return paths[i];
        }
    }
    return {};
}

std::string Lighttpd() {
    return FindTool(kLighttpdPaths, std::size(kLighttpdPaths));
}

std::string Htpasswd() {
    return FindTool(kHtpasswdPaths, std::size(kHtpasswdPaths));
}

// Spawn starts `argv` with stdout and stderr sent to `output` (or /dev/null); -1 on failure.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& output) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string target = output.empty() ? "/dev/null" : output;
    posix_spawn_file_actions_addopen(&actions, 1, target.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// Run runs `argv` to its end; true when it exited with 0.
bool Run(const std::vector<std::string>& argv, const std::string& output = "") {
    const pid_t pid = Spawn(argv, output);
    if (pid < 0) {
        return false;
    }
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::uint16_t FreeLoopbackPort() {
    platform::CSocket socket = platform::CSocket::CreateTcp();
    if (!socket.IsValid() || !socket.Bind(platform::LoopbackAddress(), 0)) {
        return 0;
    }
    return socket.LocalPort();
}

bool Accepts(std::uint16_t port) {
    platform::CSocket socket = platform::CSocket::CreateTcp();
    return socket.IsValid() && socket.Connect({platform::LoopbackAddress(), port}) ==
                                       platform::ConnectResult::Connected;
}

// The CGI script: answers from <function>.body/.status/.headers and logs each request.
constexpr const char* kScript = R"SH(#!/bin/sh
dir='@DIR@'
api=${QUERY_STRING#vtl_api=}
api=${api%%&*}
case "$api" in *[!A-Za-z0-9._]*|'') api=unknown ;; esac
printf '%s|%s|%s\n' "$AUTH_TYPE" "$REMOTE_USER" "$QUERY_STRING" >> "$dir/requests.log"
if [ -f "$dir/$api.status" ]; then printf 'Status: %s\r\n' "$(cat "$dir/$api.status")"; fi
if [ -f "$dir/$api.headers" ]; then cat "$dir/$api.headers"; fi
printf 'Content-Type: text/plain\r\n\r\n'
if [ -f "$dir/$api.body" ]; then cat "$dir/$api.body"; fi
)SH";

} // namespace

std::string MakeTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "norvane-http-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        return {};
    }
    return pattern;
}

CLighttpdServer::CLighttpdServer() : m_dir(MakeTempDir()) {}

CLighttpdServer::~CLighttpdServer() {
    Stop();
    if (!m_dir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
}

std::string CLighttpdServer::MissingTool(Auth auth, bool tls) {
    if (Lighttpd().empty()) {
        return "lighttpd is not installed (Debian package lighttpd)";
    }
    if (tls && (::access("/usr/bin/openssl", X_OK) != 0 ||
                ::access("/usr/lib/lighttpd/mod_openssl.so", R_OK) != 0)) {
        return "openssl or lighttpd's mod_openssl is not installed (Debian packages openssl, "
               "lighttpd)";
    }
    if (auth == Auth::Basic && Htpasswd().empty()) {
        return "htpasswd is not installed (Debian package apache2-utils)";
    }
    if (auth == Auth::Digest && ::access("/usr/bin/md5sum", X_OK) != 0) {
        return "md5sum is not installed (Debian package coreutils)";
    }
    return {};
}

bool CLighttpdServer::WritePasswordFile(Auth auth) {
    if (auth == Auth::Basic) {
        return Run({Htpasswd(), "-b", "-c", m_dir + "/htpasswd", kUser, kPassword});
    }
    if (auth == Auth::Digest) {
        // htdigest line: user:realm:MD5(user:realm:password) (RFC 2617 section 3.2.2.2, HA1).
        const std::string ha1Input = std::string(kUser) + ":" + kRealm + ":" + kPassword;
        const std::string hashFile = m_dir + "/ha1";
        if (!Run({"/bin/sh", "-c", "printf '%s' \"$0\" | md5sum", ha1Input}, hashFile)) {
            return false;
        }
        const std::string hash = ReadFile(hashFile).substr(0, 32);
        WriteFile(m_dir + "/htdigest", std::string(kUser) + ":" + kRealm + ":" + hash + "\n");
    }
    if (auth == Auth::DigestSha256) {
        // SHA-256 needs the password itself: lighttpd's plain backend hashes it per algorithm.
        WriteFile(m_dir + "/plain", std::string(kUser) + ":" + kPassword + "\n");
    }
    return true;
}

bool CLighttpdServer::WriteCertificate() {
    return Run({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                m_dir + "/key.pem", "-out", m_dir + "/cert.pem", "-days", "1", "-subj",
                "/CN=localhost"});
}

void CLighttpdServer::WriteConfig(Auth auth, bool tls) {
    std::ostringstream conf;
    conf << "server.document-root = \"" << m_dir << "/www\"\n"
         << "server.bind = \"127.0.0.1\"\n"
         << "server.port = " << m_port << "\n"
         << "server.errorlog = \"" << m_dir << "/error.log\"\n"
         << "server.modules = (\"mod_auth\", \"mod_authn_file\", \"mod_cgi\", \"mod_accesslog\")\n"
         << "accesslog.filename = \"" << m_dir << "/access.log\"\n"
         << "accesslog.format = \"%s %r\"\n"
         << "cgi.assign = (\".fcgi\" => \"/bin/sh\")\n";
    if (tls) {
        conf << "server.modules += (\"mod_openssl\")\n"
             << "ssl.engine = \"enable\"\n"
             << "ssl.pemfile = \"" << m_dir << "/cert.pem\"\n"
             << "ssl.privkey = \"" << m_dir << "/key.pem\"\n";
    }
    if (auth != Auth::None) {
        const bool basic = auth == Auth::Basic;
        const bool sha256 = auth == Auth::DigestSha256;
        const char* backend = basic ? "htpasswd" : (sha256 ? "plain" : "htdigest");
        conf << "auth.backend = \"" << backend << "\"\n"
             << "auth.backend." << backend << ".userfile = \"" << m_dir << "/" << backend << "\"\n"
             << "auth.require = (\"/cgi-bin/\" => (\"method\" => \"" << (basic ? "basic" : "digest")
             << "\", \"realm\" => \"" << kRealm << "\", \"require\" => \"valid-user\""
             << (sha256 ? ", \"algorithm\" => \"SHA-256\"" : "") << "))\n";
    }
    WriteFile(m_dir + "/lighttpd.conf", conf.str());
}

bool CLighttpdServer::Start(Auth auth, bool tls) {
    if (m_dir.empty()) {
        m_error = "no temporary folder";
        return false;
    }
    std::filesystem::create_directories(m_dir + "/www/cgi-bin");
    std::string script = kScript;
    script.replace(script.find("@DIR@"), 5, m_dir);
    WriteFile(m_dir + "/www/cgi-bin/action.fcgi", script);
    if (!WritePasswordFile(auth)) {
        m_error = "cannot make the password file";
        return false;
    }
    if (tls && !WriteCertificate()) {
        m_error = "cannot make the certificate";
        return false;
    }
    // A port found free may be taken before lighttpd binds it; try a few.
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_port = FreeLoopbackPort();
        WriteConfig(auth, tls);
        m_pid = Spawn({Lighttpd(), "-D", "-f", m_dir + "/lighttpd.conf"}, m_dir + "/stdout.log");
        if (m_pid < 0) {
            m_error = "cannot start lighttpd";
            return false;
        }
        const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                break;
            }
            if (Accepts(m_port)) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        Stop();
    }
    m_error = "lighttpd did not start: " + ReadFile(m_dir + "/stdout.log") +
              ReadFile(m_dir + "/error.log");
    return false;
}

void CLighttpdServer::Stop() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
    }
}

void CLighttpdServer::SetAnswer(const std::string& api, const std::string& body,
                                const std::string& status, const std::string& headers) {
    WriteFile(m_dir + "/" + api + ".body", body);
    const std::string statusFile = m_dir + "/" + api + ".status";
    const std::string headersFile = m_dir + "/" + api + ".headers";
    std::error_code ignored;
    if (status.empty()) {
        std::filesystem::remove(statusFile, ignored);
    } else {
        WriteFile(statusFile, status);
    }
    if (headers.empty()) {
        std::filesystem::remove(headersFile, ignored);
    } else {
        WriteFile(headersFile, headers);
    }
}

std::vector<std::string> CLighttpdServer::Requests() const {
    return Lines(ReadFile(m_dir + "/requests.log"));
}

std::vector<std::string> CLighttpdServer::StopAndReadAccessLog() {
    Stop();
    return Lines(ReadFile(m_dir + "/access.log"));
}

} // namespace norvane::test

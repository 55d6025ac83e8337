// The lighttpd peer where lighttpd cannot be started by the test (the Windows cross build, whose
// tests run under Wine): every test that needs it is skipped with this reason.
#include "lighttpd_server.h"

namespace norvane::test {

CLighttpdServer::CLighttpdServer() = default;
CLighttpdServer::~CLighttpdServer() = default;

std::string CLighttpdServer::MissingTool(Auth, bool) {
    return "lighttpd is started only by the Linux build";
}

bool CLighttpdServer::Start(Auth, bool) {
    m_error = MissingTool(Auth::None);
    return false;
}

void CLighttpdServer::Stop() {}

void CLighttpdServer::SetAnswer(const std::string&, const std::string&, const std::string&,
                                const std::string&) {}

std::vector<std::string> CLighttpdServer::Requests() const {
    return {};
}

std::vector<std::string> CLighttpdServer::StopAndReadAccessLog() {
    return {};
}

} // namespace norvane::test

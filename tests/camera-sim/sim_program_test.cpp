// The vantrel-camera-sim program: its help, its refusal of bad arguments, and a run that serves
// the CGI interface and ends cleanly on SIGTERM.
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <sys/wait.h>

#include <gtest/gtest.h>

#include "sim_test_client.h"

namespace {

const std::string kProgram = VANTREL_CAMERA_SIM_PATH;

int ExitStatus(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(SimProgram, HelpListsTheOptionsAndSucceeds) {
    const std::string out = norvane::sim::test::UniqueTempPath("sim_help.txt");
    ASSERT_EQ(ExitStatus(kProgram + " --help > " + out), 0);
    const std::string help = ReadText(out);
    for (const char* option :
         {"--http-port", "--rtsp-port", "--user", "--password", "--auth", "--h264", "--mjpeg",
          "--size", "--fps", "--mtu", "--drop", "--refuse-cgi", "--short-timeout"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
}

TEST(SimProgram, BadArgumentsFailWithAMessage) {
    const std::string err = norvane::sim::test::UniqueTempPath("sim_error.txt");
    const char* cases[] = {"--bogus",     "--http-port 70000", "--auth kerberos",
                           "--drop 1.5",  "--size 640",        "--fps 0",
                           "--mtu 10",    "--http-port",       "--h264 /nonexistent/file.h264",
                           "--address ''"};
    for (const char* arguments : cases) {
        const int status = ExitStatus(kProgram + " " + arguments + " 2> " + err + " > /dev/null");
        EXPECT_NE(status, 0) << arguments;
        EXPECT_NE(ReadText(err).find("vantrel-camera-sim: "), std::string::npos) << arguments;
    }
}

TEST(SimProgram, ServesUntilTerminatedAndExitsCleanly) {
    if (ExitStatus("command -v timeout > /dev/null && command -v curl > /dev/null") != 0) {
        GTEST_SKIP() << "timeout or curl is not installed";
    }
    const std::string out = norvane::sim::test::UniqueTempPath("sim_run.txt");
    const std::string body = norvane::sim::test::UniqueTempPath("sim_body.txt");
    // The program runs in the background for at most 20 s; SIGTERM after the CGI check ends it.
    const std::string script = "(timeout --preserve-status -s TERM 3 " + kProgram +
                               " --auth basic --user u --password p > " + out +
                               " 2>&1 &) ; "
                               "for i in $(seq 1 50); do grep -q '^HTTP' " +
                               out +
                               " 2>/dev/null && break; sleep 0.1; done; "
                               "url=$(sed -n 's/^HTTP  //p' " +
                               out +
                               "); "
                               "curl -s --max-time 5 -u u:p \"$url\" > " +
                               body +
                               "; "
                               "for i in $(seq 1 100); do grep -q '^stopped' " +
                               out + " && exit 0; sleep 0.1; done; exit 1";
    const std::string scriptFile = norvane::sim::test::UniqueTempPath("sim_run.sh");
    std::ofstream(scriptFile) << script << "\n";
    EXPECT_EQ(ExitStatus("sh " + scriptFile), 0) << ReadText(out);
    const std::string printed = ReadText(out);
    EXPECT_NE(printed.find("rtsp://127.0.0.1:"), std::string::npos);
    EXPECT_NE(printed.find("/vtl_media/main"), std::string::npos);
    EXPECT_NE(printed.find("/vtl_media/second"), std::string::npos);
    EXPECT_NE(ReadText(body).find("return_code=0x00000000"), std::string::npos);
}

} // namespace

// The camera's CGI interface in one list: every function the driver calls ("/cgi-bin/action.fcgi"
// with `vtl_api=` and the function name, then "&name=value" parameters) and every key it reads
// from the key=value answers.
//
// Threads: constants only.
#pragma once

#include <string>
#include <string_view>

namespace norvane::cgi {

// Start of every CGI path; the function name follows.
constexpr std::string_view kPrefix = "/cgi-bin/action.fcgi?vtl_api=";

// Functions.
constexpr std::string_view kGetSystemInfo = "get_setup.system.info";
constexpr std::string_view kGetVideoCodec = "get_setup.video.codec";
constexpr std::string_view kSetVideoCodec = "set_setup.video.codec";
constexpr std::string_view kGetAlarmPort = "get_setup.event.alarm_port";
constexpr std::string_view kSetAlarmPort = "set_setup.event.alarm_port";
constexpr std::string_view kGetEventStatus = "get_setup.event.status";

// Path is the request path of `function` without parameters.
inline std::string Path(std::string_view function) {
    std::string path(kPrefix);
    path += function;
    return path;
}

// Answer keys. "0x00000000" as the return code means that the camera carried the request out.
constexpr std::string_view kReturnCode = "return_code";
constexpr std::string_view kReturnCodeDone = "0x00000000";
constexpr std::string_view kBrand = "brand";           // system information
constexpr std::string_view kHardwareVersion = "hwver"; // system information: the model
constexpr std::string_view kFirmwareVersion = "swver"; // system information
constexpr std::string_view kVideoStandard = "ff_mode"; // video codec: 50 or 60 (Hz)
constexpr std::string_view kMainCodec = "codec0";      // video codec: the main stream's codec
// video codec: the codecs the main stream can take, comma-separated (cameras that can choose)
constexpr std::string_view kMainCodecOptions = "codec0_options";
constexpr std::string_view kInputEnable = "in_enable";  // alarm port: present with an input
constexpr std::string_view kOutputMode = "out_mode";    // alarm port: present with a relay
constexpr std::string_view kRisingAlarm = "rise_alarm"; // event status: the alarm input

} // namespace norvane::cgi

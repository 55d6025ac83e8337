// A recording server built the way Microsoft's compiler builds one: clang in Microsoft mode
// (i686-pc-windows-msvc or x86_64-pc-windows-msvc, Microsoft's C++ ABI and table layout) and
// lld-link, with no Microsoft SDK and no C runtime. It uses the SDK headers as they stand: real
// virtual calls into the driver, host objects derived from the SDK interfaces, `delete driver`
// through slot 0, and every factory and deletion export. Opens channel 0 against the camera and
// counts well-formed frames.
//
// Usage: msvc_host DLL ADDRESS HTTP_PORT RTSP_PORT STREAM_TYPE FRAMES
// Prints "msvc_host: PASSED" when every check held.
#include "norvane/norvane.h"

using namespace norvane;
using namespace norvane::ipcapture;

// ---- The few system functions used, declared here as there is no SDK -------------------------
using SizeT = decltype(sizeof 0);

extern "C" {
__declspec(dllimport) void* __stdcall LoadLibraryA(const char*);
__declspec(dllimport) void* __stdcall GetProcAddress(void*, const char*);
__declspec(dllimport) int __stdcall FreeLibrary(void*);
__declspec(dllimport) void* __stdcall GetStdHandle(unsigned long);
__declspec(dllimport) int __stdcall WriteFile(void*, const void*, unsigned long, unsigned long*,
                                              void*);
__declspec(dllimport) const char* __stdcall GetCommandLineA();
__declspec(dllimport) void __stdcall ExitProcess(unsigned);
__declspec(dllimport) void __stdcall Sleep(unsigned long);
__declspec(dllimport) unsigned long __stdcall GetTickCount();
__declspec(dllimport) void* __stdcall GetProcessHeap();
__declspec(dllimport) void* __stdcall HeapAlloc(void*, unsigned long, SizeT);
__declspec(dllimport) int __stdcall HeapFree(void*, unsigned long, void*);

// What the compiler may call without a C runtime.
int _purecall() {
    ExitProcess(3);
    return 0;
}

int _fltused = 0;
}

void* operator new(SizeT size) {
    return HeapAlloc(GetProcessHeap(), 8, size);
}

void operator delete(void* p) {
    HeapFree(GetProcessHeap(), 0, p);
}

void operator delete(void* p, SizeT) {
    HeapFree(GetProcessHeap(), 0, p);
}

void* operator new[](SizeT size) {
    return HeapAlloc(GetProcessHeap(), 8, size);
}

void operator delete[](void* p) {
    HeapFree(GetProcessHeap(), 0, p);
}

namespace {

// ---- Output and arguments -----------------------------------------------------------------------
void Print(const char* text) {
    unsigned long length = 0;
    while (text[length] != '\0') {
        ++length;
    }
    unsigned long written = 0;
    WriteFile(GetStdHandle(static_cast<unsigned long>(-11)), text, length, &written, nullptr);
}

void PrintNumber(unsigned long value) {
    char digits[16];
    int i = 15;
    digits[i] = '\0';
    do {
        digits[--i] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    Print(digits + i);
}

int g_failures = 0;

void Check(bool condition, const char* what) {
    if (!condition) {
        ++g_failures;
        Print("msvc_host: FAILED ");
        Print(what);
        Print("\n");
    }
}

unsigned long ToNumber(const char* text) {
    unsigned long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + static_cast<unsigned long>(*text - '0');
    }
    return value;
}

// Splits the command line at blanks (no quoting needed for these arguments).
int SplitArguments(char* line, char** argv, int capacity) {
    int argc = 0;
    while (*line != '\0' && argc < capacity) {
        while (*line == ' ' || *line == '\t') {
            ++line;
        }
        if (*line == '\0') {
            break;
        }
        argv[argc++] = line;
        while (*line != '\0' && *line != ' ' && *line != '\t') {
            ++line;
        }
        if (*line != '\0') {
            *line++ = '\0';
        }
    }
    return argc;
}

// ---- Host objects, derived from the SDK's interfaces -------------------------------------------
class DebugSink : public IDebugSink {
public:
    void OnDebugInfo(CDebugInfoIf* info) override {
        Check(info != nullptr && info->GetText() != nullptr && info->GetLevel() >= 1 &&
                      info->GetLevel() <= 3,
              "debug record");
    }
};

class Sample : public IHostSample {
public:
    explicit Sample(uint32_t size) : capacity(size), buffer(new uint8_t[size > 0 ? size : 1]) {}

    ~Sample() override { delete[] buffer; }

    uint8_t* GetBuffer() override { return buffer; }

    void SetLength(uint32_t value) override { length = value; }

    void Commit() override { committed = true; }

    void SetFourCC(uint32_t value) override { fourcc = value; }

    void SetHeight(uint32_t value) override { height = value; }

    void SetWidth(uint32_t value) override { width = value; }

    void SetImageSize(uint32_t) override {}

    uint32_t capacity;
    uint8_t* buffer;
    uint32_t length = 0, fourcc = 0, width = 0, height = 0;
    bool committed = false;
};

long g_outstanding = 0;

class Allocator : public IHostSampleAllocator {
public:
    IHostSample* AllocateSample(uint32_t fourcc, uint32_t capacity, const char*) override {
        __atomic_fetch_add(&g_outstanding, 1, __ATOMIC_SEQ_CST);
        Sample* sample = new Sample(capacity);
        sample->fourcc = fourcc;
        return sample;
    }

    void ReleaseSample(IHostSample* sample) override {
        __atomic_fetch_sub(&g_outstanding, 1, __ATOMIC_SEQ_CST);
        delete sample; // slot 0 of our own object, Microsoft's way
    }
};

class Device : public IDeviceSettings {
public:
    const char* GetModelName() override { return "Vantrel"; }

    int32_t GetChannelCount() override { return 1; }

    int32_t GetInputCount() override { return 1; }

    int32_t GetOutputCount() override { return 1; }
};

class Connection : public IConnectionSettings {
public:
    const char* GetAddress() override { return address; }

    uint16_t GetPort() override { return port; }

    int32_t GetStreamType() override { return streamType; }

    const char* GetUserName() override { return "admin"; }

    const char* GetPassword() override { return "admin"; }

    const char* address = "127.0.0.1";
    uint16_t port = 80;
    int32_t streamType = 3;
};

class Params : public IOpenParams {
public:
    IDeviceSettings* GetDeviceSettings() override { return &device; }

    IConnectionSettings* GetConnectionSettings() override { return &connection; }

    const char* GetParameter(uint32_t index) override {
        return index == 1 ? "0" : index == 2 ? rtspPort : nullptr;
    }

    Device device;
    Connection connection;
    const char* rtspPort = "554";
};

class ChannelParams : public IChannelParams, public IVideoFormat, public IRate, public IFrameSize {
public:
    IVideoFormat* GetVideoFormat() override { return this; }

    IRate* GetRate() override { return this; }

    IFrameSize* GetFrameSize() override { return this; }

    uint16_t GetFrameInterval() override { return 40; }

    uint16_t GetQuality() override { return 50; }

    uint16_t GetWidth() override { return 640; }

    uint16_t GetHeight() override { return 480; }
};

class Sink : public IFrameSink {
public:
    bool OnFrame(IHostSample* host) override {
        auto* sample = static_cast<Sample*>(host);
        const uint8_t* b = sample->buffer;
        bool good = sample->committed && sample->length >= 5 && sample->length <= sample->capacity;
        if (streamType == 1) {
            good = good && sample->fourcc == kFourCCJpeg && b[0] == 0xFF && b[1] == 0xD8;
        } else {
            good = good && (sample->fourcc == kFourCCH264 || sample->fourcc == kFourCCI264) &&
                   b[0] == 0 && b[1] == 0 && (b[2] == 1 || (b[2] == 0 && b[3] == 1));
        }
        if (!good) {
            __atomic_fetch_add(&badFrames, 1, __ATOMIC_SEQ_CST);
        }
        __atomic_fetch_add(&frames, 1, __ATOMIC_SEQ_CST);
        return true;
    }

    void OnSignalLost() override {}

    int32_t streamType = 3;
    long frames = 0;
    long badFrames = 0;
};

const char* const kCreate[] = {"CreateIPCapture", "CreateIPCaptureEx", "CreateIPCaptureEx2",
                               "CreateIPCaptureEx3"};
const char* const kDelete[] = {"DeleteIPCapture", "DeleteIPCaptureEx", "DeleteIPCaptureEx2",
                               "DeleteIPCaptureEx3"};

int Run(int argc, char** argv) {
    if (argc < 7) {
        Print("usage: msvc_host DLL ADDRESS HTTP_PORT RTSP_PORT STREAM_TYPE FRAMES\n");
        return 2;
    }
    void* module = LoadLibraryA(argv[1]);
    Check(module != nullptr, "LoadLibrary");
    if (module == nullptr) {
        return 1;
    }
    CreateIPCaptureFn create[4];
    DeleteIPCaptureFn destroy[4];
    for (int i = 0; i < 4; ++i) {
        create[i] = reinterpret_cast<CreateIPCaptureFn>(GetProcAddress(module, kCreate[i]));
        destroy[i] = reinterpret_cast<DeleteIPCaptureFn>(GetProcAddress(module, kDelete[i]));
        if (create[i] == nullptr || destroy[i] == nullptr) {
            Check(false, "an export is missing");
            return 1;
        }
    }
    DebugSink debugSink;
    Allocator allocator;
    Params params;
    params.connection.address = argv[2];
    params.connection.port = static_cast<uint16_t>(ToNumber(argv[3]));
    params.rtspPort = argv[4];
    params.connection.streamType = static_cast<int32_t>(ToNumber(argv[5]));
    const long wanted = static_cast<long>(ToNumber(argv[6]));
    ChannelParams channelParams;
    Sink sink;
    sink.streamType = params.connection.streamType;

    for (int i = 0; i < 4; ++i) {
        IIPCaptureDriverEx3* driver = create[i]();
        Check(driver != nullptr, "factory returned null");
        if (driver == nullptr) {
            continue;
        }
        Check(driver->Open(&debugSink, &allocator, &params), "Open");
        IIPVideoCaptureEx* video = driver->GetVideoCapture();
        Check(video != nullptr && driver->GetVideoCaptureEx() == video, "video capture object");
        Check(driver->GetDigitalIO() != nullptr, "digital I/O object");
        if (i == 0 && video != nullptr) {
            Check(video->GetChannelCount() == 1, "channel count");
            Check(video->OpenChannel(0, &sink, &channelParams), "OpenChannel");
            const unsigned long start = GetTickCount();
            while (__atomic_load_n(&sink.frames, __ATOMIC_SEQ_CST) < wanted &&
                   GetTickCount() - start < 30000) {
                Sleep(20);
            }
            int32_t state = -1;
            int32_t reserved = -1;
            char text[4] = "x";
            Check(video->GetChannelStatus(0, &state, &reserved, text, sizeof text) && state == 0 &&
                          reserved == 0 && text[0] == '\0',
                  "channel status");
            Check(video->CloseChannel(0), "CloseChannel");
        }
        driver->Close();
        destroy[(i + 1) % 4](driver);
    }
    // `delete driver` in a host built by Microsoft's compiler: slot 0 with the delete flag.
    IIPCaptureDriverEx3* driver = create[0]();
    Check(driver != nullptr, "factory returned null");
    delete driver;

    Check(sink.frames >= wanted, "too few frames");
    Check(sink.badFrames == 0, "frames with wrong content or attributes");
    Check(g_outstanding == 0, "samples not released");
    FreeLibrary(module);
    Print("msvc_host: ");
    PrintNumber(static_cast<unsigned long>(sink.frames));
    Print(" frames\n");
    if (g_failures != 0) {
        return 1;
    }
    Print("msvc_host: PASSED\n");
    return 0;
}

} // namespace

extern "C" void __cdecl HostEntry() {
    char line[1024];
    const char* source = GetCommandLineA();
    int n = 0;
    for (; source[n] != '\0' && n < 1023; ++n) {
        line[n] = source[n];
    }
    line[n] = '\0';
    char* argv[16];
    const int argc = SplitArguments(line, argv, 16);
    ExitProcess(static_cast<unsigned>(Run(argc, argv)));
}

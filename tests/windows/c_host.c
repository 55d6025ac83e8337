/* A recording server in plain C, laid out the way Microsoft's compiler lays out its objects: it
 * loads vantrel_capture.dll, calls the driver's objects only through raw table indices with
 * member function pointers (__thiscall on 32-bit x86), and hands the driver host objects whose
 * tables have Microsoft's layout (slot 0 one scalar deleting destructor). It opens the driver
 * against a camera, opens channel 0, takes frames, closes everything and deletes drivers through
 * every deletion export. With THROW_AT > 0 that frame sink call raises a C++ exception the way
 * Microsoft's runtime does; the driver must count it as a refused frame and go on delivering
 * frames.
 *
 * Usage: c_host DLL ADDRESS HTTP_PORT RTSP_PORT STREAM_TYPE FRAMES THROW_AT [OUT_FILE|- [WAIT_S]]
 * (stream type 3 H.264, 1 MJPEG; OUT_FILE receives the first FRAMES frames as offered; the
 * frames are awaited WAIT_S seconds, 30 by default).
 * Prints "c_host: PASSED" when every check held. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#define FOURCC(a, b, c, d)                                                                         \
    ((uint32_t)(a) | ((uint32_t)(b) << 8) | ((uint32_t)(c) << 16) | ((uint32_t)(d) << 24))
#define MSVC_CXX_EXCEPTION 0xE06D7363u

/* Member functions: THISCALL on 32-bit x86; 64-bit Windows has one calling convention. */
#if defined(__i386__) || defined(_M_IX86)
#define THISCALL __thiscall
#else
#define THISCALL
#endif

static int g_failures = 0;

#define CHECK(condition, ...)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            ++g_failures;                                                                          \
            printf("c_host: FAILED %s:%d: ", __FILE__, __LINE__);                                  \
            printf(__VA_ARGS__);                                                                   \
            printf("\n");                                                                          \
        }                                                                                          \
    } while (0)

/* ---- Calling the driver's objects by slot ---------------------------------------------------- */

typedef void** Table;
#define SLOT(object, index) ((*(Table*)(object))[index])

typedef void* (*CreateFn)(void);
typedef void (*DeleteFn)(void*);
typedef void*(THISCALL* ScalarDeletingFn)(void*, unsigned);
typedef _Bool(THISCALL* OpenFn)(void*, void*, void*, void*);
typedef void(THISCALL* VoidFn)(void*);
typedef void*(THISCALL* PointerFn)(void*);
typedef uint32_t(THISCALL* U32Fn)(void*);
typedef _Bool(THISCALL* OpenChannelFn)(void*, uint32_t, void*, void*);
typedef _Bool(THISCALL* IndexFn)(void*, uint32_t);
typedef _Bool(THISCALL* StatusFn)(void*, uint32_t, int32_t*, int32_t*, char*, uint32_t);
typedef uint8_t(THISCALL* LevelFn)(void*);
typedef const char*(THISCALL* TextFn)(void*);

/* ---- Host objects with Microsoft's layout ---------------------------------------------------- */

typedef struct HostObject {
    void** table;
} HostObject;

static volatile LONG g_slot0Calls = 0;

/* The driver never deletes host objects: a call to slot 0 of one is a fault. */
static void* THISCALL HostSlot0(void* self, unsigned flags) {
    (void)flags;
    InterlockedIncrement(&g_slot0Calls);
    return self;
}

static void THISCALL Reserved(void* self) {
    (void)self;
}

/* Debug sink: prints the driver's messages. */
static void THISCALL DebugOnInfo(void* self, void* info) {
    (void)self;
    const uint8_t level = ((LevelFn)SLOT(info, 1))(info);
    const char* text = ((TextFn)SLOT(info, 2))(info);
    printf("c_host: driver [%u] %s\n", level, text != NULL ? text : "(null)");
}

static void* g_debugTable[] = {(void*)HostSlot0, (void*)DebugOnInfo};
static HostObject g_debugSink = {g_debugTable};

/* Samples: one heap buffer each. */
typedef struct Sample {
    void** table;
    uint8_t* buffer;
    uint32_t capacity, length, fourcc, width, height, imageSize;
    int committed;
} Sample;

static uint8_t* THISCALL SampleGetBuffer(Sample* self) {
    return self->buffer;
}

static void THISCALL SampleSetLength(Sample* self, uint32_t v) {
    self->length = v;
}

static void THISCALL SampleCommit(Sample* self) {
    self->committed = 1;
}

static void THISCALL SampleSetFourCC(Sample* self, uint32_t v) {
    self->fourcc = v;
}

static void THISCALL SampleSetHeight(Sample* self, uint32_t v) {
    self->height = v;
}

static void THISCALL SampleSetWidth(Sample* self, uint32_t v) {
    self->width = v;
}

static void THISCALL SampleSetImageSize(Sample* self, uint32_t v) {
    self->imageSize = v;
}

static void* g_sampleTable[] = {
        (void*)HostSlot0,         (void*)Reserved,     (void*)SampleGetBuffer, (void*)Reserved,
        (void*)SampleSetLength,   (void*)SampleCommit, (void*)Reserved,        (void*)Reserved,
        (void*)Reserved,          (void*)Reserved,     (void*)SampleSetFourCC, (void*)Reserved,
        (void*)SampleSetHeight,   (void*)Reserved,     (void*)SampleSetWidth,  (void*)Reserved,
        (void*)SampleSetImageSize};

static volatile LONG g_outstanding = 0;
static volatile LONG g_badDriverName = 0;

static void* THISCALL AllocateSample(void* self, uint32_t fourcc, uint32_t capacity,
                                     const char* driverName) {
    (void)self;
    if (driverName == NULL || strcmp(driverName, "Vantrel") != 0) {
        InterlockedIncrement(&g_badDriverName);
    }
    Sample* sample = (Sample*)calloc(1, sizeof(Sample));
    if (sample == NULL) {
        return NULL;
    }
    sample->table = g_sampleTable;
    sample->buffer = (uint8_t*)malloc(capacity > 0 ? capacity : 1);
    sample->capacity = capacity;
    sample->fourcc = fourcc;
    InterlockedIncrement(&g_outstanding);
    return sample;
}

static void THISCALL ReleaseSample(void* self, Sample* sample) {
    (void)self;
    if (sample != NULL) {
        free(sample->buffer);
        free(sample);
        InterlockedDecrement(&g_outstanding);
    }
}

static void* g_allocatorTable[] = {(void*)HostSlot0,    (void*)Reserved, (void*)AllocateSample,
                                   (void*)Reserved,     (void*)Reserved, (void*)Reserved,
                                   (void*)ReleaseSample};
static HostObject g_allocator = {g_allocatorTable};

/* Open parameters. */
static const char* g_address;
static uint16_t g_httpPort;
static int32_t g_streamType;
static char g_rtspPortText[16];

static const char* THISCALL DeviceModel(void* self) {
    (void)self;
    return "Vantrel";
}

static int32_t THISCALL DeviceOne(void* self) {
    (void)self;
    return 1;
}

static void* g_deviceTable[] = {(void*)HostSlot0, (void*)Reserved, (void*)DeviceModel,
                                (void*)DeviceOne, (void*)Reserved, (void*)DeviceOne,
                                (void*)DeviceOne};
static HostObject g_device = {g_deviceTable};

static const char* THISCALL ConnAddress(void* self) {
    (void)self;
    return g_address;
}

static uint16_t THISCALL ConnPort(void* self) {
    (void)self;
    return g_httpPort;
}

static int32_t THISCALL ConnStreamType(void* self) {
    (void)self;
    return g_streamType;
}

static const char* THISCALL ConnUser(void* self) {
    (void)self;
    return "admin";
}

static const char* THISCALL ConnPassword(void* self) {
    (void)self;
    return "admin";
}

static void* g_connectionTable[] = {(void*)HostSlot0,   (void*)ConnAddress,    (void*)ConnPort,
                                    (void*)Reserved,    (void*)ConnStreamType, (void*)ConnUser,
                                    (void*)ConnPassword};
static HostObject g_connection = {g_connectionTable};

static void* THISCALL ParamsDevice(void* self) {
    (void)self;
    return &g_device;
}

static void* THISCALL ParamsConnection(void* self) {
    (void)self;
    return &g_connection;
}

/* Parameter 1: video standard (0 = 50 Hz); 2: the camera's RTSP port. */
static const char* THISCALL ParamsGet(void* self, uint32_t index) {
    (void)self;
    return index == 1 ? "0" : index == 2 ? g_rtspPortText : NULL;
}

static void* g_paramsTable[] = {(void*)HostSlot0, (void*)ParamsDevice, (void*)ParamsConnection,
                                (void*)Reserved, (void*)ParamsGet};
static HostObject g_params = {g_paramsTable};

/* Channel parameters: four objects with one table each. */
static HostObject g_frameSize, g_videoFormat, g_rate;

static uint16_t THISCALL SizeWidth(void* self) {
    (void)self;
    return 640;
}

static uint16_t THISCALL SizeHeight(void* self) {
    (void)self;
    return 480;
}

static void* g_frameSizeTable[] = {(void*)HostSlot0, (void*)SizeWidth, (void*)SizeHeight};

static void* THISCALL FormatSize(void* self) {
    (void)self;
    return &g_frameSize;
}

static void* g_videoFormatTable[] = {(void*)HostSlot0, (void*)Reserved, (void*)Reserved,
                                     (void*)FormatSize};

static uint16_t THISCALL RateInterval(void* self) {
    (void)self;
    return 40;
}

static uint16_t THISCALL RateQuality(void* self) {
    (void)self;
    return 50;
}

static void* g_rateTable[] = {(void*)HostSlot0, (void*)RateInterval, (void*)Reserved,
                              (void*)RateQuality};

static void* THISCALL ChannelFormat(void* self) {
    (void)self;
    return &g_videoFormat;
}

static void* THISCALL ChannelRate(void* self) {
    (void)self;
    return &g_rate;
}

static void* g_channelTable[] = {(void*)HostSlot0, (void*)ChannelFormat, (void*)ChannelRate};
static HostObject g_channelParams = {g_channelTable};

/* Frame sink: checks and counts frames, writes them out, throws once. */
static CRITICAL_SECTION g_frameLock;
static long g_frames = 0;     /* frames offered */
static long g_badFrames = 0;  /* frames whose content or attributes are wrong */
static long g_afterThrow = 0; /* frames offered after the throwing one */
static FILE* g_out = NULL;
static long g_wanted = 0;              /* frames to take (and to write) */
static unsigned long g_waitMs = 30000; /* longest wait for the frames */
static long g_throwAt = 0; /* the sink throws on this frame (counted from 1); 0: never */

static int FrameLooksRight(const Sample* s) {
    if (!s->committed || s->length == 0 || s->length > s->capacity) {
        return 0;
    }
    if (g_streamType == 1) {
        return s->fourcc == FOURCC('J', 'P', 'E', 'G') && s->length >= 4 && s->buffer[0] == 0xFF &&
               s->buffer[1] == 0xD8;
    }
    return (s->fourcc == FOURCC('H', '2', '6', '4') || s->fourcc == FOURCC('I', '2', '6', '4')) &&
           s->length >= 5 && s->buffer[0] == 0 && s->buffer[1] == 0 &&
           (s->buffer[2] == 1 || (s->buffer[2] == 0 && s->buffer[3] == 1));
}

static _Bool THISCALL SinkOnFrame(void* self, Sample* sample) {
    (void)self;
    long number;
    EnterCriticalSection(&g_frameLock);
    number = ++g_frames;
    if (!FrameLooksRight(sample)) {
        ++g_badFrames;
    }
    if (g_throwAt > 0 && number > g_throwAt) {
        ++g_afterThrow;
    }
    if (g_out != NULL && number <= g_wanted) {
        /* Every offered frame (the refused one too), for comparison with another capture. */
        fwrite(sample->buffer, 1, sample->length, g_out);
    }
    LeaveCriticalSection(&g_frameLock);
    if (number == g_throwAt) {
        /* What Microsoft's runtime does for `throw`: magic number, object, throw information
         * (and on 64-bit Windows the base address of the throwing module). */
        ULONG_PTR arguments[4] = {0x19930520u, 0, 0, 0};
        RaiseException(MSVC_CXX_EXCEPTION, EXCEPTION_NONCONTINUABLE, sizeof(void*) == 8 ? 4 : 3,
                       arguments);
    }
    return 1;
}

static void THISCALL SinkSignalLost(void* self) {
    (void)self;
}

static void* g_sinkTable[] = {(void*)HostSlot0, (void*)SinkOnFrame, (void*)Reserved,
                              (void*)SinkSignalLost};
static HostObject g_sink = {g_sinkTable};

/* ---- The run ----------------------------------------------------------------------------------
 */

static const char* const kCreateNames[] = {"CreateIPCapture", "CreateIPCaptureEx",
                                           "CreateIPCaptureEx2", "CreateIPCaptureEx3"};
static const char* const kDeleteNames[] = {"DeleteIPCapture", "DeleteIPCaptureEx",
                                           "DeleteIPCaptureEx2", "DeleteIPCaptureEx3"};

static long FramesSoFar(void) {
    long frames;
    EnterCriticalSection(&g_frameLock);
    frames = g_frames;
    LeaveCriticalSection(&g_frameLock);
    return frames;
}

/* Streams from channel 0 of one opened driver until `wanted` frames came (or 30 s passed). */
static void StreamFrames(void* driver, long wanted) {
    void* video = ((PointerFn)SLOT(driver, 3))(driver);
    CHECK(video != NULL, "GetVideoCapture (slot 3) returned null after Open");
    if (video == NULL) {
        return;
    }
    CHECK(((PointerFn)SLOT(driver, 8))(driver) == video, "GetVideoCaptureEx (slot 8) differs");
    CHECK(((PointerFn)SLOT(driver, 4))(driver) != NULL, "GetDigitalIO (slot 4) returned null");
    CHECK(((PointerFn)SLOT(driver, 5))(driver) == NULL, "slot 5 is not null");
    const uint32_t channels = ((U32Fn)SLOT(video, 1))(video);
    CHECK(channels == 1, "GetChannelCount (slot 1) = %u", channels);
    CHECK(((IndexFn)SLOT(video, 9))(video, 0) == 0, "slot 9 of the video capture is not false");
    const _Bool opened = ((OpenChannelFn)SLOT(video, 2))(video, 0, &g_sink, &g_channelParams);
    CHECK(opened, "OpenChannel (slot 2) failed");
    const DWORD start = GetTickCount();
    while (opened && FramesSoFar() < wanted && GetTickCount() - start < g_waitMs) {
        Sleep(20);
    }
    int32_t state = -1, reserved = -1;
    char text[8] = "x";
    CHECK(((StatusFn)SLOT(video, 6))(video, 0, &state, &reserved, text, sizeof text),
          "GetChannelStatus (slot 6) failed");
    CHECK(state == 0 && reserved == 0 && text[0] == '\0', "channel status %d %d '%s'", state,
          reserved, text);
    printf("c_host: %ld frames in %lu ms\n", FramesSoFar(),
           (unsigned long)(GetTickCount() - start));
    CHECK(((IndexFn)SLOT(video, 3))(video, 0), "CloseChannel (slot 3) failed");
}

int main(int argc, char** argv) {
    if (argc < 8) {
        printf("usage: c_host DLL ADDRESS HTTP_PORT RTSP_PORT STREAM_TYPE FRAMES THROW_AT "
               "[OUT_FILE]\n");
        return 2;
    }
    setvbuf(stdout, NULL, _IONBF, 0);
    InitializeCriticalSection(&g_frameLock);
    g_frameSize.table = g_frameSizeTable;
    g_videoFormat.table = g_videoFormatTable;
    g_rate.table = g_rateTable;
    g_address = argv[2];
    g_httpPort = (uint16_t)atoi(argv[3]);
    snprintf(g_rtspPortText, sizeof g_rtspPortText, "%s", argv[4]);
    g_streamType = atoi(argv[5]);
    const long wanted = atol(argv[6]);
    g_wanted = wanted;
    g_throwAt = atol(argv[7]);
    if (argc > 9) {
        g_waitMs = (unsigned long)atol(argv[9]) * 1000u;
    }
    if (argc > 8 && strcmp(argv[8], "-") != 0) {
        g_out = fopen(argv[8], "wb");
        CHECK(g_out != NULL, "cannot write %s", argv[8]);
    }

    HMODULE module = LoadLibraryA(argv[1]);
    CHECK(module != NULL, "LoadLibrary(%s) failed: %lu", argv[1], GetLastError());
    if (module == NULL) {
        return 1;
    }
    CreateFn create[4];
    DeleteFn destroy[4];
    for (int i = 0; i < 4; ++i) {
        create[i] = (CreateFn)(void*)GetProcAddress(module, kCreateNames[i]);
        destroy[i] = (DeleteFn)(void*)GetProcAddress(module, kDeleteNames[i]);
        CHECK(create[i] != NULL && destroy[i] != NULL, "export %s or %s missing", kCreateNames[i],
              kDeleteNames[i]);
        if (create[i] == NULL || destroy[i] == NULL) {
            return 1;
        }
    }

    /* One driver per factory; the first streams, each is deleted through another export. */
    for (int i = 0; i < 4; ++i) {
        void* driver = create[i]();
        CHECK(driver != NULL, "%s returned null", kCreateNames[i]);
        if (driver == NULL) {
            continue;
        }
        CHECK(((PointerFn)SLOT(driver, 3))(driver) == NULL, "GetVideoCapture before Open");
        const _Bool opened =
                ((OpenFn)SLOT(driver, 1))(driver, &g_debugSink, &g_allocator, &g_params);
        CHECK(opened, "Open (slot 1) through %s failed", kCreateNames[i]);
        if (opened && i == 0) {
            StreamFrames(driver, wanted);
        }
        ((VoidFn)SLOT(driver, 2))(driver); /* Close */
        destroy[(i + 1) % 4](driver);
        printf("c_host: created by %s, deleted by %s\n", kCreateNames[i],
               kDeleteNames[(i + 1) % 4]);
    }
    /* What `delete driver` compiles to in a Microsoft-built host: slot 0 with flag 1. */
    void* driver = create[0]();
    CHECK(driver != NULL, "CreateIPCapture returned null");
    if (driver != NULL) {
        ((ScalarDeletingFn)SLOT(driver, 0))(driver, 1);
    }
    destroy[0](NULL); /* null is ignored */

    if (g_out != NULL) {
        fclose(g_out);
    }
    CHECK(g_frames >= wanted, "%ld frames, wanted %ld", g_frames, wanted);
    CHECK(g_throwAt == 0 || g_afterThrow > 0, "no frame after the sink's exception");
    CHECK(g_badFrames == 0, "%ld frames with wrong content or attributes", g_badFrames);
    CHECK(g_outstanding == 0, "%ld samples not released", (long)g_outstanding);
    CHECK(g_badDriverName == 0, "samples asked for with another driver name");
    CHECK(g_slot0Calls == 0, "the driver called slot 0 of a host object");
    FreeLibrary(module);
    if (g_failures == 0) {
        printf("c_host: PASSED (%ld frames%s)\n", g_frames,
               g_throwAt > 0 ? ", the sink's exception counted as a refused frame" : "");
        return 0;
    }
    printf("c_host: %d checks failed\n", g_failures);
    return 1;
}

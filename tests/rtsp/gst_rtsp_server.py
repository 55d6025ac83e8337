#!/usr/bin/env python3
"""RTSP peer for the client's interop tests: GStreamer's RTSP server on 127.0.0.1 serving a live
H.264 test picture at /test over RTP/UDP.

usage: gst_rtsp_server.py --check [files]
       gst_rtsp_server.py none|basic|digest|both USER PASSWORD [--h264 FILE] [--h265 FILE]
                          [--mjpeg FILE] [--netsim PROPERTIES] [--protocols udp|tcp|both]

--check exits 0 when everything the server needs is installed (with "files", also what playing
files needs), otherwise prints what is missing and exits 1. Otherwise the server listens on a free
port, prints "READY <port>" and runs until it is terminated.

--h264 FILE also serves an H.264 Annex-B file at /vtl_media/main (--h265 FILE an H.265 one, sent
by rtph265pay) and --mjpeg FILE a Matroska file
of JPEG pictures at /vtl_media/second, each from its first frame for every session, paced by the
file's timestamps, so that what a client receives can be compared frame by frame with the file.
--netsim "PROPERTIES" puts GStreamer's netsim element, with these properties (for example
"delay-probability=0.1 min-delay=1 max-delay=15"), behind the H.264 file stream's payloader, so
that its packets are delayed, duplicated or dropped on their way out. That stream is then shared:
every session receives the same impaired packets, so that two receivers can be compared.

--protocols chooses the lower transports offered: RTP over UDP (the default), RTP interleaved in
the RTSP connection (tcp; a SETUP asking for UDP is refused with 461), or both.
"""
import sys

PIPELINE = ("( videotestsrc is-live=true pattern=ball ! "
            "video/x-raw,width=320,height=240,framerate=15/1 ! "
            "x264enc tune=zerolatency speed-preset=ultrafast key-int-max=15 ! "
            "rtph264pay name=pay0 pt=96 config-interval=1 )")

FILE_PIPELINES = {
    "--h264": ("/vtl_media/main",
               "( filesrc location=\"%s\" ! h264parse ! "
               "rtph264pay name=pay0 pt=96 config-interval=-1 )"),
    "--h265": ("/vtl_media/main",
               "( filesrc location=\"%s\" ! h265parse ! "
               "rtph265pay name=pay0 pt=96 config-interval=-1 )"),
    "--mjpeg": ("/vtl_media/second",
                "( filesrc location=\"%s\" ! matroskademux ! jpegparse ! "
                "rtpjpegpay name=pay0 pt=26 )"),
}
FILE_ELEMENTS = ("filesrc", "h264parse", "h265parse", "rtph265pay", "matroskademux", "jpegparse",
                 "rtpjpegpay")


def load(extra_elements=()):
    import gi
    gi.require_version("Gst", "1.0")
    gi.require_version("GstRtsp", "1.0")
    gi.require_version("GstRtspServer", "1.0")
    from gi.repository import GLib, Gst, GstRtsp, GstRtspServer
    Gst.init(None)
    for element in ("videotestsrc", "x264enc", "rtph264pay") + tuple(extra_elements):
        if Gst.ElementFactory.find(element) is None:
            raise ImportError("GStreamer element %s is missing" % element)
    return GLib, GstRtsp, GstRtspServer


def register_impaired_payloader(netsim):
    """Registers "impairedh264pay": rtph264pay followed by netsim with the properties `netsim`,
    in one bin that answers the RTSP server's questions to its payloader (pt, stats) with the
    payloader's answers, so that the server plays it like a payloader."""
    from gi.repository import GObject, Gst

    class ImpairedPay(Gst.Bin):
        __gproperties__ = {
            "pt": (int, "pt", "payload type", 0, 127, 96, GObject.ParamFlags.READABLE),
            "stats": (Gst.Structure, "stats", "payloader statistics",
                      GObject.ParamFlags.READABLE),
        }

        def __init__(self):
            Gst.Bin.__init__(self)
            self.pay = Gst.parse_launch("rtph264pay pt=96 config-interval=-1")
            impair = Gst.parse_launch("netsim " + netsim)
            self.add(self.pay)
            self.add(impair)
            self.pay.link(impair)
            self.add_pad(Gst.GhostPad.new("sink", self.pay.get_static_pad("sink")))
            self.add_pad(Gst.GhostPad.new("src", impair.get_static_pad("src")))

        def do_get_property(self, prop):
            return self.pay.get_property(prop.name)

    GObject.type_register(ImpairedPay)
    Gst.Element.register(None, "impairedh264pay", Gst.Rank.NONE, ImpairedPay)


def set_supported_methods(auth, methods):
    """Offers several schemes at once. The binding takes one enum value only, so the combination
    goes to the C function directly."""
    import ctypes
    get_pointer = ctypes.pythonapi.PyCapsule_GetPointer
    get_pointer.restype = ctypes.c_void_p
    get_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
    library = ctypes.CDLL("libgstrtspserver-1.0.so.0")
    library.gst_rtsp_auth_set_supported_methods.argtypes = [ctypes.c_void_p, ctypes.c_int]
    library.gst_rtsp_auth_set_supported_methods(get_pointer(auth.__gpointer__, None), methods)


def make_factory(GstRtsp, GstRtspServer, launch, shared, protocols="udp"):
    factory = GstRtspServer.RTSPMediaFactory()
    factory.set_launch(launch)
    factory.set_shared(shared)
    lower = {"udp": GstRtsp.RTSPLowerTrans.UDP, "tcp": GstRtsp.RTSPLowerTrans.TCP,
             "both": GstRtsp.RTSPLowerTrans.UDP | GstRtsp.RTSPLowerTrans.TCP}[protocols]
    factory.set_protocols(lower)
    return factory


def main():
    files = sys.argv[1:] == ["--check", "files"] or len(sys.argv) > 4
    try:
        GLib, GstRtsp, GstRtspServer = load(FILE_ELEMENTS if files else ())
    except (ImportError, ValueError) as error:
        print("missing: %s" % error, flush=True)
        return 1
    if sys.argv[1] == "--check":
        return 0
    mode, user, password = sys.argv[1], sys.argv[2], sys.argv[3]
    options = sys.argv[4:]
    netsim = ""
    if "--netsim" in options[0::2]:
        at = options.index("--netsim")
        netsim = options[at + 1]
        del options[at:at + 2]
    protocols = "udp"
    if "--protocols" in options[0::2]:
        at = options.index("--protocols")
        protocols = options[at + 1] if at + 1 < len(options) else ""
        del options[at:at + 2]
    if protocols not in ("udp", "tcp", "both") or len(options) % 2 != 0 or \
            any(o not in FILE_PIPELINES for o in options[0::2]):
        print("bad options: %s" % " ".join(options), flush=True)
        return 2

    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service("0")
    factories = [("/test", make_factory(GstRtsp, GstRtspServer, PIPELINE, True, protocols))]
    for option, location in zip(options[0::2], options[1::2]):
        path, launch = FILE_PIPELINES[option]
        if netsim and option == "--h264":
            register_impaired_payloader(netsim)
            launch = launch.replace("rtph264pay name=pay0 pt=96 config-interval=-1",
                                    "impairedh264pay name=pay0")
        shared = bool(netsim) and option == "--h264"
        factories.append((path, make_factory(GstRtsp, GstRtspServer, launch % location, shared,
                                             protocols)))

    if mode != "none":
        auth = GstRtspServer.RTSPAuth()
        token = GstRtspServer.RTSPToken()
        token.set_string("media.factory.role", "user")
        methods = 0
        if mode in ("basic", "both"):
            auth.add_basic(GstRtspServer.RTSPAuth.make_basic(user, password), token)
            methods |= int(GstRtsp.RTSPAuthMethod.BASIC)
        if mode in ("digest", "both"):
            auth.add_digest(user, password, token)
            methods |= int(GstRtsp.RTSPAuthMethod.DIGEST)
        set_supported_methods(auth, methods)
        server.set_auth(auth)
        permissions = GstRtspServer.RTSPPermissions()
        permissions.add_permission_for_role("user", "media.factory.access", True)
        permissions.add_permission_for_role("user", "media.factory.construct", True)
        for _, factory in factories:
            factory.set_permissions(permissions)

    for path, factory in factories:
        server.get_mount_points().add_factory(path, factory)
    server.attach(None)
    print("READY %d" % server.get_bound_port(), flush=True)
    GLib.MainLoop().run()
    return 0


if __name__ == "__main__":
    sys.exit(main())

// The other machine on the discovery test's LAN (scripts/two-hosts): a receiver, or a sender.
//   lan_peer find NAME MS WxH [EXTRA_IPS]
//       Looks for the source NAME, by mDNS alone unless extra IPs are given. Prints "looking"
//       as it starts, then "not found" when MS pass. Once found it watches the stream for three
//       seconds and prints "found <steady clock ns> <frames> <wrong> <width> <height>" (wrong:
//       frames that were not WxH BGRX at 30000/1001) and the last frame's BGRX rows.
//   lan_peer send SECONDS
//       Sends as "NDI" for SECONDS; prints "sending" once the sender exists.
// Exit status 0 when found (or sent), 1 when not found, 2 without a usable runtime.
#include "NdiReceiver.h"
#include "NdiRuntime.h"
#include "NdiSettings.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int find(const std::string &name, int ms, const std::string &size, const char *extraIps)
{
    NdiReceiver receiver;
    if (!receiver.usable())
        return 2;
    receiver.setExtraIps(extraIps ? extraIps : "");
    int width = 0, height = 0;
    std::sscanf(size.c_str(), "%dx%d", &width, &height);
    std::printf("looking\n");
    std::fflush(stdout);
    if (!receiver.connect(name, ms)) {
        std::printf("not found\n");
        return 1;
    }
    const long long foundNs = NdiReceiver::steadyNs();
    const NdiReceiver::Watch seen = receiver.watch(width, height, 3000, 500);
    receiver.receiveFrame(2000);
    const NdiReceiver::Frame &f = receiver.lastFrame();
    std::printf("found %lld %d %d %d %d\n", foundNs, seen.frames, seen.wrong, f.width, f.height);
    if (!f.pixels.empty())
        std::fwrite(f.pixels.data(), 1, f.pixels.size(), stdout);
    return 0;
}

int send(int seconds)
{
    const NdiApi *ndi = NdiRuntime::api();
    if (!ndi || !ndi->initialize())
        return 2;
    const NDIlib_send_create_t create = NdiSettings::sender();
    NDIlib_send_instance_t sender = ndi->send_create(&create);
    if (!sender)
        return 2;
    std::printf("sending\n");
    std::fflush(stdout);
    std::vector<std::uint8_t> grey(320 * 180 * 4, 0x80);
    const NDIlib_video_frame_v2_t frame = NdiSettings::video(320, 180, grey.data());
    // Clocked: each call waits for its frame time.
    for (int i = 0; i < seconds * 30; ++i)
        ndi->send_send_video_v2(sender, &frame);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "find" && (argc == 5 || argc == 6))
        return find(argv[2], std::atoi(argv[3]), argv[4], argc == 6 ? argv[5] : nullptr);
    if (mode == "send" && argc == 3)
        return send(std::atoi(argv[2]));
    std::fprintf(stderr, "usage: lan_peer find NAME MS WxH [EXTRA_IPS] | send SECONDS\n");
    return 2;
}

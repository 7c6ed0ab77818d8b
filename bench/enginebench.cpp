// How much the playback engine costs per picture, against the cheapest way this machine has to
// decode a clip into 8-bit 4:2:0 planes, the engine's picture format: the ffmpeg tool writing to
// the null muxer.
//
// Each measurement runs in a process of its own and is timed by wait4(), so both sides pay the same
// process start and file open and nothing of one run leaks into the next. Our side is this program
// started again with --run: a DecoderAgent with the worker's sleeps off, sound decoded into the
// audio queue (the SDL dummy driver's callback shut out, the queue emptied here), pictures taken from
// the scheduler as fast as they come. The runs of both sides alternate, so a neighbour's load hits
// both alike, and every figure is the median of the repetitions.
//
//   enginebench [--reps N] CLIP...      the table
//   enginebench --run CLIP              one run of the engine; prints "pictures N audio M"
#include "engine/audioagent.h"
#include "engine/audiopacket.h"
#include "engine/decoderagent.h"
#include "engine/pixelpacket.h"
#include "engine/videoagent.h"

#include <QCoreApplication>
#include <QString>

extern "C" {
#include <libavformat/avformat.h>
}

#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <spawn.h>
#include <unistd.h>
#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace {

int runEngine(const char *clip)
{
    EngineOptions options = EngineOptions::seekmark();
    options.afterWorkMs = 0;
    options.idleWaitMs = 0;
    options.afterIdleMs = 0;
    // Every request hands out the next picture: the consumer sets the pace, which here is "at once".
    options.noAudioClock = true;

    DecoderAgent decoder(nullptr, options);
    if (!decoder.open(QString::fromLocal8Bit(clip))) {
        std::fprintf(stderr, "cannot open %s: %s\n", clip, decoder.openError().toLocal8Bit().constData());
        return 1;
    }
    decoder.start();
    // The sound is decoded and queued as in playback, but nobody needs to hear it: the device's
    // callback is shut out and the blocks are taken here.
    if (decoder.audioAgent())
        decoder.audioAgent()->stop();

    long pictures = 0;
    long audioBlocks = 0;
    double lastTime = -1e300;
    for (;;) {
        bool progressed = false;
        PixelPacket *picture = decoder.nextPicture();
        if (picture && picture->m_Time != lastTime) {
            lastTime = picture->m_Time;
            ++pictures;
            progressed = true;
        }
        while (DataPacket *block = decoder.audioQueue().take()) {
            delete block;
            ++audioBlocks;
            progressed = true;
        }
        if (progressed)
            continue;
        if (decoder.isStopped() && decoder.videoAgent()->pictures().isEmpty())
            break;
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    decoder.close();
    std::printf("pictures %ld audio %ld\n", pictures, audioBlocks);
    return 0;
}

struct Measure {
    double cpu = 0.0;    // user + sys seconds
    double wall = 0.0;   // seconds
    long pictures = 0;   // ours only: pictures handed out
    bool ok = false;
};

double seconds(const timeval &t)
{
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

// Runs argv with stdout captured into out, stderr to /dev/null; rusage of the child.
Measure spawnMeasured(const std::vector<std::string> &args, std::string *out)
{
    Measure m;
    int pipeFd[2];
    if (pipe(pipeFd) != 0)
        return m;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFd[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFd[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFd[1]);
    if (spawned != 0) {
        close(pipeFd[0]);
        return m;
    }
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeFd[0], buffer, sizeof buffer)) > 0)
        if (out)
            out->append(buffer, size_t(n));
    close(pipeFd[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    m.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return m;
}

long framesInClip(const char *clip)
{
    AVFormatContext *context = nullptr;
    if (avformat_open_input(&context, clip, nullptr, nullptr) < 0)
        return 0;
    long frames = 0;
    if (avformat_find_stream_info(context, nullptr) >= 0) {
        const int video = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (video >= 0)
            frames = long(context->streams[video]->nb_frames);
    }
    avformat_close_input(&context);
    return frames;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

std::string baseName(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

int main(int argc, char **argv)
{
    // No sound card is needed: the dummy driver opens everywhere.
    setenv("SDL_AUDIODRIVER", "dummy", 0);

    if (argc == 3 && std::strcmp(argv[1], "--run") == 0) {
        QCoreApplication app(argc, argv);
        return runEngine(argv[2]);
    }

    int reps = 3;
    std::vector<std::string> clips;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--reps") == 0 && i + 1 < argc)
            reps = std::max(1, std::atoi(argv[++i]));
        else
            clips.emplace_back(argv[i]);
    }
    if (clips.empty()) {
        std::fprintf(stderr, "usage: %s [--reps N] CLIP...\n", argv[0]);
        return 2;
    }
    char self[4096] = {};
    const ssize_t selfLength = readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string me = selfLength > 0 ? std::string(self, size_t(selfLength)) : std::string(argv[0]);

    std::printf("Engine: CPU per picture, ours (DecoderAgent, no sleeps, sound decoded) against the limit\n");
    std::printf("(ffmpeg -v error -i CLIP -an -pix_fmt yuv420p -f null -); median of %d alternating runs.\n\n", reps);
    std::printf("| clip | pictures | ours ms CPU/picture | limit ms CPU/picture | ratio ours/limit | ours pictures/s | limit pictures/s |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    std::fflush(stdout);

    int failures = 0;
    for (const std::string &clip : clips) {
        const long frames = framesInClip(clip.c_str());
        std::vector<double> oursCpu, oursWall, limitCpu, limitWall;
        long pictures = 0;
        for (int r = 0; r < reps; ++r) {
            std::string out;
            Measure ours = spawnMeasured({me, "--run", clip}, &out);
            long p = 0, a = 0;
            if (!ours.ok || std::sscanf(out.c_str(), "pictures %ld audio %ld", &p, &a) != 2 || p <= 0) {
                std::fprintf(stderr, "engine run failed on %s\n", clip.c_str());
                ++failures;
                continue;
            }
            pictures = p;
            oursCpu.push_back(ours.cpu / double(p));
            oursWall.push_back(double(p) / ours.wall);

            Measure limit = spawnMeasured({"ffmpeg", "-nostdin", "-v", "error", "-i", clip, "-an", "-pix_fmt",
                                           "yuv420p", "-f", "null", "-"},
                                          nullptr);
            if (!limit.ok || frames <= 0) {
                std::fprintf(stderr, "ffmpeg run failed on %s\n", clip.c_str());
                ++failures;
                continue;
            }
            limitCpu.push_back(limit.cpu / double(frames));
            limitWall.push_back(double(frames) / limit.wall);
        }
        const double ours = median(oursCpu) * 1000.0;
        const double limit = median(limitCpu) * 1000.0;
        std::printf("| %s | %ld (of %ld) | %.2f | %.2f | %.2f | %.0f | %.0f |\n", baseName(clip).c_str(), pictures,
                    frames, ours, limit, limit > 0 ? ours / limit : 0.0, median(oursWall), median(limitWall));
        std::fflush(stdout);
    }
    return failures == 0 ? 0 : 1;
}

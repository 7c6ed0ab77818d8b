// Picture against sound as a viewer meets them, measured from outside the player: the sound as the
// sound server played it (its null sink's monitor, recorded by parec into our standard input) and
// the picture as the X server holds it (a 16 x 16 patch read back once a millisecond). The clip
// (made by bench/avsync.sh) has a white picture and the start of a 1 kHz beep at every whole
// second; each flash is paired with the beep nearest to it.
//
//   parec --raw --format=s16le --rate=48000 --channels=2 -d SINK.monitor | syncbench X Y SECONDS
//
// prints one line per pair, "pair <beep s> <picture - sound ms>" (positive: the picture comes
// after its sound), then
//   "sync <pairs> <median> <p5> <p95> <spread> <recording lag p50> <p95> <grab ms p50> <max> <stretch>"
// (ms; stretch: the largest distance of two beeps from the second they should lie apart, which
// shows sound lost or silence inserted on the way to the sink).
//
// Times: both sides on the monotonic clock of this process. A sample's time is the time its read
// returned minus the frames after it in the stream: read k ending at frame n_k arrived at a_k, and
// the stream's frame 0 is placed at min_k(a_k - n_k / rate), so the earliest arrival counts as no
// lag and every other read's lag (printed) says how steady the recording was. The flash is put
// half-way between the last dark read-back and the first bright one (each timed as the middle of
// its round trip to the X server).
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int rate = 48000;
constexpr int channels = 2;
constexpr int patch = 16;

double monotonic()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

struct Read {
    double at;     // when read() returned
    size_t end;    // frames in the stream after it
};

struct Grab {
    double at;     // middle of the round trip
    double took;   // the round trip
    bool bright;
};

std::mutex s_Mutex;
std::vector<uint16_t> s_Level;   // per frame: the larger |sample| of the channels
std::vector<Read> s_Reads;

void recordSound()
{
    std::vector<int16_t> buffer(4096 * channels);
    size_t carried = 0;   // bytes of a frame split across reads
    auto *bytes = reinterpret_cast<char *>(buffer.data());
    for (;;) {
        const ssize_t got = read(0, bytes + carried, buffer.size() * 2 - carried);
        const double at = monotonic();
        if (got <= 0)
            return;
        const size_t total = carried + static_cast<size_t>(got);
        const size_t frames = total / (2 * channels);
        std::lock_guard<std::mutex> lock(s_Mutex);
        for (size_t f = 0; f < frames; ++f) {
            int level = 0;
            for (int c = 0; c < channels; ++c)
                level = std::max(level, std::abs(int(buffer[f * channels + c])));
            s_Level.push_back(static_cast<uint16_t>(level));
        }
        s_Reads.push_back({at, s_Level.size()});
        carried = total - frames * 2 * channels;
        std::copy(bytes + frames * 2 * channels, bytes + total, bytes);
    }
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    const size_t rank = static_cast<size_t>(std::max(1.0, std::ceil(p / 100.0 * v.size() - 1e-9)));
    return v[std::min(rank, v.size()) - 1];
}

bool brightPatch(XImage *image)
{
    long sum = 0;
    for (int y = 0; y < patch; ++y) {
        for (int x = 0; x < patch; ++x) {
            const unsigned long p = XGetPixel(image, x, y);
            // Green alone is enough to tell white from black in any visual.
            const unsigned long g = (p & image->green_mask);
            sum += g > image->green_mask / 2 ? 1 : 0;
        }
    }
    return sum > patch * patch / 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: parec ... | syncbench X Y SECONDS\n");
        return 2;
    }
    const int px = std::atoi(argv[1]), py = std::atoi(argv[2]);
    const double seconds = std::atof(argv[3]);
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "syncbench: no X display\n");
        return 1;
    }
    const Window root = DefaultRootWindow(display);
    std::thread(recordSound).detach();

    std::vector<Grab> grabs;
    const double start = monotonic();
    timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    while (monotonic() - start < seconds) {
        next.tv_nsec += 1000000;
        if (next.tv_nsec >= 1000000000) {
            next.tv_nsec -= 1000000000;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        const double before = monotonic();
        XImage *image = XGetImage(display, root, px, py, patch, patch, AllPlanes, ZPixmap);
        const double after = monotonic();
        if (!image)
            continue;
        grabs.push_back({(before + after) / 2, after - before, brightPatch(image)});
        XDestroyImage(image);
    }

    std::vector<uint16_t> level;
    std::vector<Read> reads;
    {
        std::lock_guard<std::mutex> lock(s_Mutex);
        level = s_Level;
        reads = s_Reads;
    }
    if (reads.empty()) {
        std::fprintf(stderr, "syncbench: no sound recorded\n");
        return 1;
    }
    double zero = reads.front().at;
    for (const Read &r : reads)
        zero = std::min(zero, r.at - double(r.end) / rate);
    std::vector<double> lags;
    for (const Read &r : reads)
        lags.push_back((r.at - double(r.end) / rate - zero) * 1000.0);

    // Beeps: the first loud frame after 0.3 s of quiet, loud being a quarter of the peak.
    const int peak = level.empty() ? 0 : *std::max_element(level.begin(), level.end());
    std::vector<double> beeps;
    size_t lastLoud = 0;
    bool anyLoud = false;
    for (size_t f = 0; peak >= 1000 && f < level.size(); ++f) {
        if (level[f] < peak / 4)
            continue;
        if (!anyLoud || f - lastLoud > rate * 3 / 10)
            beeps.push_back(zero + double(f) / rate);
        lastLoud = f;
        anyLoud = true;
    }
    std::vector<double> flashes, took;
    for (size_t i = 0; i < grabs.size(); ++i) {
        took.push_back(grabs[i].took * 1000.0);
        if (i > 0 && grabs[i].bright && !grabs[i - 1].bright)
            flashes.push_back((grabs[i - 1].at + grabs[i].at) / 2);
    }

    std::vector<double> diffs;
    for (double flash : flashes) {
        auto nearest = std::min_element(beeps.begin(), beeps.end(), [flash](double a, double b) {
            return std::abs(a - flash) < std::abs(b - flash);
        });
        if (nearest == beeps.end() || std::abs(*nearest - flash) > 0.4)
            continue;
        diffs.push_back((flash - *nearest) * 1000.0);
        std::printf("pair %.3f %.2f\n", *nearest - start, diffs.back());
    }
    double stretch = 0.0;
    for (size_t i = 1; i < beeps.size(); ++i)
        stretch = std::max(stretch, std::abs(beeps[i] - beeps[i - 1] - 1.0) * 1000.0);
    const double p5 = percentile(diffs, 5), p95 = percentile(diffs, 95);
    std::printf("sync %zu %.1f %.1f %.1f %.1f %.2f %.2f %.2f %.2f %.1f\n", diffs.size(), percentile(diffs, 50), p5, p95,
                p95 - p5, percentile(lags, 50), percentile(lags, 95), percentile(took, 50), percentile(took, 100), stretch);
    std::fflush(stdout);
    std::_Exit(diffs.empty() ? 1 : 0);
}

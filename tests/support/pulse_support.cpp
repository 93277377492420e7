#include "support/pulse_support.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

namespace lmtest {

bool pulseAnswers()
{
    return haveTool("pactl") && run({"pactl", "info"}).status == 0;
}

bool pulseMandatory()
{
    const char *ci = getenv("CI");
    const char *require = getenv("LUMENAR_REQUIRE_PULSE");
    return (ci != nullptr && *ci != '\0' && std::string(ci) != "false") ||
           (require != nullptr && std::string(require) == "1");
}

PrivateSink::PrivateSink()
{
    static std::atomic<int> counter{0};
    name_ = "lmtest_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
    RunResult r = run({"pactl", "load-module", "module-null-sink", "sink_name=" + name_,
                       "sink_properties=device.description=" + name_});
    if (r.status != 0)
        return;
    module_ = r.out.substr(0, r.out.find_first_of("\r\n"));
    env_ = std::make_unique<ScopedEnv>("PULSE_SINK", name_);
}

PrivateSink::~PrivateSink()
{
    env_.reset();
    if (!module_.empty())
        run({"pactl", "unload-module", module_});
}

MonitorRecording::MonitorRecording(const PrivateSink &sink, const std::string &rawPath) : path_(rawPath)
{
    process_ = std::make_unique<BackgroundProcess>(
        std::vector<std::string>{"parec", "-d", sink.name() + ".monitor", "--raw", "--format=s16le",
                                 "--rate=44100", "--channels=2", "--latency-msec=20"},
        rawPath);
}

bool MonitorRecording::waitStarted(int timeoutMs)
{
    return spinUntil([&] { return readFile(path_).size() >= 4410 * 4; }, timeoutMs);
}

bool MonitorRecording::waitForQuietAfter(double loudSeconds, double threshold, int timeoutMs)
{
    return spinUntil(
        [&] {
            const std::vector<float> s = samplesSoFar();
            const auto loud = loudStretches(s, threshold);
            double total = 0;
            for (const auto &stretch : loud)
                total += stretch.second - stretch.first;
            return !loud.empty() && total >= loudSeconds && double(s.size()) / 44100 - loud.back().second >= 0.2;
        },
        timeoutMs);
}

size_t MonitorRecording::framesSoFar() const
{
    struct stat st;
    return stat(path_.c_str(), &st) == 0 ? size_t(st.st_size) / 4 : 0;
}

std::vector<float> MonitorRecording::samplesSoFar() const
{
    std::vector<uint8_t> raw = readFile(path_);
    std::vector<float> left;
    left.reserve(raw.size() / 4);
    for (size_t i = 0; i + 3 < raw.size(); i += 4)
        left.push_back(float(int16_t(uint16_t(raw[i] | raw[i + 1] << 8))) / 32768.0f);
    return left;
}

bool MonitorRecording::waitFor(size_t mark, double seconds, int timeoutMs)
{
    const size_t until = mark + size_t(seconds * 44100);
    return spinUntil([&] { return framesSoFar() >= until; }, timeoutMs);
}

std::vector<float> MonitorRecording::stop()
{
    process_->stop();
    return samplesSoFar();
}

std::vector<std::pair<double, double>> loudStretches(const std::vector<float> &s, double threshold,
                                                     double minSeconds)
{
    const size_t window = 441;
    std::vector<std::pair<double, double>> out;
    double start = -1, lastLoud = -1;
    for (size_t w = 0; w + window <= s.size(); w += window) {
        double sum = 0;
        for (size_t i = w; i < w + window; i++)
            sum += double(s[i]) * s[i];
        const double t = double(w) / 44100;
        const bool loud = std::sqrt(sum / window) > threshold;
        if (loud) {
            if (start < 0 || t - lastLoud > 0.03) {
                if (start >= 0 && lastLoud + 0.01 - start >= minSeconds)
                    out.push_back({start, lastLoud + 0.01});
                start = t;
            }
            lastLoud = t;
        }
    }
    if (start >= 0 && lastLoud + 0.01 - start >= minSeconds)
        out.push_back({start, lastLoud + 0.01});
    return out;
}

double rms(const std::vector<float> &s, double from, double to)
{
    const size_t a = size_t(std::max(0.0, from) * 44100), b = std::min(s.size(), size_t(to * 44100));
    double sum = 0;
    for (size_t i = a; i < b; i++)
        sum += double(s[i]) * s[i];
    return b > a ? std::sqrt(sum / double(b - a)) : 0;
}

double crossingFrequency(const std::vector<float> &s, double from, double to)
{
    const size_t a = size_t(std::max(0.0, from) * 44100), b = std::min(s.size(), size_t(to * 44100));
    int crossings = 0;
    for (size_t i = a + 1; i < b; i++)
        crossings += (s[i - 1] < 0) != (s[i] < 0);
    return b > a ? crossings / 2.0 / (double(b - a) / 44100) : 0;
}

int ownSinkInput()
{
    RunResult r = run({"pactl", "list", "sink-inputs"});
    std::istringstream in(r.out);
    std::string line;
    int current = -1;
    const std::string pid = "\"" + std::to_string(getpid()) + "\"";
    while (std::getline(in, line)) {
        if (line.rfind("Sink Input #", 0) == 0)
            current = atoi(line.c_str() + 12);
        else if (line.find("application.process.id = ") != std::string::npos && line.find(pid) != std::string::npos)
            return current;
    }
    return -1;
}

} // namespace lmtest

// How long a refill takes against the play time of the buffer it fills (the target: the
// longest under 10%), and the player's CPU use beside a plain sound-server client.
//
//   build/bench/bench-refill [--cpu-seconds N] [FILE...]
//
// Without files it makes its own with ffmpeg: FLAC 16/44.1, FLAC 24/96, WAV, MP3 (60 s each)
// and a 5-minute FLAC for the CPU figures. Prints figures; never fails on them.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/lm_coreaudio_file.h"
#include "engine/lm_file.h"
#include "engine/lm_player.h"

namespace {

using Clock = std::chrono::steady_clock;

int runQuiet(const std::vector<std::string> &argv)
{
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char *> args;
        for (const std::string &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool make(const std::string &path, const std::string &source, const std::vector<std::string> &codec)
{
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-y", "-f", "lavfi", "-i", source};
    argv.insert(argv.end(), codec.begin(), codec.end());
    argv.push_back(path);
    return runQuiet(argv) == 0;
}

void refillFigures(const std::string &path)
{
    LMFile *file = LMFileOpen(path.c_str());
    if (file == nullptr) {
        printf("%-34s cannot be opened (reader missing?)\n", path.c_str());
        return;
    }
    const uint32_t size = LMPlayerBufferSizeForFile(file);
    const uint32_t block = file->block_size ? file->block_size : 1;
    const uint32_t request = size - size % block;
    std::vector<uint8_t> buffer(size);
    std::vector<double> fractions;
    for (;;) {
        const double before = LMFileTell(file);
        const auto t0 = Clock::now();
        int n;
        if (file->type == LMFileTypeCoreAudio) {
            AudioStreamPacketDescription *packets = nullptr;
            uint32_t count = 0;
            n = LMCoreAudioFileReadPackets(file, buffer.data(), request, &packets, &count);
            free(packets);
        } else {
            n = LMFileRead(file, buffer.data(), int(request));
        }
        const double took = std::chrono::duration<double>(Clock::now() - t0).count();
        if (n <= 0)
            break;
        const double played = LMFileTell(file) - before;   // seconds of audio in this buffer
        if (played > 0)
            fractions.push_back(took / played);
    }
    const uint32_t rate = file->sample_rate, bits = file->bits_per_sample;
    LMFileClose(file);
    if (fractions.empty()) {
        printf("%-34s no data\n", path.c_str());
        return;
    }
    std::sort(fractions.begin(), fractions.end());
    const char *slash = strrchr(path.c_str(), '/');
    printf("%-22s %6u Hz %2u bit  buffer %7u B  refills %5zu  median %6.3f%%  longest %6.3f%%\n",
           slash ? slash + 1 : path.c_str(), rate, bits, size, fractions.size(),
           100 * fractions[fractions.size() / 2], 100 * fractions.back());
}

double cpuSeconds(pid_t pid)
{
    char name[64];
    snprintf(name, sizeof name, "/proc/%d/stat", int(pid));
    FILE *f = fopen(name, "r");
    if (f == nullptr)
        return -1;
    char text[4096];
    const size_t n = fread(text, 1, sizeof text - 1, f);
    fclose(f);
    text[n] = '\0';
    const char *p = strrchr(text, ')');   // the command name may hold spaces
    if (p == nullptr)
        return -1;
    unsigned long utime = 0, stime = 0;
    // Fields after the name: state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime stime
    if (sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2)
        return -1;
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// CPU share of a command over `seconds` of wall time (it is stopped then).
void cpuFigure(const char *label, const std::vector<std::string> &argv, double seconds, bool shell = false)
{
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        setpgid(0, 0);
        if (shell) {
            execl("/bin/sh", "sh", "-c", argv[0].c_str(), (char *)nullptr);
        } else {
            std::vector<char *> args;
            for (const std::string &a : argv)
                args.push_back(const_cast<char *>(a.c_str()));
            args.push_back(nullptr);
            execvp(args[0], args.data());
        }
        _exit(127);
    }
    const auto t0 = Clock::now();
    usleep(useconds_t(seconds * 1e6));
    // For a pipeline, count every process of its group: read the children through /proc.
    double cpu = 0;
    if (shell) {
        char cmd[128];
        snprintf(cmd, sizeof cmd, "pgrep -g %d", int(pid));
        FILE *p = popen(cmd, "r");
        int child;
        while (p && fscanf(p, "%d", &child) == 1)
            cpu += std::max(0.0, cpuSeconds(child));
        if (p)
            pclose(p);
    } else {
        cpu = cpuSeconds(pid);
    }
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    int status = 0;
    const bool exitedEarly = waitpid(pid, &status, WNOHANG) == pid;
    if (!exitedEarly) {
        kill(-pid, SIGTERM);
        kill(pid, SIGTERM);
        waitpid(pid, &status, 0);
    }
    if (exitedEarly)
        printf("%-40s (ended early, status %d: cannot play the file?)\n", label,
               WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    else if (cpu < 0)
        printf("%-40s (not measured)\n", label);
    else
        printf("%-40s %5.2f%% of one core over %.0f s\n", label, 100 * cpu / wall, wall);
}

} // namespace

int main(int argc, char **argv)
{
    double cpuWindow = 30;
    std::vector<std::string> files;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--cpu-seconds") == 0 && i + 1 < argc)
            cpuWindow = atof(argv[++i]);
        else
            files.push_back(argv[i]);
    }
    char dirTemplate[] = "/tmp/lumenar-bench-XXXXXX";
    std::string dir = mkdtemp(dirTemplate) ? dirTemplate : "/tmp";
    std::string longFlac = dir + "/five-minutes.flac";
    if (files.empty()) {
        const std::string music = "sine=frequency=440:sample_rate=%d:duration=%d";
        auto src = [&](int rate, int seconds) {
            char s[128];
            snprintf(s, sizeof s, music.c_str(), rate, seconds);
            return std::string(s);
        };
        struct Make {
            std::string name;
            std::string source;
            std::vector<std::string> codec;
        } makes[] = {
            {"flac-16-44k.flac", src(44100, 60), {"-ac", "2", "-sample_fmt", "s16", "-c:a", "flac"}},
            {"flac-24-96k.flac", src(96000, 60), {"-ac", "2", "-sample_fmt", "s32", "-bits_per_raw_sample", "24", "-c:a", "flac"}},
            {"wav-16-44k.wav", src(44100, 60), {"-ac", "2", "-c:a", "pcm_s16le"}},
            {"mp3-192k.mp3", src(44100, 60), {"-ac", "2", "-c:a", "libmp3lame", "-b:a", "192k"}},
        };
        for (const Make &m : makes) {
            const std::string path = dir + "/" + m.name;
            if (make(path, m.source, m.codec))
                files.push_back(path);
            else
                printf("could not make %s (is ffmpeg installed?)\n", m.name.c_str());
        }
        make(longFlac, src(44100, 300), {"-ac", "2", "-sample_fmt", "s16", "-c:a", "flac"});
    } else {
        longFlac = files.front();
    }

    printf("Refill time as a share of the buffer's play time (target: longest under 10%%)\n");
    for (const std::string &f : files)
        refillFigures(f);

    printf("\nCPU while playing %s (first %.0f s)\n", longFlac.c_str(), cpuWindow);
    cpuFigure("lumenar-cli play --audio null", {LUMENAR_CLI_PATH, "play", longFlac, "--audio", "null"}, cpuWindow);
    if (runQuiet({"pactl", "info"}) == 0) {
        cpuFigure("lumenar-cli play --audio pulse", {LUMENAR_CLI_PATH, "play", longFlac, "--audio", "pulse"},
                  cpuWindow);
        cpuFigure("paplay", {"paplay", longFlac}, cpuWindow);
        cpuFigure("ffmpeg | pacat", {"ffmpeg -loglevel quiet -i '" + longFlac + "' -f s16le - | pacat --raw"},
                  cpuWindow, true);
    } else {
        printf("no PulseAudio server answers: paplay figures skipped\n");
    }
    if (argc == 1)
        runQuiet({"rm", "-rf", dir});
    return 0;
}

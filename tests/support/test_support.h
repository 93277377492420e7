// Helpers shared by every test suite.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace lmtest {

// A fresh folder under the system's temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Sets an environment variable for the lifetime of the object, then restores it.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const std::string &value);
    ~ScopedEnv();

private:
    std::string name_;
    std::string old_;
    bool had_;
};

std::string fixturesDir();            // ../shared/fixtures beside the checkout
bool haveFixtures(const std::string &sub = "");
std::string sourceDir();
std::string cliPath();                // the built lumenar-cli
bool haveTool(const std::string &name);  // found on PATH

std::vector<uint8_t> readFile(const std::string &path);
std::string readText(const std::string &path);
void writeFile(const std::string &path, const void *data, size_t size);
void writeFile(const std::string &path, const std::string &text);
void writeFile(const std::string &path, const std::vector<uint8_t> &bytes);

// Runs argv[0] with arguments, no shell; captures standard output and error.
// Returns the exit status, or -1 when it could not be started or was killed.
struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};
RunResult run(const std::vector<std::string> &argv, const std::string &stdinText = "");

// Interleaved little-endian signed PCM (8-bit is unsigned, as WAV stores it) of a sine
// tone: `frequency` Hz on every channel, amplitude 0.5 of full scale.
std::vector<uint8_t> tonePcm(uint32_t rate, uint32_t channels, uint32_t bits, double seconds,
                             double frequency = 1000.0);
// A canonical 44-byte-header PCM WAV file holding `pcm`.
void writeWav(const std::string &path, uint32_t rate, uint32_t channels, uint32_t bits,
              const std::vector<uint8_t> &pcm);

// Limits the size of files this process writes, standing in for a full disk: a write
// beyond `bytes` fails (SIGXFSZ is ignored meanwhile). Restored on destruction.
class FileSizeLimit {
public:
    explicit FileSizeLimit(uint64_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    uint64_t savedCur_ = 0;
    uint64_t savedMax_ = 0;
    void (*savedHandler_)(int) = nullptr;
};

// Runs `body` in a forked child without root's powers, so that permissions apply to it
// as they do on a user's device: as root the child becomes the unprivileged user
// "nobody" (each of `paths`, with everything below it, is first given to that user); as
// anyone else it keeps the caller's identity. Failures in the child are printed by it
// and fail the calling test.
void runUnprivileged(const std::vector<std::string> &paths, const std::function<void()> &body);
// The user id the child of runUnprivileged runs as.
unsigned unprivilegedUid();

// One QCoreApplication for the whole test program, created on first use (tests run
// on the main thread, which is then the application's thread).
void ensureApp();
// Runs the event loop until pred() holds or timeoutMs passes; answers pred().
bool waitUntil(const std::function<bool()> &pred, int timeoutMs);
// Runs the event loop for ms milliseconds.
void spin(int ms);

// The same as ensureApp().
void ensureCoreApp();
// Runs the event loop until `done` holds or `timeoutMs` passed; returns done().
bool spinUntil(const std::function<bool()> &done, int timeoutMs);
// Runs the event loop for `ms` milliseconds.
void spinFor(int ms);

// A command running in the background with its standard output sent to a file; stopped
// (SIGTERM, then waited for) when the object goes.
class BackgroundProcess {
public:
    BackgroundProcess(const std::vector<std::string> &argv, const std::string &stdoutPath);
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess &) = delete;
    BackgroundProcess &operator=(const BackgroundProcess &) = delete;
    bool started() const { return pid_ > 0; }
    // Waits up to timeoutMs for the process to end by itself; its exit status, or -1.
    int wait(int timeoutMs);
    void stop();

private:
    int pid_ = -1;
};

} // namespace lmtest

// Skips the current test with a message when ../shared/fixtures/<sub> is absent.
#define LMTEST_REQUIRE_FIXTURES(sub)                                                       \
    do {                                                                                   \
        if (!lmtest::haveFixtures(sub))                                                    \
            GTEST_SKIP() << "shared fixtures not found at " << lmtest::fixturesDir() << "/" \
                         << (sub) << "; skipping";                                         \
    } while (0)

// Skips the current test with a message when a tool is not installed.
#define LMTEST_REQUIRE_TOOL(tool)                                                  \
    do {                                                                           \
        if (!lmtest::haveTool(tool))                                               \
            GTEST_SKIP() << "'" << (tool) << "' is not installed; skipping";       \
    } while (0)

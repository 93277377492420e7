#include "support/test_support.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QGuiApplication>

namespace fs = std::filesystem;

namespace lmtest {

TempDir::TempDir()
{
    std::string tmpl = (fs::temp_directory_path() / "lumenar-test-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
}

TempDir::~TempDir()
{
    std::error_code ec;
    // Tests may leave read-only folders behind; make them writable first.
    for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(const char *name, const std::string &value) : name_(name)
{
    const char *old = getenv(name);
    had_ = old != nullptr;
    if (had_)
        old_ = old;
    setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv()
{
    if (had_)
        setenv(name_.c_str(), old_.c_str(), 1);
    else
        unsetenv(name_.c_str());
}

std::string fixturesDir()
{
    if (const char *dir = getenv("LUMENAR_FIXTURES"))
        return dir;
    return LUMENAR_FIXTURES_DIR;
}

bool haveFixtures(const std::string &sub)
{
    std::error_code ec;
    return fs::is_directory(fixturesDir() + "/" + sub, ec);
}

std::string sourceDir()
{
    return LUMENAR_SOURCE_DIR;
}

std::string cliPath()
{
    return LUMENAR_CLI_PATH;
}

bool haveTool(const std::string &name)
{
    const char *path = getenv("PATH");
    if (path == nullptr)
        return false;
    std::stringstream ss(path);
    std::string dir;
    while (std::getline(ss, dir, ':')) {
        if (!dir.empty() && access((dir + "/" + name).c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

std::vector<uint8_t> readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string readText(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const std::string &path, const void *data, size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char *>(data), std::streamsize(size));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

void writeFile(const std::string &path, const std::string &text)
{
    writeFile(path, text.data(), text.size());
}

void writeFile(const std::string &path, const std::vector<uint8_t> &bytes)
{
    writeFile(path, bytes.data(), bytes.size());
}

// In a forked child: replaces the process with argv, or ends it with status 127.
[[noreturn]] static void execArgv(const std::vector<std::string> &argv)
{
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

RunResult run(const std::vector<std::string> &argv, const std::string &stdinText)
{
    RunResult result;
    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
        return result;
    pid_t pid = fork();
    if (pid < 0)
        return result;
    if (pid == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        execArgv(argv);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    size_t written = 0;
    if (stdinText.empty()) {
        close(inPipe[1]);
        inPipe[1] = -1;
    }
    fcntl(inPipe[1], F_SETFL, O_NONBLOCK);
    bool outOpen = true, errOpen = true;
    char buf[65536];
    while (outOpen || errOpen) {
        pollfd fds[3];
        int n = 0;
        int outIdx = -1, errIdx = -1, inIdx = -1;
        if (outOpen) { fds[n] = {outPipe[0], POLLIN, 0}; outIdx = n++; }
        if (errOpen) { fds[n] = {errPipe[0], POLLIN, 0}; errIdx = n++; }
        if (inPipe[1] >= 0) { fds[n] = {inPipe[1], POLLOUT, 0}; inIdx = n++; }
        if (poll(fds, n, -1) < 0)
            break;
        if (outIdx >= 0 && fds[outIdx].revents) {
            ssize_t r = read(outPipe[0], buf, sizeof buf);
            if (r <= 0) outOpen = false; else result.out.append(buf, size_t(r));
        }
        if (errIdx >= 0 && fds[errIdx].revents) {
            ssize_t r = read(errPipe[0], buf, sizeof buf);
            if (r <= 0) errOpen = false; else result.err.append(buf, size_t(r));
        }
        if (inIdx >= 0 && fds[inIdx].revents) {
            ssize_t w = write(inPipe[1], stdinText.data() + written, stdinText.size() - written);
            if (w > 0)
                written += size_t(w);
            if (w <= 0 || written == stdinText.size()) {
                close(inPipe[1]);
                inPipe[1] = -1;
            }
        }
    }
    if (inPipe[1] >= 0)
        close(inPipe[1]);
    close(outPipe[0]);
    close(errPipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::vector<uint8_t> tonePcm(uint32_t rate, uint32_t channels, uint32_t bits, double seconds, double frequency)
{
    std::vector<uint8_t> pcm;
    const uint64_t frames = uint64_t(seconds * rate);
    const uint32_t bytes = bits / 8;
    pcm.reserve(frames * channels * bytes);
    const double full = std::ldexp(1.0, int(bits) - 1) - 1;
    for (uint64_t i = 0; i < frames; i++) {
        int64_t v = std::llround(0.5 * full * std::sin(2 * M_PI * frequency * double(i) / rate));
        for (uint32_t c = 0; c < channels; c++) {
            if (bits == 8) {
                pcm.push_back(uint8_t(v + 128));
                continue;
            }
            for (uint32_t b = 0; b < bytes; b++)
                pcm.push_back(uint8_t(uint64_t(v) >> (8 * b)));
        }
    }
    return pcm;
}

static void putLe(std::vector<uint8_t> &out, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; i++)
        out.push_back(uint8_t(v >> (8 * i)));
}

void writeWav(const std::string &path, uint32_t rate, uint32_t channels, uint32_t bits,
              const std::vector<uint8_t> &pcm)
{
    std::vector<uint8_t> out;
    const uint32_t align = channels * bits / 8;
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    putLe(out, uint32_t(36 + pcm.size()), 4);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    putLe(out, 16, 4);
    putLe(out, 1, 2);
    putLe(out, channels, 2);
    putLe(out, rate, 4);
    putLe(out, rate * align, 4);
    putLe(out, align, 2);
    putLe(out, bits, 2);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    putLe(out, uint32_t(pcm.size()), 4);
    out.insert(out.end(), pcm.begin(), pcm.end());
    if (pcm.size() % 2)
        out.push_back(0);
    writeFile(path, out);
}

static void unprivilegedUser(uid_t *uid, gid_t *gid)
{
    *uid = 65534;
    *gid = 65534;
    if (const struct passwd *pw = getpwnam("nobody")) {
        *uid = pw->pw_uid;
        *gid = pw->pw_gid;
    }
}

unsigned unprivilegedUid()
{
    if (geteuid() != 0)
        return geteuid();
    uid_t uid;
    gid_t gid;
    unprivilegedUser(&uid, &gid);
    return uid;
}

// Failures the child records after `from` (earlier ones are the parent's).
static bool failedSince(int from)
{
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    if (info == nullptr)
        return false;
    const ::testing::TestResult *result = info->result();
    for (int i = from; i < result->total_part_count(); i++)
        if (result->GetTestPartResult(i).failed())
            return true;
    return false;
}

void runUnprivileged(const std::vector<std::string> &paths, const std::function<void()> &body)
{
    const bool root = geteuid() == 0;
    uid_t uid = geteuid();
    gid_t gid = getegid();
    if (root) {
        unprivilegedUser(&uid, &gid);
        for (const std::string &p : paths) {
            std::error_code ec;
            ASSERT_EQ(lchown(p.c_str(), uid, gid), 0) << p << ": " << strerror(errno);
            for (auto it = fs::recursive_directory_iterator(p, ec); !ec && it != fs::recursive_directory_iterator();
                 it.increment(ec))
                ASSERT_EQ(lchown(it->path().c_str(), uid, gid), 0) << it->path() << ": " << strerror(errno);
        }
    }
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    const int before = info != nullptr ? info->result()->total_part_count() : 0;
    fflush(stdout);
    fflush(stderr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0) << "fork: " << strerror(errno);
    if (pid == 0) {
        int code = 0;
        if (root && (setgroups(0, nullptr) != 0 || setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0 ||
                     geteuid() == 0)) {
            fprintf(stderr, "cannot give up root's privileges: %s\n", strerror(errno));
            code = 3;
        }
        for (const std::string &p : paths) {
            if (code == 0 && access(p.c_str(), R_OK | W_OK | X_OK) != 0) {
                fprintf(stderr, "%s is out of reach of user %u: %s\n", p.c_str(), unsigned(uid), strerror(errno));
                code = 4;
            }
        }
        if (code == 0) {
            try {
                body();
                code = failedSince(before) ? 1 : 0;
            } catch (const std::exception &e) {
                fprintf(stderr, "exception in the unprivileged child: %s\n", e.what());
                code = 5;
            }
        }
        fflush(stdout);
        fflush(stderr);
        _exit(code);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the unprivileged child (user " << uid << ") failed; its messages are above (status " << status << ")";
}

FileSizeLimit::FileSizeLimit(uint64_t bytes)
{
    struct rlimit r;
    getrlimit(RLIMIT_FSIZE, &r);
    savedCur_ = r.rlim_cur;
    savedMax_ = r.rlim_max;
    savedHandler_ = signal(SIGXFSZ, SIG_IGN);
    r.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &r);
}

FileSizeLimit::~FileSizeLimit()
{
    struct rlimit r;
    r.rlim_cur = savedCur_;
    r.rlim_max = savedMax_;
    setrlimit(RLIMIT_FSIZE, &r);
    signal(SIGXFSZ, savedHandler_);
}

void ensureApp()
{
    if (QCoreApplication::instance() != nullptr)
        return;
    static int argc = 1;
    static char name[] = "lumenar-test";
    static char *argv[] = {name, nullptr};
    // A GUI application (offscreen) so that image and font code work in every suite.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    new QGuiApplication(argc, argv);
}

bool waitUntil(const std::function<bool()> &pred, int timeoutMs)
{
    ensureApp();
    QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (!pred())
            usleep(1000);
    }
    return true;
}

void spin(int ms)
{
    ensureApp();
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        usleep(1000);
    }
}

void ensureCoreApp()
{
    ensureApp();
}

bool spinUntil(const std::function<bool()> &done, int timeoutMs)
{
    ensureApp();
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer timer;
    timer.start();
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done() || timer.elapsed() >= timeoutMs)
            loop.quit();
    });
    poll.start(5);
    loop.exec();
    return done();
}

void spinFor(int ms)
{
    spinUntil([] { return false; }, ms);
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string> &argv, const std::string &stdoutPath)
{
    pid_t pid = fork();
    if (pid < 0)
        return;
    if (pid == 0) {
        int fd = open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int null = open("/dev/null", O_RDWR);
        if (fd >= 0)
            dup2(fd, 1);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 2);
        }
        execArgv(argv);
    }
    pid_ = pid;
}

int BackgroundProcess::wait(int timeoutMs)
{
    for (int waited = 0; pid_ > 0; waited += 10) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (waited >= timeoutMs)
            break;
        usleep(10000);
    }
    return -1;
}

void BackgroundProcess::stop()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

BackgroundProcess::~BackgroundProcess()
{
    stop();
}

} // namespace lmtest

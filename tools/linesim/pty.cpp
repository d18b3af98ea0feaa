#include "pty.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <stdexcept>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace linesim {

namespace {

std::runtime_error SystemError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

// mkdir -p for the folder part of `path`.
void MakeParents(const std::string& path) {
    for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1)) {
        const std::string folder = path.substr(0, pos);
        if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST)
            throw SystemError("cannot create folder " + folder);
    }
}

std::string ReadLink(const std::string& path) {
    char buf[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    if (n < 0) return {};
    return std::string(buf, size_t(n));
}

} // namespace

PtyEnd::PtyEnd(std::string name) : mName(std::move(name)) {}

PtyEnd::~PtyEnd() {
    Unpublish();
    Close();
}

void PtyEnd::Open() {
    mMaster = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (mMaster < 0) throw SystemError("cannot create pseudo-terminal");
    if (grantpt(mMaster) != 0 || unlockpt(mMaster) != 0)
        throw SystemError("cannot unlock pseudo-terminal");
    char name[128];
    if (ptsname_r(mMaster, name, sizeof name) != 0)
        throw SystemError("cannot name pseudo-terminal");
    mSlavePath = name;
    mSlave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (mSlave < 0) throw SystemError("cannot open " + mSlavePath);
    // Raw from the start: a fresh slave echoes and translates, which would send bytes back down
    // the line before any program has set its own modes.
    termios tio{};
    if (tcgetattr(mSlave, &tio) == 0) {
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tcsetattr(mSlave, TCSANOW, &tio);
    }
    // Watch after our own open, so only other programs' opens and closes are counted.
    mWatch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (mWatch < 0) throw SystemError("cannot watch " + mSlavePath);
    if (inotify_add_watch(mWatch, name, IN_OPEN | IN_CLOSE) < 0)
        throw SystemError("cannot watch " + mSlavePath);
}

void PtyEnd::Publish(const std::string& linkPath) {
    MakeParents(linkPath);
    struct stat st {};
    if (lstat(linkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
        throw std::runtime_error(linkPath + " exists and is not a symbolic link");
    // Link under a temporary name and rename over the final one: a program that opens the port
    // meanwhile finds either the old link or the new one, never none.
    const std::string temp = linkPath + ".linesim-" + std::to_string(getpid());
    unlink(temp.c_str());
    if (symlink(mSlavePath.c_str(), temp.c_str()) != 0)
        throw SystemError("cannot create link " + linkPath);
    if (rename(temp.c_str(), linkPath.c_str()) != 0) {
        const int saved = errno;
        unlink(temp.c_str());
        errno = saved;
        throw SystemError("cannot create link " + linkPath);
    }
    mLinkPath = linkPath;
}

void PtyEnd::Unpublish() {
    if (mLinkPath.empty()) return;
    // Another cable may have taken the name over since; its link is not ours to remove.
    if (ReadLink(mLinkPath) == mSlavePath) unlink(mLinkPath.c_str());
    mLinkPath.clear();
}

void PtyEnd::Close() {
    for (int* fd : {&mWatch, &mSlave, &mMaster}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
    mUsers = 0;
}

ssize_t PtyEnd::Read(void* buf, size_t size) {
    return read(mMaster, buf, size);
}

ssize_t PtyEnd::Write(const void* buf, size_t size) {
    return write(mMaster, buf, size);
}

void PtyEnd::FlushInput() {
    if (mSlave >= 0) tcflush(mSlave, TCIFLUSH);
}

int PtyEnd::CountOtherUsers() const {
    // The kernel merges repeated open or close events that have not been read yet, so the events
    // only say that something changed; who holds the device is looked up each time.
    int users = 0;
    DIR* proc = opendir("/proc");
    if (!proc) return 0;
    const std::string self = std::to_string(getpid());
    while (dirent* process = readdir(proc)) {
        const std::string pid = process->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        if (pid == self) continue;
        const std::string fdFolder = "/proc/" + pid + "/fd";
        DIR* fds = opendir(fdFolder.c_str());
        if (!fds) continue; // gone, or another user's process
        while (dirent* fd = readdir(fds)) {
            if (fd->d_name[0] == '.') continue;
            if (ReadLink(fdFolder + "/" + fd->d_name) == mSlavePath) ++users;
        }
        closedir(fds);
    }
    closedir(proc);
    return users;
}

void PtyEnd::HandleWatchEvents(EventLog& log) {
    alignas(inotify_event) char buf[4096];
    bool opened = false, closed = false;
    for (;;) {
        const ssize_t n = read(mWatch, buf, sizeof buf);
        if (n <= 0) break;
        for (ssize_t pos = 0; pos < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buf + pos);
            pos += ssize_t(sizeof(inotify_event) + event->len);
            opened = opened || (event->mask & IN_OPEN);
            closed = closed || (event->mask & (IN_CLOSE | IN_Q_OVERFLOW));
        }
    }
    if (!opened && !closed) return;
    mUsers = CountOtherUsers();
    log.Write("end %s: %s (users %d)", mName.c_str(),
              opened && closed ? "opened and closed"
              : opened         ? "opened"
                               : "closed",
              mUsers);
    // Released by its last user: like a real port, it can be opened again.
    if (mUsers == 0) ioctl(mSlave, TIOCNXCL);
}

} // namespace linesim

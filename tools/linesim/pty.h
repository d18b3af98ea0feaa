#pragma once
// One end of a virtual line: a pseudo-terminal whose slave side is what a program opens as its
// serial port, published under a chosen path as a symbolic link to /dev/pts/N.
//
// The tool keeps a descriptor of the slave open for its whole life, so the master never sees a
// hang-up while no program has the port open, and bytes sent to an end nobody has opened yet wait
// in its input buffer. Because the slave is never closed for good, the tty is never released,
// and an exclusive-use flag (TIOCEXCL) left by the last program would lock every later open out;
// the end watches opens and closes of its device and clears that flag when the last user leaves,
// as the release of a real port would. Users are found through /proc, so a process of another
// user that holds the port open is not counted.
#include "event_log.h"

#include <string>
#include <sys/types.h>

namespace linesim {

class PtyEnd {
public:
    explicit PtyEnd(std::string name); // "a" or "b": used in log lines
    ~PtyEnd();
    PtyEnd(const PtyEnd&) = delete;
    PtyEnd& operator=(const PtyEnd&) = delete;

    // Creates the pseudo-terminal (raw mode, non-blocking master) and starts watching its device.
    // Throws std::runtime_error.
    void Open();
    // Creates `linkPath` (and missing parent folders) as a symbolic link to the slave device. An
    // existing symbolic link there is replaced atomically; anything else there is an error.
    // Throws std::runtime_error.
    void Publish(const std::string& linkPath);
    // Removes the published link if it still points at this end's device.
    void Unpublish();
    // Closes master and slave: programs that have the port open see a hang-up.
    void Close();

    bool IsOpen() const { return mMaster >= 0; }
    const std::string& Name() const { return mName; }
    const std::string& SlavePath() const { return mSlavePath; }
    const std::string& LinkPath() const { return mLinkPath; }
    int MasterFd() const { return mMaster; }
    int WatchFd() const { return mWatch; }
    // Number of descriptors that programs other than this tool hold on the slave device.
    int Users() const { return mUsers; }

    // Reads bytes a program wrote to its port. Returns as read(2) on the master.
    ssize_t Read(void* buf, size_t size);
    // Hands bytes to the program that reads the port. Returns as write(2) on the master.
    ssize_t Write(const void* buf, size_t size);

    // Discards what was sent to the program and not yet read by it.
    void FlushInput();

    // Call when WatchFd() is readable: recounts the users of the device after opens and closes,
    // logs them, and clears the exclusive-use flag when the last user has closed it.
    void HandleWatchEvents(EventLog& log);

private:
    int CountOtherUsers() const;

    std::string mName;
    std::string mSlavePath;
    std::string mLinkPath;
    int mMaster = -1;
    int mSlave = -1;
    int mWatch = -1;
    int mUsers = 0;
};

} // namespace linesim

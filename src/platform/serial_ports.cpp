#include "platform/serial_ports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The kernel names of serial devices: 8250/16550 UARTs, USB serial converters, USB modems (ACM).
const QRegularExpression& kernelNames() {
    static const QRegularExpression names(QStringLiteral("^tty(S|USB|ACM)([0-9]+)$"));
    return names;
}

int kindRank(const QString& kind) {
    return kind == QLatin1String("S") ? 0 : kind == QLatin1String("USB") ? 1 : 2;
}

// A sysfs attribute: its first line, trimmed (sysfs files are small; at most 256 bytes are read).
QString attribute(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QString();
    return QString::fromUtf8(file.read(256)).section('\n', 0, 0).trimmed();
}

QString canonical(const QString& path) {
    return QFileInfo(path).canonicalFilePath();
}

// What sysfs knows about the tty `info.KernelName`: its driver, the USB device behind it, and
// whether a ttyS slot has a UART at all.
void describe(TSerialPortInfo& info, const QString& sysRoot, const QStringList& consoles) {
    const QString entry = sysRoot + "/class/tty/" + info.KernelName;
    info.Console = consoles.contains(info.KernelName);
    if (info.KernelName.startsWith(QLatin1String("ttyS")))
        info.NoUart = attribute(entry + "/type") == QLatin1String("0");
    const QString top = canonical(sysRoot);
    QString dir = canonical(entry + "/device");
    // Up the device tree: the first driver that is not the serial core's own port and controller
    // devices (newer kernels put those between a UART and its bus), then the USB device.
    for (int depth = 0; !dir.isEmpty() && !top.isEmpty() && dir.startsWith(top + '/') && depth < 16;
         ++depth, dir = QFileInfo(dir).path()) {
        if (info.Driver.isEmpty()) {
            const QString driver = canonical(dir + "/driver");
            const QString bus = QFileInfo(QFileInfo(QFileInfo(driver).path()).path()).fileName();
            if (!driver.isEmpty() && bus != QLatin1String("serial-base"))
                info.Driver = QFileInfo(driver).fileName();
        }
        if (QFileInfo::exists(dir + "/idVendor")) {
            info.Manufacturer = attribute(dir + "/manufacturer");
            info.Product = attribute(dir + "/product");
            info.SerialNumber = attribute(dir + "/serial");
            info.UsbId = attribute(dir + "/idVendor") + ':' + attribute(dir + "/idProduct");
            break;
        }
    }
}

bool orderByKind(const TSerialPortInfo& a, const TSerialPortInfo& b) {
    if (a.NoUart != b.NoUart) return b.NoUart;
    const auto ma = kernelNames().match(a.KernelName), mb = kernelNames().match(b.KernelName);
    const int ra = kindRank(ma.captured(1)), rb = kindRank(mb.captured(1));
    if (ra != rb) return ra < rb;
    return ma.captured(2).toLongLong() < mb.captured(2).toLongLong();
}
} // namespace

QString TSerialPortInfo::Label() const {
    QString head = KernelName;
    if (head.isEmpty()) head = Device.startsWith(QLatin1String("/dev/")) ? Device.mid(5) : Device;
    if (head.isEmpty()) head = Path;
    if (NoUart) return head + QStringLiteral(": no UART found");
    QStringList parts;
    QString name = Product;
    if (!Manufacturer.isEmpty() && !Product.startsWith(Manufacturer, Qt::CaseInsensitive))
        name = (Manufacturer + ' ' + Product).trimmed();
    if (!name.isEmpty()) parts << name;
    if (!SerialNumber.isEmpty()) parts << QStringLiteral("serial ") + SerialNumber;
    QString label = head;
    if (!parts.isEmpty()) label += QStringLiteral(": ") + parts.join(QStringLiteral(", "));
    if (!Driver.isEmpty()) label += QStringLiteral(" (") + Driver + ')';
    if (Console) label += QStringLiteral(", system console");
    return label;
}

std::vector<TSerialPortInfo> ListSerialPorts(const QString& devRoot, const QString& sysRoot) {
    std::vector<TSerialPortInfo> stable, plain;
    const QString classDir = sysRoot + "/class/tty";
    const QString devTop = canonical(devRoot);
    const QStringList consoles =
        attribute(classDir + "/console/active").split(' ', Qt::SkipEmptyParts);

    const QDir byId(devRoot + "/serial/by-id");
    for (const QFileInfo& link :
         byId.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        TSerialPortInfo info;
        info.Path = link.absoluteFilePath();
        info.Device = link.canonicalFilePath();
        if (info.Device.isEmpty()) continue; // a name udev has not removed yet
        const QFileInfo device(info.Device);
        if (!devTop.isEmpty() && device.path() == devTop &&
            QFileInfo::exists(classDir + '/' + device.fileName()))
            info.KernelName = device.fileName();
        if (!info.KernelName.isEmpty()) describe(info, sysRoot, consoles);
        stable.push_back(info);
    }

    for (const QString& name :
         QDir(classDir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        if (!kernelNames().match(name).hasMatch()) continue;
        const QString node = devRoot + '/' + name;
        const QString device = canonical(node);
        if (device.isEmpty()) continue; // no device node: nothing could open it
        const bool named = std::any_of(stable.begin(), stable.end(), [&](const TSerialPortInfo& s) {
            return s.Device == device;
        });
        if (named) continue;
        TSerialPortInfo info;
        info.Path = QDir::cleanPath(node);
        info.Device = device;
        info.KernelName = name;
        describe(info, sysRoot, consoles);
        plain.push_back(info);
    }
    std::sort(plain.begin(), plain.end(), orderByKind);
    stable.insert(stable.end(), plain.begin(), plain.end());
    return stable;
}

bool BindSerialPort(const QString& appDir, const QString& port, const QString& device,
                    QString& error) {
    const QString folder = QDir(appDir).filePath(QStringLiteral("ports"));
    if (!QDir().mkpath(folder)) {
        error = QStringLiteral("cannot create ") + folder;
        return false;
    }
    const QByteArray link = QFile::encodeName(folder + '/' + port);
    const QByteArray temporary =
        QFile::encodeName(folder + "/." + port + '.' + QString::number(::getpid()));
    ::unlink(temporary.constData());
    if (::symlink(QFile::encodeName(device).constData(), temporary.constData()) != 0 ||
        ::rename(temporary.constData(), link.constData()) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        ::unlink(temporary.constData());
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Why a device cannot be opened

namespace {
// "crw-rw----", as ls shows it.
QString modeText(mode_t mode) {
    QString text = S_ISCHR(mode)   ? QStringLiteral("c")
                   : S_ISDIR(mode) ? QStringLiteral("d")
                                   : QStringLiteral("-");
    const char* letters = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit)
        text += (mode & (0400 >> bit)) ? QChar::fromLatin1(letters[bit]) : QChar('-');
    return text;
}

QString userName(uid_t uid) {
    const passwd* pw = ::getpwuid(uid);
    return pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(uid);
}

QString groupName(gid_t gid) {
    const group* gr = ::getgrgid(gid);
    return gr ? QString::fromLocal8Bit(gr->gr_name) : QString::number(gid);
}

// True when the group database makes the user a member of the group (whether or not this
// process has it yet).
bool listedInGroup(uid_t uid, gid_t gid) {
    const passwd* pw = ::getpwuid(uid);
    if (!pw) return false;
    if (pw->pw_gid == gid) return true;
    const group* gr = ::getgrgid(gid);
    if (!gr) return false;
    for (char** member = gr->gr_mem; member && *member; ++member)
        if (std::strcmp(*member, pw->pw_name) == 0) return true;
    return false;
}

bool processHasGroup(gid_t gid) {
    if (::getegid() == gid) return true;
    gid_t groups[NGROUPS_MAX];
    const int n = ::getgroups(NGROUPS_MAX, groups);
    return std::find(groups, groups + std::max(n, 0), gid) != groups + std::max(n, 0);
}

// The link of the program folder that maps the name, as the device path rule reads it.
QString portLink(const QString& name, const QString& appDir) {
    static const QRegularExpression com(QStringLiteral("^COM([0-9]+)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    QString bare = name;
    if (bare.startsWith(QLatin1String("\\\\.\\"))) bare = bare.mid(4);
    if (bare.isEmpty() || bare.startsWith('/') || appDir.isEmpty()) return QString();
    const auto match = com.match(bare);
    if (match.hasMatch()) bare = QStringLiteral("COM") + QString::number(match.captured(1).toInt());
    return QDir(appDir).filePath(QStringLiteral("ports/") + bare);
}

QString missingAdvice(const QString& name, const QString& path, const QString& appDir) {
    const QString link = portLink(name, appDir);
    const QFileInfo linkInfo(link);
    const QString bind = QStringLiteral(" Bind the port to one of this machine's serial devices "
                                        "(Device Configuration), or point the link at one: ln -sf "
                                        "/dev/serial/by-id/... ") +
                         (link.isEmpty() ? QStringLiteral("ports/COMn") : link);
    if (QFileInfo::exists(path))
        return path + QStringLiteral(" is there, but no device answers behind it (unplugged, or "
                                     "its driver is gone).");
    if (!link.isEmpty() && linkInfo.isSymLink()) {
        const QString target = linkInfo.symLinkTarget();
        const bool stable = target.contains(QLatin1String("/serial/by-"));
        return link + QStringLiteral(" leads to ") + target +
               QStringLiteral(", which does not exist") +
               (stable ? QStringLiteral(" (is the adapter plugged in?).") : QStringLiteral(".")) +
               bind;
    }
    if (!link.isEmpty())
        return name + QStringLiteral(" opens ") + path + QStringLiteral(" (there is no link ") +
               link + QStringLiteral("), which does not exist.") + bind;
    return path + QStringLiteral(" does not exist.");
}

QString permissionAdvice(const QString& path) {
    const QString device = canonical(path).isEmpty() ? path : canonical(path);
    struct stat st {};
    if (::stat(QFile::encodeName(device).constData(), &st) != 0) return QString();
    const QString user = userName(::geteuid());
    const QString group = groupName(st.st_gid);
    const QString head = device + QStringLiteral(" (owner ") + userName(st.st_uid) +
                         QStringLiteral(", group ") + group + QStringLiteral(", ") +
                         modeText(st.st_mode) + QStringLiteral(")");
    const bool groupMayOpen = (st.st_mode & S_IRGRP) && (st.st_mode & S_IWGRP) && st.st_gid != 0;
    if (!groupMayOpen)
        return head + QStringLiteral(" may be opened by its owner only. Give it to the group "
                                     "dialout (a udev rule), or run the program as its owner.");
    if (listedInGroup(::geteuid(), st.st_gid) && !processHasGroup(st.st_gid))
        return head + QStringLiteral(": ") + user + QStringLiteral(" is in the group ") + group +
               QStringLiteral(", but this session began before that. Log out and in again.");
    return head + QStringLiteral(" may be opened by the group ") + group +
           QStringLiteral(". Add the user to it: sudo usermod -aG ") + group + ' ' + user +
           QStringLiteral(", then log out and in again.");
}

QString busyAdvice(const QString& path) {
    const QString device = canonical(path).isEmpty() ? path : canonical(path);
    const QStringList holders = SerialDeviceHolders(device);
    if (holders.isEmpty())
        return device +
               QStringLiteral(" is in use by another program (one this user may not "
                              "look at: sudo fuser -v ") +
               device + QStringLiteral(" names it).");
    const bool onlyUs = std::all_of(holders.begin(), holders.end(), [](const QString& h) {
        return h.endsWith(QLatin1String(", this program)"));
    });
    return device + QStringLiteral(" is in use by ") + holders.join(QStringLiteral(", ")) +
           (onlyUs ? QStringLiteral(": another port of this program has it open.")
                   : QStringLiteral(". End that program, or choose another port."));
}
} // namespace

QStringList SerialDeviceHolders(const QString& device, const QString& procRoot) {
    QStringList holders;
    const QString target = canonical(device).isEmpty() ? device : canonical(device);
    const QByteArray wanted = QFile::encodeName(target);
    const QByteArray root = QFile::encodeName(procRoot);
    DIR* processes = ::opendir(root.constData());
    if (!processes) return holders;
    const pid_t self = ::getpid();
    while (const dirent* process = ::readdir(processes)) {
        char* end = nullptr;
        const long pid = std::strtol(process->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') continue;
        const QByteArray fdDir = root + '/' + process->d_name + "/fd";
        DIR* fds = ::opendir(fdDir.constData());
        if (!fds) continue; // another user's process, or one that just ended
        bool holds = false;
        while (const dirent* fd = ::readdir(fds)) {
            if (fd->d_name[0] == '.') continue;
            char link[PATH_MAX];
            const QByteArray fdPath = fdDir + '/' + fd->d_name;
            const ssize_t n = ::readlink(fdPath.constData(), link, sizeof link - 1);
            if (n > 0 && QByteArray(link, int(n)) == wanted) {
                holds = true;
                break;
            }
        }
        ::closedir(fds);
        if (!holds) continue;
        // The program's name from its first argument (the kernel's own name for it is cut to
        // 15 characters), else that name.
        const QString dir =
            QString::fromLocal8Bit(root) + '/' + QString::fromLocal8Bit(process->d_name);
        QFile cmdline(dir + "/cmdline");
        QString name;
        if (cmdline.open(QIODevice::ReadOnly))
            name = QFileInfo(QString::fromLocal8Bit(cmdline.read(4096).split('\0').value(0)))
                       .fileName();
        if (name.isEmpty()) name = attribute(dir + "/comm");
        holders << (name.isEmpty() ? QStringLiteral("a program") : name) +
                       QStringLiteral(" (pid ") + QString::number(pid) +
                       (pid == self ? QStringLiteral(", this program)") : QStringLiteral(")"));
    }
    ::closedir(processes);
    return holders;
}

QString SerialOpenAdvice(int error, const QString& name, const QString& path,
                         const QString& appDir) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return missingAdvice(name, path, appDir);
    case EACCES:
    case EPERM:
        return permissionAdvice(path);
    case EBUSY:
        return busyAdvice(path);
    default:
        return QString();
    }
}

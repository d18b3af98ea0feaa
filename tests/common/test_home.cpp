#include "common/test_home.h"

#include "core/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

TestHome::TestHome(int role)
    : mDir(std::make_unique<QTemporaryDir>()), mText(std::make_unique<TSessionText>()) {
    const QString root = mDir->path();
    qputenv("MARROWLINE_HOME", QFile::encodeName(root));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + "/.xdg-config"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root + "/.xdg-data"));
    mOwned = std::make_unique<TAppContext>(root, root + "/marrowline", mPrompt);
    mContext = mOwned.get();
    sink().SetSessionText(RoleClient, mText.get());
    sink().SetSessionText(RoleServer, mText.get());
    setRole(role);
}

TestHome::~TestHome() {
    mOwned.reset();
}

QString TestHome::path() const { return mDir->path() + '/'; }

QString TestHome::file(const QString& relative) const { return path() + relative; }

void TestHome::setRole(int role) { mContext->settings.PutInt(MRL_Function, role); }

QStringList TestHome::status() const {
    QStringList out;
    for (const QString& line : mText->Lines()) {
        // Strip "date time: " — the first ": " after the time stamp.
        const qsizetype at = line.indexOf(": ");
        out << (at >= 0 ? line.mid(at + 2) : line);
    }
    return out;
}

void TestHome::clearStatus() { mText->Clear(); }

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

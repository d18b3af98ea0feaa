#include "jobs/users.h"

#include "core/helpers.h"
#include "core/inifile.h"
#include "core/status.h"
#include "platform/appdir.h"
#include "platform/paths.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <exception>

const char* const UserKeyNames[UserKeyCount] = {
    "ukUser", "ukPassw", "ukUseGlobalInbox", "ukUseGlobalOutbox", "ukInbox", "ukOutbox"};

namespace {
const char* const UserSection = "USER";
const char* const UserExtension = ".xus";
// Linux allows 255 bytes per file name.
constexpr int MaxFileNameBytes = 255;

const TIniKind UserKeyKinds[UserKeyCount] = {TIniKind::String,  TIniKind::String, TIniKind::Boolean,
                                             TIniKind::Boolean, TIniKind::String, TIniKind::String};
const TRecordLayout UserLayout{UserKeyNames, UserKeyKinds};

// User names and passwords are stored upper-cased; folders keep their case on Linux.
QString storedText(int key, const QString& text) {
    if (key == ukInbox || key == ukOutbox) return PathCase(text.trimmed());
    return text.toUpper().trimmed();
}

void applyGlobalFolders(TMRLUser& user, const TSettings& settings) {
    if (user[ukUseGlobalInbox].BoolValue) user[ukInbox].SetStr(settings.GetStr(MRL_Inbox));
    if (user[ukUseGlobalOutbox].BoolValue) user[ukOutbox].SetStr(settings.GetStr(MRL_Outbox));
}
} // namespace

TUsersList::TUsersList(TSettings& settings, TStatusSink& status)
    : TRecordList("TUsersList", UserLayout, status), mSettings(settings) {}

TUsersList::~TUsersList() {
    Clear();
}

QString TUsersList::UsersFolder() const {
    return mSettings.AppDir() + "USERS/";
}

QString TUsersList::UserFilePath(const QString& userName) const {
    const QString name = userName.toUpper().trimmed();
    if (name.isEmpty()) return QString();
    // Characters that would leave the folder, hide the file or break the name are written as
    // %XX (':' too, which would read as a drive prefix); '%' itself too, so that different names
    // never share a file.
    QString safe;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name[i];
        const ushort u = c.unicode();
        if (IsControlChar(c) || c == '/' || c == '\\' || c == '%' || c == ':' ||
            (i == 0 && c == '.'))
            safe += QStringLiteral("%%1").arg(u, 2, 16, QChar('0')).toUpper();
        else
            safe += c;
    }
    QByteArray bytes = safe.toUtf8();
    const int room = MaxFileNameBytes - int(qstrlen(UserExtension));
    if (bytes.size() > room) {
        // Shortened names stay unique through a hash of the whole name.
        const QByteArray hash =
            QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
        qsizetype cut = room - 1 - hash.size();
        while (cut > 0 && (uchar(bytes[cut]) & 0xC0) == 0x80)
            --cut;
        bytes = bytes.left(cut) + '~' + hash.toUpper();
        safe = QString::fromUtf8(bytes);
    }
    bool ok = false;
    const QString path = LocalPath(UsersFolder(), safe + UserExtension, &ok);
    return ok ? path : QString();
}

void TUsersList::Clear() {
    guarded("Clear", 0, [this]() {
        mItems.clear();
        return 0;
    });
}

void TUsersList::EmptyItem(TMRLUser& item) {
    guarded("EmptyItem", 0, [&]() {
        clearSlots(item);
        item[ukUseGlobalInbox].BoolValue = item[ukUseGlobalInbox].BoolDefault = true;
        item[ukUseGlobalOutbox].BoolValue = item[ukUseGlobalOutbox].BoolDefault = true;
        return 0;
    });
}

void TUsersList::AddItem() {
    guarded("AddItem", 0, [this]() {
        auto user = std::make_unique<TMRLUser>();
        EmptyItem(*user);
        mItems.push_back(std::move(user));
        return 0;
    });
}

TMRLUser* TUsersList::GetItem(int index) {
    return at(index);
}

void TUsersList::SetItem(int index, const TMRLUser* item) {
    guarded("SetItem", 0, [&]() {
        if (index < 0 || !item) return 0;
        if (TMRLUser* target = growTo(index, [this] { AddItem(); }))
            copySlots(*target, item->Slots);
        return 0;
    });
}

int TUsersList::SearchItem(const QString& name, const QString& password) {
    return guarded("SearchItem", -1, [&]() {
        const QString wanted = name.toUpper().trimmed();
        if (wanted.isEmpty()) return -1;
        const QString scrambled = password.isEmpty() ? QString() : ScramblePassword(password);
        for (size_t i = 0; i < mItems.size(); ++i) {
            const TMRLUser& user = *mItems[i];
            if (user[ukUser].StrValue != wanted) continue;
            if (!scrambled.isEmpty() && user[ukPassw].StrValue != scrambled) continue;
            return int(i);
        }
        return -1;
    });
}

bool TUsersList::DeleteItem(int index, bool deleteFile) {
    return guarded("DeleteItem", false, [&]() {
        if (index < 0 || index >= Count()) return false;
        if (deleteFile) {
            const QString path = UserFilePath((*at(index))[ukUser].StrValue);
            QFile file(path);
            if (!path.isEmpty() && file.exists() && !file.remove()) {
                report("DeleteItem", path + ": " + file.errorString());
                return false;
            }
        }
        mItems.erase(mItems.begin() + index);
        if (index == ItemIndex) ItemIndex = -1;
        return true;
    });
}

void TUsersList::CopyFrom(const TUsersList* other) {
    guarded("CopyFrom", 0, [&]() {
        if (!other || other == this) return 0;
        copyRecordsFrom(*other);
        ItemIndex = other->ItemIndex;
        return 0;
    });
}

void TUsersList::Load() {
    guarded("Load", 0, [this]() {
        QDir folder(UsersFolder());
        QFileInfoList files = folder.entryInfoList(QStringList{QString("*") + UserExtension},
                                                   QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
        files.erase(std::remove_if(
                        files.begin(), files.end(),
                        [](const QFileInfo& f) { return !f.fileName().endsWith(UserExtension); }),
                    files.end());
        if (files.isEmpty()) return 0;
        mItems.clear();
        for (const QFileInfo& info : files) {
            TIniFile ini(info.filePath());
            if (!ini.LastError().isEmpty()) {
                report("Load", info.fileName() + ": " + ini.LastError());
                continue;
            }
            auto user = std::make_unique<TMRLUser>();
            EmptyItem(*user);
            readSection(*user, ini, UserSection, storedText);
            // A file that names nobody (damaged, or not a user file) is no account.
            if ((*user)[ukUser].StrValue.isEmpty()) {
                report("Load", info.fileName() + ": no user name");
                continue;
            }
            applyGlobalFolders(*user, mSettings);
            user->FileName = info.filePath();
            mItems.push_back(std::move(user));
        }
        return 0;
    });
}

bool TUsersList::Save() {
    return guarded("Save", false, [this]() {
        bool allWritten = true;
        MakePrivateFolder(UsersFolder());
        for (const auto& record : mItems) {
            TMRLUser& user = *record;
            if (user[ukUser].StrValue.trimmed().isEmpty()) continue;
            applyGlobalFolders(user, mSettings);
            const QString path = UserFilePath(user[ukUser].StrValue);
            if (path.isEmpty()) {
                report("Save", "invalid user name: " + user[ukUser].StrValue);
                allWritten = false;
                continue;
            }
            TIniFile ini(path);
            writeSection(user, ini, UserSection, storedText);
            // One file that cannot be written must not keep the others from being saved.
            if (!ini.UpdateFile()) {
                report("Save", path + ": " + ini.LastError());
                allWritten = false;
                continue;
            }
            const QString previous = user.FileName;
            user.FileName = path;
            if (previous.isEmpty() || previous == path) continue;
            // Renamed: the old file goes, unless another account still owns it.
            const bool owned = std::any_of(mItems.begin(), mItems.end(), [&](const auto& u) {
                return UserFilePath((*u)[ukUser].StrValue) == previous;
            });
            QFile old(previous);
            if (!owned && old.exists() && !old.remove())
                report("Save", previous + ": " + old.errorString());
        }
        return allWritten;
    });
}

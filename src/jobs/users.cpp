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

TIniKind kindOf(int key) {
    return key == ukUseGlobalInbox || key == ukUseGlobalOutbox ? TIniKind::Boolean
                                                               : TIniKind::String;
}

// User names and passwords are stored upper-cased; folders keep their case on Linux.
QString storedText(int key, const QString& text) {
    if (key == ukInbox || key == ukOutbox) return PathCase(text.trimmed());
    return text.toUpper().trimmed();
}

void applyGlobalFolders(TMRLUser& user, const TSettings& settings) {
    if (user[ukUseGlobalInbox].BoolValue) user[ukInbox].SetStr(settings.GetStr(MRL_Inbox));
    if (user[ukUseGlobalOutbox].BoolValue) user[ukOutbox].SetStr(settings.GetStr(MRL_Outbox));
}

bool parseBool(const QString& text, bool* value) {
    const QString t = text.trimmed();
    int number = 0;
    if (ParseInteger(t, &number)) {
        *value = number != 0;
        return true;
    }
    if (t.compare("true", Qt::CaseInsensitive) == 0) {
        *value = true;
        return true;
    }
    if (t.compare("false", Qt::CaseInsensitive) == 0) {
        *value = false;
        return true;
    }
    return false;
}
} // namespace

TUsersList::TUsersList(TSettings& settings, TStatusSink& status)
    : mSettings(settings), mStatus(status) {}

void TUsersList::report(const char* operation, const QString& text) {
    mStatus.ReportOperationError("TUsersList", operation, text);
}

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

int TUsersList::Count() const {
    return int(mItems.size());
}

void TUsersList::EmptyItem(TMRLUser& item) {
    guarded("EmptyItem", 0, [&]() {
        for (int k = 0; k < UserKeyCount; ++k) {
            TIniKey& slot = item.Slots[size_t(k)];
            slot = TIniKey();
            slot.Key = UserKeyNames[k];
            slot.Kind = kindOf(k);
        }
        item[ukUseGlobalInbox].BoolValue = item[ukUseGlobalInbox].BoolDefault = true;
        item[ukUseGlobalOutbox].BoolValue = item[ukUseGlobalOutbox].BoolDefault = true;
        return 0;
    });
}

void TUsersList::AddItem() {
    guarded("AddItem", 0, [this]() {
        TMRLUser user;
        EmptyItem(user);
        mItems.push_back(user);
        return 0;
    });
}

TMRLUser* TUsersList::GetItem(int index) {
    if (index < 0 || index >= Count()) return nullptr;
    return &mItems[size_t(index)];
}

void TUsersList::SetItem(int index, const TMRLUser* item) {
    guarded("SetItem", 0, [&]() {
        if (index < 0 || !item) return 0;
        const TMRLUser copy = *item; // the record may live in this very list
        while (Count() - 1 < index)
            AddItem();
        TMRLUser& target = mItems[size_t(index)];
        for (int k = 0; k < UserKeyCount; ++k) {
            target.Slots[size_t(k)] = copy.Slots[size_t(k)];
            target.Slots[size_t(k)].Key = UserKeyNames[k];
            target.Slots[size_t(k)].Kind = kindOf(k);
            target.Slots[size_t(k)].StrValue = Cut255(copy.Slots[size_t(k)].StrValue);
        }
        return 0;
    });
}

QString TUsersList::GetSetting(int index, TUserKey key) {
    return guarded("GetSetting", QString(), [&]() {
        if (index < 0 || index >= Count() || key < 0 || key >= UserKeyCount) return QString();
        const TIniKey& slot = mItems[size_t(index)][key];
        switch (slot.Kind) {
        case TIniKind::Boolean:
            return QString(slot.BoolValue ? "-1" : "0");
        case TIniKind::Integer:
            return QString::number(slot.IntValue);
        case TIniKind::String:
            break;
        }
        return slot.StrValue;
    });
}

void TUsersList::PutSetting(int index, TUserKey key, const QString& text) {
    guarded("PutSetting", 0, [&]() {
        if (index < 0 || index >= Count() || key < 0 || key >= UserKeyCount) return 0;
        TIniKey& slot = mItems[size_t(index)][key];
        switch (slot.Kind) {
        case TIniKind::Boolean: {
            bool value = false;
            if (!parseBool(text, &value)) {
                report("PutSetting", "'" + text + "' is not a valid boolean value");
                return 0;
            }
            slot.BoolValue = value;
            break;
        }
        case TIniKind::Integer: {
            int value = 0;
            if (!ParseInteger(text, &value)) {
                report("PutSetting", "'" + text + "' is not a valid integer value");
                return 0;
            }
            slot.IntValue = value;
            break;
        }
        case TIniKind::String:
            slot.SetStr(text);
            break;
        }
        return 0;
    });
}

int TUsersList::SearchItem(const QString& name, const QString& password) {
    return guarded("SearchItem", -1, [&]() {
        const QString wanted = name.toUpper().trimmed();
        if (wanted.isEmpty()) return -1;
        const QString scrambled = password.isEmpty() ? QString() : ScramblePassword(password);
        for (size_t i = 0; i < mItems.size(); ++i) {
            const TMRLUser& user = mItems[i];
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
            const QString path = UserFilePath(mItems[size_t(index)][ukUser].StrValue);
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
        mItems = other->mItems;
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
            TMRLUser user;
            EmptyItem(user);
            for (int k = 0; k < UserKeyCount; ++k) {
                TIniKey& slot = user.Slots[size_t(k)];
                if (slot.Kind == TIniKind::Boolean)
                    slot.BoolValue = ini.ReadBool(UserSection, UserKeyNames[k], true);
                else
                    slot.SetStr(storedText(k, ini.ReadString(UserSection, UserKeyNames[k], {})));
            }
            // A file that names nobody (damaged, or not a user file) is no account.
            if (user[ukUser].StrValue.isEmpty()) {
                report("Load", info.fileName() + ": no user name");
                continue;
            }
            applyGlobalFolders(user, mSettings);
            user.FileName = info.filePath();
            mItems.push_back(user);
        }
        return 0;
    });
}

bool TUsersList::Save() {
    return guarded("Save", false, [this]() {
        bool allWritten = true;
        MakePrivateFolder(UsersFolder());
        for (TMRLUser& user : mItems) {
            if (user[ukUser].StrValue.trimmed().isEmpty()) continue;
            applyGlobalFolders(user, mSettings);
            const QString path = UserFilePath(user[ukUser].StrValue);
            if (path.isEmpty()) {
                report("Save", "invalid user name: " + user[ukUser].StrValue);
                allWritten = false;
                continue;
            }
            TIniFile ini(path);
            for (int k = 0; k < UserKeyCount; ++k) {
                const TIniKey& slot = user.Slots[size_t(k)];
                if (slot.Kind == TIniKind::Boolean)
                    ini.WriteBool(UserSection, UserKeyNames[k], slot.BoolValue);
                else
                    ini.WriteString(UserSection, UserKeyNames[k], storedText(k, slot.StrValue));
            }
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
            const bool owned = std::any_of(mItems.begin(), mItems.end(), [&](const TMRLUser& u) {
                return UserFilePath(u[ukUser].StrValue) == previous;
            });
            QFile old(previous);
            if (!owned && old.exists() && !old.remove())
                report("Save", previous + ": " + old.errorString());
        }
        return allWritten;
    });
}

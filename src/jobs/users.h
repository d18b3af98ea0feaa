#pragma once
// The server's user accounts: a name and a scrambled password that a client presents at log-on,
// and an inbox and outbox folder (the global ones or private ones). Each account is stored in its
// own INI file "USERS/" + name + ".xus", section "USER".
#include "core/record_list.h"
#include "core/settings.h"
#include "core/status.h"

#include <QString>

enum TUserKey {
    ukUser,
    ukPassw,
    ukUseGlobalInbox,
    ukUseGlobalOutbox,
    ukInbox,
    ukOutbox,
    UserKeyCount
};

// "ukUser", "ukPassw", ... in key order.
extern const char* const UserKeyNames[UserKeyCount];

// One account: ukUser, ukPassw, ukInbox, ukOutbox are String slots; ukUseGlobalInbox and
// ukUseGlobalOutbox are Boolean slots (default true).
struct TMRLUser : TSlotRecord<TUserKey, UserKeyCount> {
    // The user file this account was read from or last written to; empty for a new account. Not
    // stored in the file: it lets Save remove the old file of a renamed account.
    QString FileName;
};

class TUsersList : public TRecordList<TMRLUser> {
public:
    TUsersList(TSettings& settings, TStatusSink& status);
    // Removes all records; files are not touched.
    virtual ~TUsersList();
    TUsersList(const TUsersList&) = delete;
    TUsersList& operator=(const TUsersList&) = delete;

    void Clear();
    // Every slot gets its kind and name, values are cleared, both Booleans become true.
    void EmptyItem(TMRLUser& item);
    void AddItem();
    // The record at index, or nullptr outside the list. The list keeps ownership.
    TMRLUser* GetItem(int index);
    // Appends default records until index exists, then copies the record's slots into it (the
    // target keeps its FileName). Negative index or no record: nothing.
    void SetItem(int index, const TMRLUser* item);
    // GetSetting and PutSetting (TRecordList) give and take a slot's text: the Booleans as
    // "-1" and "0", and as "0" false, other numbers true, and the words true and false.
    // Index of the first user named `name` (upper-cased and trimmed) whose scrambled password
    // equals ScramblePassword(password); an empty password looks the user up by name alone. An
    // empty name finds nobody. -1 when none.
    int SearchItem(const QString& name, const QString& password);
    // Removes a record, with its file when deleteFile is set. False outside the list or when the
    // file exists and cannot be deleted (the record then stays).
    bool DeleteItem(int index, bool deleteFile);
    // Replaces all records by copies of the other list's and takes its ItemIndex.
    void CopyFrom(const TUsersList* other);
    // Reads every user file ("USERS/*.xus", plain and not hidden). Without any the list is left
    // as it was. A file that cannot be read or names no user is skipped.
    void Load();
    // Writes the file of every user whose name is not blank. A renamed account's old file is
    // removed once the new one is written, so the old name cannot log on again after a restart.
    // False when any file could not be written (the others are still written).
    bool Save();

    int ItemIndex = -1;

    // AppDir + "USERS/".
    QString UsersFolder() const;
    // The file of a user name: UsersFolder() + the name made safe as a file name + ".xus". A name
    // maps to itself unless it holds '/', '\', ':', '%', control characters or a leading '.', which
    // are written as %XX; an over-long name is shortened and made unique with a hash. Empty for
    // a blank name.
    QString UserFilePath(const QString& userName) const;

private:
    TSettings& mSettings;
};
